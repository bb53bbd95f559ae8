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

  using namespace tlm;
  uint8_t header[kHeaderSize];
  memcpy(header, job->header, kJobHeaderSize);
  memcpy(header + kNonceOffset, prefix.data(), prefix.size());
  if (ntime != job->ntime ||
      !hex_to_bin(nonce, header + kNonceOffset + prefix.size(), kNonceSize - prefix.size()) ||
      !hex_to_bin(solution, header + kSolutionOffset, kHeaderSize - kSolutionOffset)) {
    return reject(20, "malformed share");
  }
  const size_t fixed = sizeof job->solution - kMinerSolutionBytes;
  if (memcmp(header + kSolutionOffset, kSolutionPrefix, sizeof kSolutionPrefix) != 0 ||
      memcmp(header + kSolutionOffset + sizeof kSolutionPrefix, job->solution, fixed) != 0) {
    return reject(20, "malformed share");
  }

  // The share is what the miner chose: its nonce bytes and its solution tail.
  std::string key(reinterpret_cast<const char*>(header + kNonceOffset), kNonceSize);
  key.append(reinterpret_cast<const char*>(header + kTailOffset), kMinerSolutionBytes);
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
