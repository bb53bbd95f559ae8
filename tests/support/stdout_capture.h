// Redirects this process's standard output into a temporary file, to check log lines.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace testing_support {

// Captures from construction until text() (or destruction).
class StdoutCapture {
 public:
  StdoutCapture() : file_(tmpfile()), saved_(dup(1)) {
    fflush(stdout);
    dup2(fileno(file_), 1);
  }
  ~StdoutCapture() {
    restore();
    if (file_ != nullptr) fclose(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Ends the capture and returns what was written.
  std::string text() {
    restore();
    std::string out;
    rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    fclose(file_);
    file_ = nullptr;
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
  }
  FILE* file_;
  int saved_;
};

}  // namespace testing_support
