// The jobs and share targets tlm-testpool hands out, and the lines that carry them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hash/header_layout.h"

namespace testpool {

// Size of the solution's tail that the miner writes (header bytes 1472..1486).
inline constexpr int kMinerSolutionBytes = 15;

struct Job {
  std::string id;
  std::string ntime;        // header bytes 100..103 as hex text
  uint8_t header[tlm::kJobHeaderSize];      // version .. bits, then a zero nonce field
  uint8_t solution[1344];   // the template; the miner's tail is zero
};

// Job number `number` of this run at unix time `now`: a realistic header and a
// solution template whose first bytes make the hash's canonical clearing apply
// (byte 0 >= 7, byte 5 != 0), as on the live network.
Job make_job(uint64_t number, uint32_t now);

// The mining.notify line for `job`, with the clean-jobs flag set.
std::string notify_line(const Job& job);

// target = 6.811298960915873e75 / difficulty as a little-endian 256-bit number,
// all ones when that does not fit in 256 bits. difficulty must be positive.
void difficulty_to_target(double difficulty, uint8_t target[32]);

// The mining.set_target line for a little-endian target.
std::string set_target_line(const uint8_t target[32]);

}  // namespace testpool
