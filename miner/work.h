// One mining job as the miner needs it: everything to build the 1487-byte block
// header, the share target, and the pool strings echoed back with a share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hash/header_layout.h"

namespace tlm {

struct Work {
  // Publication number from the pool client, 1 for the first job of the process and
  // never reused; 0 means "no job" to the miner.
  uint64_t seq = 0;
  std::string job_id;  // as received; echoed in a share submission
  std::string ntime;   // the job's time field as received hex text; echoed unchanged
  // Header bytes 0..139 in hash order. The first extranonce1.size() bytes of the
  // nonce field (108..139) hold the pool's prefix; the rest are zero.
  uint8_t header[kJobHeaderSize] = {};
  uint8_t solution[kSolutionSize] = {};       // the job's solution template
  std::vector<uint8_t> extranonce1;  // the pool's nonce prefix, 1..7 bytes
  // Share target, little-endian (byte 31 most significant); a hash meets it when
  // it is less than or equal to it, read the same way.
  uint8_t target[32] = {};
  bool clean = false;  // the pool's clean-jobs flag
};

}  // namespace tlm
