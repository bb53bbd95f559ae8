// The jobs and share targets tlm-testpool hands out, and the lines that carry them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hash/header_layout.h"

namespace testpool {

// Size of the solution's tail that the miner writes (header bytes 1472..1486).
inline constexpr size_t kMinerSolutionBytes = tlm::kHeaderSize - tlm::kTailOffset;

struct Job {
  std::string id;
  std::string ntime;                      // the time field as hex text
  uint8_t header[tlm::kJobHeaderSize];    // version .. bits, then a zero nonce field
  uint8_t solution[tlm::kSolutionSize];   // the template; the miner's tail is zero
};

// Job number `number` of this run at unix time `now`: a made-up header
// (tlm::sample_header) with this version, time and bits, and its solution as the
// template.
Job make_job(uint64_t number, uint32_t now);

// The mining.notify line for `job`, with the clean-jobs flag set.
std::string notify_line(const Job& job);

// target = 6.811298960915873e75 / difficulty as a little-endian 256-bit number,
// all ones when that does not fit in 256 bits. difficulty must be positive.
void difficulty_to_target(double difficulty, uint8_t target[32]);

// The mining.set_target line for a little-endian target.
std::string set_target_line(const uint8_t target[32]);

}  // namespace testpool
