#include "stratum/share_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

namespace tlm {

ShareQueue::ShareQueue() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ShareQueue::~ShareQueue() {
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void ShareQueue::push(Share s) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s.seq < first_seq_) {
      ++drops_.ended;
      ++dropped_;
    } else if (queue_.size() >= kBound) {
      queue_.pop_front();  // the oldest is the most likely to be stale
      ++drops_.full;
      ++dropped_;
      queue_.push_back(std::move(s));
    } else {
      queue_.push_back(std::move(s));
    }
  }
  wake();  // also for a drop, so that it is reported soon
}

void ShareQueue::wake() {
  const uint64_t one = 1;
  // Fails only when the counter is near 2^64, and then it is readable anyway.
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void ShareQueue::clear_wake() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = read(wake_fd_, &count, sizeof count);
}

void ShareQueue::open(uint64_t first_seq) {
  std::lock_guard<std::mutex> lock(mutex_);
  first_seq_ = first_seq;
}

void ShareQueue::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  first_seq_ = UINT64_MAX;
  drops_.ended += queue_.size();
  dropped_ += queue_.size();
  queue_.clear();
}

bool ShareQueue::pop(Share& s) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return false;
  s = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void ShareQueue::drop_taken() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++drops_.ended;
  ++dropped_;
}

bool ShareQueue::empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.empty();
}

ShareQueue::Drops ShareQueue::take_drops() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(drops_, Drops{});
}

uint64_t ShareQueue::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace tlm
