#include "miner/search.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace tlm {

namespace {

// The same search: whatever goes into the header or the submission is unchanged.
bool same_search(const Work& a, const Work& b) {
  return a.job_id == b.job_id && a.ntime == b.ntime && a.extranonce1 == b.extranonce1 &&
         std::equal(std::begin(a.header), std::end(a.header), std::begin(b.header)) &&
         std::equal(std::begin(a.solution), std::end(a.solution), std::begin(b.solution));
}

}  // namespace

bool Search::take(std::shared_ptr<const Work> w) {
  const bool same = job_ && same_search(*job_, *w);
  job_ = std::move(w);
  if (same) return false;
  next_range();
  return true;
}

bool Search::refresh_if_exhausted(uint32_t batch) {
  if (position <= UINT32_MAX - batch) return false;
  next_range();
  return true;
}

void Search::next_range() {
  const Work& w = *job_;
  build_nonce(std::data(w.header) + kNonceOffset, w.extranonce1.size(), ranges_.fetch_add(1), nonce_);
  build_header(std::data(w.header), std::data(w.solution), nonce_, hdr_);
  position = 0;
}

}  // namespace tlm
