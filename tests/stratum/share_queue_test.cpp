// The queue between the mining threads and the connection thread: which shares it
// keeps, which it drops and why, and when its descriptor wakes the connection.
#include <poll.h>

#include <gtest/gtest.h>

#include <string>

#include "stratum/share_queue.h"

namespace {

using tlm::ShareQueue;

bool readable(const ShareQueue& q) {
  pollfd p{q.fd(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

std::string pop(ShareQueue& q) {
  tlm::Share s;
  return q.pop(s) ? s.job_id : "none";
}

TEST(ShareQueue, KeepsTheNewestSharesOfTheOpenConnection) {
  ShareQueue q;
  const auto push = [&](uint64_t seq, const std::string& job) { q.push({seq, job, "5f5e1000", {1}, {2}}); };
  push(1, "before any connection");
  q.open(5);
  push(4, "mined for the last connection");
  EXPECT_TRUE(readable(q));  // a drop wakes the connection thread too, to report it
  q.clear_wake();
  EXPECT_FALSE(readable(q));
  for (size_t i = 0; i < ShareQueue::kBound + 2; ++i) push(5 + i % 2, std::to_string(i));
  EXPECT_TRUE(readable(q));
  const ShareQueue::Drops d = q.take_drops();
  EXPECT_EQ(d.ended, 2u);
  EXPECT_EQ(d.full, 2u);  // the two oldest went
  EXPECT_EQ(pop(q), "2");
  EXPECT_EQ(pop(q), "3");
  // A share taken for sending that its connection could not take in full.
  q.drop_taken();
  q.close();  // the other 254 go with their connection
  push(6, "after the close");
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(pop(q), "none");
  const ShareQueue::Drops after = q.take_drops();
  EXPECT_EQ(after.ended, 1u + 254u + 1u);
  EXPECT_EQ(after.full, 0u);
  EXPECT_EQ(q.take_drops().ended, 0u);  // taken once
  EXPECT_EQ(q.dropped(), 2u + 2u + 256u);
}

}  // namespace
