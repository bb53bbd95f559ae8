// The mining threads with the real engine, handing shares to a sink of the test's
// own: no pool client is needed to drive the miner.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "miner/miner.h"

namespace {

using namespace tlm;

// Collects the shares; the 16th and the 24th withdraw the job from within the
// mining thread.
class Collector : public ShareSink {
 public:
  void submit(Share share) override {
    std::lock_guard<std::mutex> lock(mutex);
    shares.push_back(std::move(share));
    if (shares.size() == 16 || shares.size() == 24) miner->withdraw();
    changed.notify_all();
  }
  bool wait_for(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return shares.size() >= n; });
  }
  Miner* miner = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Share> shares;
};

// Jobs are mined in batches of 8 (one lane) and every nonce is a share (the target
// is all ones). A job set before start gives two batches, then a withdrawn job
// stops the hashing at the end of the batch in progress; the next job starts the
// next range of the nonce space and gives one batch.
TEST(MinerLifecycle, SharesReachTheSinkUntilTheJobIsWithdrawn) {
  tlm_engine_global_init();
  Collector sink;
  Miner miner(&sink);
  sink.miner = &miner;
  size_t found_reported = 0;
  miner.on_found = [&](double difficulty) {
    EXPECT_GT(difficulty, 0);
    std::lock_guard<std::mutex> lock(sink.mutex);
    EXPECT_EQ(sink.shares.size(), found_reported++);  // reported before it is handed over
  };
  Work w;
  w.seq = 7;
  w.job_id = "j";
  w.ntime = "00000000";
  w.extranonce1 = {0xAA, 0xBB};
  w.header[108] = 0xAA;
  w.header[109] = 0xBB;
  memset(w.target, 0xFF, sizeof w.target);
  miner.set_work(w);
  ASSERT_TRUE(miner.start(1, 1));
  ASSERT_TRUE(sink.wait_for(16, std::chrono::seconds(20)));
  EXPECT_FALSE(miner.has_work());
  w.seq = 8;
  w.job_id = "k";
  miner.set_work(w);
  ASSERT_TRUE(sink.wait_for(24, std::chrono::seconds(20)));
  EXPECT_FALSE(sink.wait_for(25, std::chrono::milliseconds(300)));  // never comes
  miner.stop();
  EXPECT_EQ(miner.hashes(), 24u);
  EXPECT_EQ(miner.found(), 24u);

  std::lock_guard<std::mutex> lock(sink.mutex);
  for (uint32_t i = 0; i < 24; ++i) {
    const Share& s = sink.shares[i];
    const uint8_t range = i < 16 ? 0 : 1;
    EXPECT_EQ(s.seq, range == 0 ? 7u : 8u);
    EXPECT_EQ(s.job_id, range == 0 ? "j" : "k");
    EXPECT_EQ(s.ntime, "00000000");
    std::vector<uint8_t> nonce(30, 0);  // the bytes after the prefix
    nonce[18] = range;
    EXPECT_EQ(s.nonce, nonce);
    ASSERT_EQ(s.solution.size(), 1347u);
    EXPECT_EQ(s.solution[0], 0xFD);
    // The solution tail: nonce bytes 0..6 (the prefix first) and 20..23, then the
    // engine nonce, counting from 0 in each range.
    EXPECT_EQ(std::vector<uint8_t>(s.solution.end() - 15, s.solution.end()),
              (std::vector<uint8_t>{0xAA, 0xBB, 0, 0, 0, 0, 0, range, 0, 0, 0, uint8_t(i % 16), 0, 0, 0}));
  }
}

}  // namespace
