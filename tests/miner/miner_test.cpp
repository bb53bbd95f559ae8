// The mining threads with the real engine, submitting through a real pool client to
// a scripted pool on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "miner/miner.h"
#include "stratum/stratum.h"
#include "tests/support/loopback_server.h"

namespace {

using namespace tlm;
using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

class EngineReady : public testing::Environment {
 public:
  void SetUp() override { tlm_engine_global_init(); }
};
const auto* const kEngine = testing::AddGlobalTestEnvironment(new EngineReady);

// Waits up to `ms` for `done`.
template <typename Pred>
bool eventually(Pred done, int ms = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Work easy_work(uint64_t seq) {
  Work w;
  w.seq = seq;
  w.job_id = "j";
  w.ntime = "00000000";
  w.extranonce1 = {0xAA};
  w.header[108] = 0xAA;
  memset(w.target, 0xFF, sizeof w.target);  // every hash is a share
  w.clean = true;
  return w;
}

TEST(MinerLifecycle, ZeroThreadsAndRepeatedStop) {
  Miner miner(nullptr);
  miner.start(0, 8);
  EXPECT_EQ(miner.hashes(), 0u);
  miner.stop();
  miner.stop();
  EXPECT_EQ(miner.hashes(), 0u);
}

TEST(MinerLifecycle, LaneCountOutsideTheEngineRangeStillMines) {
  Stratum offline;
  Miner miner(&offline);
  miner.set_work(easy_work(7));
  miner.start(1, 0);  // the engine makes it 1 lane: batches of 8
  ASSERT_TRUE(eventually([&] { return miner.hashes() >= 16; }));
  miner.stop();
  EXPECT_EQ(miner.hashes() % 8, 0u);
}

TEST(MinerLifecycle, JobSetBeforeStartIsMinedAndWithdrawnJobStopsHashing) {
  Stratum offline;  // never started: every submission is dropped
  Miner miner(&offline);
  std::atomic<int> found{0};
  miner.on_found = [&](double) { ++found; };
  miner.set_work(easy_work(1));
  miner.start(2, 1);
  // Every hash is a share, but none can be sent, so none is reported found.
  ASSERT_TRUE(eventually([&] { return miner.hashes() >= 64; }));
  EXPECT_EQ(found, 0);

  // Withdrawing the job sends every thread to wait at the end of its batch.
  miner.current_seq.store(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint64_t idle = miner.hashes();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(miner.hashes(), idle);
  miner.stop();
  miner.stop();
}

// One share as the pool receives it.
struct Submitted {
  std::string job_id, nonce, solution;
  int refresh_byte() const { return std::stoi(nonce.substr(2 * (23 - 2), 2), nullptr, 16); }
  int thread() const { return std::stoi(nonce.substr(2 * (21 - 2), 2) + nonce.substr(2 * (20 - 2), 2), nullptr, 16); }
  uint32_t engine_nonce() const {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | std::stoul(solution.substr(solution.size() - 8 + 2 * i, 2), nullptr, 16);
    return v;
  }
};

bool read_submit(LoopbackPeer& peer, Submitted& s) {
  static const std::regex kSubmit(
      R"re(\{"id":\d+,"method":"mining.submit","params":\["W","([^"]*)","00000000","([0-9a-f]*)","([0-9a-f]*)"\]\})re");
  std::string line;
  std::smatch m;
  while (peer.read_line(line, 20000))
    if (std::regex_match(line, m, kSubmit)) {
      s = {m[1], m[2], m[3]};
      return true;
    }
  return false;
}

TEST(MinerShares, RepublishedJobRestartsEachThreadAtNonceZeroWithNewRefreshByte) {
  LoopbackServer server;
  Stratum stratum;
  Miner miner(&stratum);
  // The pool client calls into the miner, so it stops first on every way out.
  struct StopPoolFirst {
    Stratum& pool;
    ~StopPoolFirst() { pool.stop(); }
  } stop_pool_first{stratum};
  stratum.on_work = [&](const Work& w) { miner.set_work(w); };
  std::atomic<int> found{0};
  std::atomic<bool> positive{true};
  miner.on_found = [&](double difficulty) {
    if (!(difficulty > 0)) positive = false;
    ++found;
  };
  miner.start(2, 1);  // batches of 8 nonces
  stratum.start({"127.0.0.1", server.port(), "W", "x", "test"});
  LoopbackPeer peer = server.accept();
  ASSERT_TRUE(peer.valid());
  const std::string zeros64(64, '0');
  peer.send("{\"id\":1,\"result\":[null,\"abcd\"]}\n");
  peer.send("{\"method\":\"mining.set_target\",\"params\":[\"" + std::string(64, 'f') + "\"]}\n");
  peer.send("{\"method\":\"mining.notify\",\"params\":[\"j1\",\"04000100\",\"" + zeros64 + "\",\"" + zeros64 +
            "\",\"" + zeros64 + "\",\"00000000\",\"1d00ffff\",true,\"01\"]}\n");

  Submitted s;
  ASSERT_TRUE(read_submit(peer, s));
  EXPECT_EQ(s.job_id, "j1");
  EXPECT_EQ(s.nonce.size(), 60u);  // 32 bytes minus the 2-byte prefix
  EXPECT_EQ(s.solution.size(), 2694u);
  EXPECT_EQ(s.solution.substr(0, 8), "fd400501");
  EXPECT_EQ(s.refresh_byte(), 1);
  // Sequence bytes follow the prefix: seq 1 in bytes 2..6.
  EXPECT_EQ(s.nonce.substr(0, 10), "0100000000");
  EXPECT_TRUE(eventually([&] { return found > 0; }));
  EXPECT_TRUE(positive);

  // The same job again (a target update) is publication 2.
  peer.send("{\"method\":\"mining.set_target\",\"params\":[\"" + std::string(64, 'f') + "\"]}\n");
  std::map<int, uint32_t> first_nonce;  // per thread, first share of publication 2
  while (first_nonce.size() < 2 && read_submit(peer, s)) {
    EXPECT_EQ(s.job_id, "j1");
    if (s.refresh_byte() == 2 && !first_nonce.count(s.thread())) first_nonce[s.thread()] = s.engine_nonce();
  }
  // Closing our end first fails a send blocked on a full socket at once.
  peer.close();
  stratum.stop();
  miner.stop();
  ASSERT_EQ(first_nonce.size(), 2u);
  EXPECT_LT(first_nonce[0], 8u);
  EXPECT_LT(first_nonce[1], 8u);
}

}  // namespace
