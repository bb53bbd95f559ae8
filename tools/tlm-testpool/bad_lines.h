// What a misbehaving pool sends, for tlm-testpool's fault modes: junk lines,
// jobs that break one rule each, and a line longer than any client should keep.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/tlm-testpool/job.h"

namespace testpool {

// The n-th of a cycle of lines that a sound client ignores without a change of
// state: not JSON, wrong shapes, NUL bytes, invalid UTF-8, huge numbers, deep
// nesting, replies to requests it never made.
const std::string& junk_line(size_t n);

// mining.notify lines for `job` that each break one rule of a job (a field's
// length, a non-hex digit, the solution's size, a parameter's type), all under
// the job id "bad-" + job.id, and one with too few parameters. A sound miner
// drops every one of them and keeps mining `job`.
std::vector<std::string> broken_notify_lines(const Job& job);

// A line without end, past the 1 MiB a client keeps.
std::string overlong_line();

}  // namespace testpool
