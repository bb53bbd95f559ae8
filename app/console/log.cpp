#include "app/console/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "app/console/printable.h"

namespace tlm {

bool g_color = false;

namespace {

// About 1 MiB of the longest lines; a reader that stalls longer loses lines.
constexpr size_t kQueueLines = 1000;

// One log line as standard output shows it and as the log file keeps it.
struct Line {
  std::string out;
  std::string plain;
};

Line format_line(const char* color, const char* msg) {
  char stamp[32];
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string text = printable(msg);
  std::string plain = std::string("[") + stamp + "] " + text + "\n";
  if (!g_color) return {plain, plain};
  return {std::string(kMuted) + "[" + stamp + "]" + kReset + " " + color + text + kReset + "\n", plain};
}

// The message of a printf format, cut at 1023 bytes.
std::string format_message(const char* fmt, va_list args) {
  char msg[1024];
  vsnprintf(msg, sizeof msg, fmt, args);
  return msg;
}

// Writes all of `text` to `fd`; errors (a closed pipe, a full disk) drop the rest.
void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The log file: its path, and the descriptor that rotation swaps.
class LogFile {
 public:
  std::string open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    return open_path();
  }

  std::string reopen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_.empty() ? "" : open_path();
  }

  void write(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) write_all(fd_, text);
  }

 private:
  // O_NOFOLLOW refuses a link, O_NONBLOCK keeps a FIFO from holding the open, and
  // what opens is kept only when it is a regular file.
  std::string open_path() {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
    if (fd < 0 && errno == ELOOP) return "it is a symbolic link";
    // A FIFO without a reader, a socket and a directory refuse a non-blocking writer.
    if (fd < 0 && (errno == ENXIO || errno == EISDIR)) return "it is not a regular file";
    if (fd < 0) return strerror(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return "it is not a regular file";
    }
    fcntl(fd, F_SETFL, O_APPEND);
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    return "";
  }

  std::mutex mutex_;
  std::string path_;
  int fd_ = -1;
};

// Never destroyed: the detached writer may outlive main.
LogFile& log_file() {
  static LogFile* f = new LogFile;
  return *f;
}

// Standard output first: the file never holds a line the terminal did not get.
void write_line(const Line& line) {
  write_all(1, line.out);
  log_file().write(line.plain);
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
  bool push(Line line) {
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
      std::deque<Line> batch;
      batch.swap(lines_);
      const unsigned long long dropped = dropped_;
      dropped_ = 0;
      writing_ = true;
      lock.unlock();
      Line text;
      for (const Line& l : batch) {
        text.out += l.out;
        text.plain += l.plain;
      }
      if (dropped > 0) {
        char msg[96];
        snprintf(msg, sizeof msg, "%llu log lines dropped while the output was blocked", dropped);
        const Line note = format_line(kBad, msg);
        text.out += note.out;
        text.plain += note.plain;
      }
      write_line(text);
      lock.lock();
      writing_ = false;
      if (lines_.empty()) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Line> lines_;
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
  const Line line = format_line(color, msg.c_str());
  if (queue().push(line)) return;
  // Start-up, or a test without the writer: no other thread logs yet.
  static std::mutex direct;
  std::lock_guard<std::mutex> lock(direct);
  fflush(stdout);
  write_line(line);
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

std::string open_log_file(const std::string& path) { return log_file().open(path); }

std::string reopen_log_file() { return log_file().reopen(); }

}  // namespace tlm
