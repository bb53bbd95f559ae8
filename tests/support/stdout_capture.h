// Captures this process's standard output, to check log lines.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/text_match.h"

namespace testing_support {

// Runs `f` with standard output going to a temporary file and returns what it
// wrote, with every log time stamp ("2026-12-06 10:00:00") written as "T".
inline std::string log_of(const std::function<void()>& f) {
  fflush(stdout);
  FILE* file = tmpfile();
  const int saved = dup(1);
  dup2(fileno(file), 1);
  f();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  rewind(file);
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, file)) > 0;) out.append(buf, n);
  fclose(file);
  return replace_all(out, R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)", "T");
}

}  // namespace testing_support
