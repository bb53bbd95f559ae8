#include "app/console.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace ilvo {

bool g_color = true;
std::mutex g_log_mutex;

void logf(const char* color, const char* fmt, ...) {
  char msg[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(msg, sizeof msg, fmt, args);
  va_end(args);

  // Formatted before taking the lock, so the conversion must be the thread-safe one.
  char stamp[32];
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (g_color)
    printf("%s[%s]%s %s%s%s\n", kMuted, stamp, kReset, color, msg, kReset);
  else
    printf("%s[%s]%s %s%s%s\n", "", stamp, "", "", msg, "");
  fflush(stdout);
}

namespace {

std::string scaled(double v, const char* const formats[4]) {
  char buf[64];
  if (v >= 1e9)
    snprintf(buf, sizeof buf, formats[0], v / 1e9);
  else if (v >= 1e6)
    snprintf(buf, sizeof buf, formats[1], v / 1e6);
  else if (v >= 1000)
    snprintf(buf, sizeof buf, formats[2], v / 1000);
  else
    snprintf(buf, sizeof buf, formats[3], v);
  return buf;
}

}  // namespace

std::string fmt_rate(double hashes_per_second) {
  static const char* const formats[4] = {"%.2f GH/s", "%.2f MH/s", "%.2f kH/s", "%.0f H/s"};
  return scaled(hashes_per_second, formats);
}

std::string fmt_diff(double difficulty) {
  static const char* const formats[4] = {"%.2fG", "%.2fM", "%.2fk", "%.2f"};
  return scaled(difficulty, formats);
}

}  // namespace ilvo
