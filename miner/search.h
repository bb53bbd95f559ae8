// A mining thread's place in the nonce space: the job it searches, its working
// header and the next engine nonce.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "miner/job_header.h"
#include "miner/work.h"

namespace tlm {

class Search {
 public:
  // `ranges` hands out ranges of 2^32 engine nonces; shared by every thread of a
  // miner, so no two threads, jobs or refreshes ever hash the same header.
  explicit Search(std::atomic<uint64_t>& ranges) : ranges_(ranges) {}

  // Makes `w` the job searched. A republication of the job being searched (only
  // seq and target differ) keeps header and position and returns false; anything
  // else starts a fresh range and returns true: the engine must be set up again.
  bool take(std::shared_ptr<const Work> w);
  // Starts a fresh range when a batch of `batch` nonces from the position would
  // pass 2^32 - 1; true when it did (the engine must be set up again).
  bool refresh_if_exhausted(uint32_t batch);

  const Work& job() const { return *job_; }
  const uint8_t* nonce() const { return nonce_; }
  uint8_t* header() { return hdr_; }
  uint32_t position = 0;  // the next engine nonce to scan

 private:
  void next_range();

  std::atomic<uint64_t>& ranges_;
  std::shared_ptr<const Work> job_;
  uint8_t nonce_[kNonceSize] = {};
  uint8_t hdr_[kHeaderSize] = {};
};

}  // namespace tlm
