#include "tools/tlm-testpool/share_check.h"

#include <cstring>

#include "hash/hex.h"
#include "miner/target.h"

namespace testpool {

namespace {

Verdict reject(int code, const char* reason) {
  Verdict v;
  v.code = code;
  v.reason = reason;
  return v;
}

}  // namespace

Verdict check_share(const Job* job, const std::vector<uint8_t>& prefix, const std::string& ntime,
                    const std::string& nonce, const std::string& solution, const uint8_t target[32], HashFn hash,
                    std::set<std::string>& seen) {
  if (job == nullptr) return reject(21, "job not found");

  uint8_t header[1487];
  memcpy(header, job->header, 140);
  memcpy(header + 108, prefix.data(), prefix.size());
  const size_t nonce_bytes = 32 - prefix.size();
  if (ntime != job->ntime || !tlm::hex_to_bin(nonce, header + 108 + prefix.size(), nonce_bytes) ||
      !tlm::hex_to_bin(solution, header + 140, 1347)) {
    return reject(20, "malformed share");
  }
  static const uint8_t kLengthPrefix[3] = {0xfd, 0x40, 0x05};
  const size_t fixed = sizeof job->solution - kMinerSolutionBytes;
  if (memcmp(header + 140, kLengthPrefix, 3) != 0 || memcmp(header + 143, job->solution, fixed) != 0) {
    return reject(20, "malformed share");
  }

  // The share is what the miner chose: its nonce bytes and its solution tail.
  std::string key(reinterpret_cast<const char*>(header + 108), 32);
  key.append(reinterpret_cast<const char*>(header + 1472), kMinerSolutionBytes);
  if (!seen.insert(key).second) return reject(22, "duplicate share");

  Verdict v;
  hash(v.hash, header);
  if (tlm::meets_target(v.hash, target)) {
    v.accepted = true;
  } else {
    v.code = 23;
    v.reason = "low difficulty share";
  }
  return v;
}

}  // namespace testpool
