#include "app/console/formats.h"

#include <cstdio>

namespace tlm {

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

std::string fmt_uptime(double seconds) {
  const long long s = static_cast<long long>(seconds);
  char buf[64];
  snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

std::string fmt_window_rate(double hashes_per_second, double uptime, double window) {
  return uptime >= window ? fmt_rate(hashes_per_second) : "n/a";
}

}  // namespace tlm
