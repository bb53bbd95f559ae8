// The checks a pool makes on a mining.submit before it credits the share.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/tlm-testpool/job.h"

namespace testpool {

// The reference VerusHash 2.2 of a whole block header.
using HashFn = void (*)(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]);

struct Verdict {
  bool accepted = false;
  int code = 0;        // Stratum error code when rejected
  std::string reason;  // "low difficulty share", "duplicate share", ...
  uint8_t hash[32] = {};  // the share's hash, when it got as far as hashing
};

// Checks one submission for `job` (null when the job id is unknown) from a
// connection with nonce prefix `prefix`: the time text, the nonce and solution
// texts, that the solution keeps the job's template outside the miner's tail,
// that the share is new (remembered in `seen`) and that its hash meets `target`.
Verdict check_share(const Job* job, const std::vector<uint8_t>& prefix, const std::string& ntime,
                    const std::string& nonce, const std::string& solution, const uint8_t target[32], HashFn hash,
                    std::set<std::string>& seen);

}  // namespace testpool
