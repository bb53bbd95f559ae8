#include "app/console/log.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "app/console/printable.h"

namespace tlm {

bool g_color = true;

namespace {

// About 1 MiB of the longest lines; a reader that stalls longer loses lines.
constexpr size_t kQueueLines = 1000;

std::string format_line(const char* color, const char* msg) {
  char stamp[32];
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string text = printable(msg);
  if (!g_color) return std::string("[") + stamp + "] " + text + "\n";
  return std::string(kMuted) + "[" + stamp + "]" + kReset + " " + color + text + kReset + "\n";
}

// The message of a printf format, cut at 1023 bytes.
std::string format_message(const char* fmt, va_list args) {
  char msg[1024];
  vsnprintf(msg, sizeof msg, fmt, args);
  return msg;
}

// Writes all of `text` to standard output; errors (a closed pipe) drop the rest.
void write_out(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(1, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

class LogQueue {
 public:
  void start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return;
    started_ = true;
    std::thread([this] { drain(); }).detach();
  }

  // False before start(): the caller writes the line itself.
  bool push(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) return false;
    if (lines_.size() >= kQueueLines) {
      ++dropped_;
    } else {
      lines_.push_back(std::move(line));
      wake_.notify_one();
    }
    return true;
  }

  bool flush(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return lines_.empty() && !writing_; });
  }

 private:
  void drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !lines_.empty(); });
      std::deque<std::string> batch;
      batch.swap(lines_);
      const unsigned long long dropped = dropped_;
      dropped_ = 0;
      writing_ = true;
      lock.unlock();
      std::string text;
      for (const std::string& l : batch) text += l;
      if (dropped > 0) {
        char msg[96];
        snprintf(msg, sizeof msg, "%llu log lines dropped while the output was blocked", dropped);
        text += format_line(kBad, msg);
      }
      write_out(text);
      lock.lock();
      writing_ = false;
      if (lines_.empty()) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::string> lines_;
  unsigned long long dropped_ = 0;
  bool started_ = false;
  bool writing_ = false;
};

// Never destroyed: the detached writer may outlive main.
LogQueue& queue() {
  static LogQueue* q = new LogQueue;
  return *q;
}

}  // namespace

void log_line(const char* color, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string msg = format_message(fmt, args);
  va_end(args);
  std::string line = format_line(color, msg.c_str());
  if (queue().push(line)) return;
  // Start-up, or a test without the writer: no other thread logs yet.
  static std::mutex direct;
  std::lock_guard<std::mutex> lock(direct);
  fflush(stdout);
  write_out(line);
}

void print_error(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string msg = format_message(fmt, args);
  va_end(args);
  fprintf(stderr, "%s\n", printable(msg).c_str());
}

void start_log_writer() {
  fflush(stdout);
  queue().start();
}

bool flush_log(std::chrono::milliseconds limit) { return queue().flush(limit); }

}  // namespace tlm
