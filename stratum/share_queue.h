// Shares on their way from the mining threads to the connection thread: bounded,
// open only to the shares of the connection that is up, with a descriptor the
// connection thread polls to learn of new ones.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "miner/share_sink.h"

namespace tlm {

class ShareQueue {
 public:
  // Shares held while the socket takes no more. A pool answers in milliseconds and
  // a share is worth little after a few minutes; 256 covers minutes of shares at
  // any sensible share rate, and at about 1.5 KiB each bounds memory to 400 KiB.
  static constexpr size_t kBound = 256;

  // Shares dropped since the last take_drops, by cause.
  struct Drops {
    uint64_t full = 0;   // the queue overflowed: the oldest went
    uint64_t ended = 0;  // their connection ended (or the client stopped) first
  };

  ShareQueue();  // creates the wake-up descriptor
  ~ShareQueue();
  ShareQueue(const ShareQueue&) = delete;
  ShareQueue& operator=(const ShareQueue&) = delete;

  // Readable after a push or a wake; the connection thread polls it.
  int fd() const { return wake_fd_; }
  // Any thread, never blocks: queues `s` when it was mined on the open connection
  // (seq >= the one given to open), otherwise drops it.
  void push(Share s);
  // Makes fd() readable, to get the connection thread out of poll.
  void wake();
  // Connection thread: empties fd() after poll reported it readable.
  void clear_wake();
  // Connection thread: accepts shares of publications from `first_seq` on.
  void open(uint64_t first_seq);
  // Connection thread: drops every queued share and accepts none until open.
  void close();
  // Connection thread: takes the oldest share; false when there is none.
  bool pop(Share& s);
  bool empty() const;
  // Connection thread: counts a popped share that its connection could not take in
  // full as dropped with the queued ones.
  void drop_taken();

  Drops take_drops();
  uint64_t dropped() const;  // all shares dropped so far

 private:
  const int wake_fd_;
  mutable std::mutex mutex_;
  std::deque<Share> queue_;
  uint64_t first_seq_ = UINT64_MAX;  // nothing is accepted before open
  Drops drops_;
  uint64_t dropped_ = 0;
};

}  // namespace tlm
