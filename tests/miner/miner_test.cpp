// The mining threads with the real engine, handing shares to a sink of the test's
// own: no pool client is needed to drive the miner.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "miner/miner.h"

namespace {

using namespace tlm;

class EngineReady : public testing::Environment {
 public:
  void SetUp() override { tlm_engine_global_init(); }
};
const auto* const kEngine = testing::AddGlobalTestEnvironment(new EngineReady);

class Collector : public ShareSink {
 public:
  void submit(Share share) override {
    std::lock_guard<std::mutex> lock(mutex);
    shares.push_back(std::move(share));
    changed.notify_all();
  }
  bool wait_for(size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return shares.size() >= n; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Share> shares;
};

Work easy_work(uint64_t seq) {
  Work w;
  w.seq = seq;
  w.job_id = "j";
  w.ntime = "00000000";
  w.extranonce1 = {0xAA, 0xBB};
  w.header[108] = 0xAA;
  w.header[109] = 0xBB;
  memset(w.target, 0xFF, sizeof w.target);  // every hash is a share
  return w;
}

TEST(MinerLifecycle, ZeroThreadsAndRepeatedStop) {
  Miner miner(nullptr);
  EXPECT_TRUE(miner.start(0, 8));
  EXPECT_EQ(miner.hashes(), 0u);
  miner.stop();
  miner.stop();
  EXPECT_EQ(miner.hashes(), 0u);
}

// A job set before start is mined (with a lane count the engine clamps to 1), every
// share reaches the sink in the form a submission needs, and a withdrawn job stops
// the hashing at the end of the batch.
TEST(MinerLifecycle, SharesReachTheSinkUntilTheJobIsWithdrawn) {
  Collector sink;
  Miner miner(&sink);
  size_t found_reported = 0;
  miner.on_found = [&](double difficulty) {
    EXPECT_GT(difficulty, 0);
    std::lock_guard<std::mutex> lock(sink.mutex);
    EXPECT_EQ(sink.shares.size(), found_reported++);  // reported before it is handed over
  };
  miner.set_work(easy_work(7));
  ASSERT_TRUE(miner.start(1, 0));
  ASSERT_TRUE(sink.wait_for(16));
  miner.withdraw();
  EXPECT_FALSE(miner.has_work());
  const uint64_t before = miner.hashes();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const uint64_t idle = miner.hashes();
  EXPECT_LE(idle - before, 8u);  // at most the batch in progress
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(miner.hashes(), idle);
  miner.stop();
  EXPECT_EQ(miner.hashes() % 8, 0u);

  std::lock_guard<std::mutex> lock(sink.mutex);
  EXPECT_EQ(miner.found(), sink.shares.size());
  const Share& s = sink.shares[0];
  EXPECT_EQ(s.seq, 7u);
  EXPECT_EQ(s.job_id, "j");
  EXPECT_EQ(s.ntime, "00000000");
  EXPECT_EQ(s.nonce.size(), 30u);
  ASSERT_EQ(s.solution.size(), 1347u);
  EXPECT_EQ(s.solution[0], 0xFD);
  // The solution tail repeats nonce bytes 0..6 and 20..23 (the prefix first).
  EXPECT_EQ(s.solution[1332], 0xAA);
  EXPECT_EQ(s.solution[1333], 0xBB);
  EXPECT_TRUE(std::equal(s.nonce.begin() + 18, s.nonce.begin() + 22, s.solution.begin() + 1339));
}

}  // namespace
