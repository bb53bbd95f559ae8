// tlm-testpool as a miner meets it: a real process on a loopback port, driven by
// the pool client, with shares found by brute force with the reference hash.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hash/verushash.h"
#include "json/json.h"
#include "stratum/hex.h"
#include "stratum/stratum.h"
#include "tests/stratum/recorder.h"
#include "tests/support/child.h"
#include "tests/support/process.h"
#include "tools/tlm-testpool/job.h"
#include "tools/tlm-testpool/share_check.h"

namespace {

using namespace std::chrono_literals;
using stratum_test::Recorder;
using testing_support::Child;

// A running tlm-testpool with the given options, on a port it picked itself.
struct TestPool {
  explicit TestPool(std::vector<std::string> args) : process(command(std::move(args))) {
    std::string line;
    unsigned p = 0;
    if (process.read_line(line, 5000) && sscanf(line.c_str(), "listening on 127.0.0.1:%u", &p) == 1) {
      port = static_cast<uint16_t>(p);
    }
  }

  static std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), {TLM_TESTPOOL_BINARY, "--port", "0"});
    return args;
  }

  Child process;
  uint16_t port = 0;
};

tlm::Stratum::Timing fast_timing() {
  tlm::Stratum::Timing t;
  t.tick = 1ms;
  t.silence = 500ms;
  return t;
}

tlm::Stratum::Config config(uint16_t port) {
  return tlm::Stratum::Config{"127.0.0.1", port, "RTestWallet.rig1", "x", "Ilvo Varnel TLM/1.1.0", false, {}};
}

// A share as the miner builds it: the job's header with the prefix, its own
// nonce bytes, the length prefix and the solution with its own last 15 bytes.
struct Share {
  uint8_t header[1487];
  uint8_t hash[32];
  size_t prefix_size;

  std::vector<uint8_t> nonce() const { return {header + 108 + prefix_size, header + 140}; }
  std::vector<uint8_t> solution() const { return {header + 140, header + 1487}; }
  void rehash() { vh_oracle(hash, header); }
};

std::vector<uint8_t> longer(std::vector<uint8_t> v) {
  v.push_back(0);
  return v;
}

// The first share from `counter` on whose hash meets the target (or, with
// `meeting` false, does not meet it).
Share find_share(const tlm::Work& w, uint32_t& counter, bool meeting) {
  Share s;
  s.prefix_size = w.extranonce1.size();
  memcpy(s.header, w.header, 140);
  const uint8_t length_prefix[3] = {0xfd, 0x40, 0x05};
  memcpy(s.header + 140, length_prefix, 3);
  memcpy(s.header + 143, w.solution, 1344);
  for (int tries = 0; tries < 2000; ++tries) {
    ++counter;
    memcpy(s.header + 1483, &counter, 4);
    memcpy(s.header + 136, &counter, 4);
    s.rehash();
    if (testpool::meets_target(s.hash, w.target) == meeting) return s;
  }
  ADD_FAILURE() << "no share found";
  return s;
}

TEST(TestPoolJobs, TargetsFromDifficultyAndJobLayout) {
  uint8_t target[32];
  testpool::difficulty_to_target(1, target);
  EXPECT_EQ(tlm::bin_to_hex(target, 32), "00000000000000000000000000000000000000000000000080ffffffff0e0f0f");
  testpool::difficulty_to_target(1000, target);
  EXPECT_EQ(tlm::bin_to_hex(target, 32), "000000000000000000000000000000000000000000000060eb51b81ee5da0300");
  EXPECT_EQ(testpool::set_target_line(target),
            "{\"id\":null,\"method\":\"mining.set_target\",\"params\":"
            "[\"0003dae51eb851eb600000000000000000000000000000000000000000000000\"]}");
  testpool::difficulty_to_target(0.05, target);  // beyond 256 bits: every hash is a share
  EXPECT_EQ(tlm::bin_to_hex(target, 32), std::string(64, 'f'));

  testpool::Job job = testpool::make_job(7, 0x5f5e1000);
  EXPECT_EQ(job.ntime, "00105e5f");
  EXPECT_GE(job.solution[0], 7);  // the canonical clearing applies, as on the live network
  EXPECT_NE(job.solution[5], 0);
  for (int i = 1344 - 15; i < 1344; ++i) EXPECT_EQ(job.solution[i], 0);

  // The client reads back exactly the job that was made.
  tlm::Stratum client;
  Recorder rec(client);
  client.handle("{\"id\":1,\"result\":[null,\"01020304\"]}");
  client.handle(testpool::set_target_line(target));
  client.handle(testpool::notify_line(job));
  ASSERT_EQ(rec.works.size(), 1u);
  EXPECT_EQ(rec.works[0].job_id, job.id);
  EXPECT_EQ(memcmp(rec.works[0].header, job.header, 108), 0);
  EXPECT_EQ(memcmp(rec.works[0].solution, job.solution, 1344), 0);
  EXPECT_TRUE(rec.works[0].clean);
}

TEST(TestPoolShares, AcceptsExactlyTheSharesThatMeetTheTarget) {
  const std::string summary = testing::TempDir() + "testpool_summary.json";
  TestPool pool({"--difficulty", "0.5", "--prefix-bytes", "3", "--summary", summary});
  ASSERT_NE(pool.port, 0);
  tlm::Stratum client(fast_timing());
  Recorder rec(client);
  client.start(config(pool.port));
  ASSERT_TRUE(rec.wait([&] { return !rec.works.empty(); }));
  const tlm::Work w = rec.work_list()[0];
  EXPECT_EQ(w.extranonce1.size(), 3u);

  uint32_t counter = 0;
  Share good = find_share(w, counter, true);
  auto submit = [&](const std::string& job, const std::string& ntime, std::vector<uint8_t> nonce,
                    std::vector<uint8_t> solution) {
    size_t before = rec.share_list().size();
    client.submit({w.seq, job, ntime, std::move(nonce), std::move(solution)});
    EXPECT_TRUE(rec.wait([&] { return rec.shares.size() == before + 1; }));
    return rec.share_list().back();
  };
  using Result = std::pair<bool, std::string>;
  EXPECT_EQ(submit(w.job_id, w.ntime, good.nonce(), good.solution()), Result(true, ""));
  std::vector<std::string> pool_lines;
  ASSERT_TRUE(pool.process.wait_for("share accepted", 5000, &pool_lines));
  const std::string& accepted_line = pool_lines.back();
  EXPECT_NE(accepted_line.find("worker \"RTestWallet.rig1\""), std::string::npos);
  EXPECT_NE(accepted_line.find("hash " + tlm::bin_to_hex(good.hash, 32)), std::string::npos);

  EXPECT_EQ(submit(w.job_id, w.ntime, good.nonce(), good.solution()), Result(false, "duplicate share"));

  // One flipped byte in the miner's part of the solution: rejected unless the
  // new hash happens to meet the target too, so flip until it does not.
  Share flipped = good;
  for (int i = 1472; i < 1483; ++i) {
    flipped.header[i] ^= 0x01;
    flipped.rehash();
    if (!testpool::meets_target(flipped.hash, w.target)) break;
  }
  ASSERT_FALSE(testpool::meets_target(flipped.hash, w.target));
  EXPECT_EQ(submit(w.job_id, w.ntime, flipped.nonce(), flipped.solution()),
            Result(false, "low difficulty share"));
  Share weak = find_share(w, counter, false);
  EXPECT_EQ(submit(w.job_id, w.ntime, weak.nonce(), weak.solution()), Result(false, "low difficulty share"));

  Share other = find_share(w, counter, true);
  Share templ = other;
  templ.header[300] ^= 0x80;  // outside the miner's bytes
  EXPECT_EQ(submit(w.job_id, w.ntime, templ.nonce(), templ.solution()), Result(false, "malformed share"));
  EXPECT_EQ(submit(w.job_id, w.ntime, longer(other.nonce()), other.solution()),
            Result(false, "malformed share"));
  EXPECT_EQ(submit(w.job_id, "00000000", other.nonce(), other.solution()), Result(false, "malformed share"));
  std::vector<uint8_t> bad_length_prefix = other.solution();
  bad_length_prefix[0] = 0xfe;
  EXPECT_EQ(submit(w.job_id, w.ntime, other.nonce(), bad_length_prefix),
            Result(false, "malformed share"));
  EXPECT_EQ(submit("nope", w.ntime, other.nonce(), other.solution()), Result(false, "job not found"));
  EXPECT_EQ(submit(w.job_id, w.ntime, other.nonce(), other.solution()), Result(true, ""));
  client.stop();

  pool.process.signal(SIGTERM);
  EXPECT_EQ(pool.process.wait(5000), 0);
  std::ifstream in(summary);
  std::stringstream text;
  text << in.rdbuf();
  ilvo::Json json;
  ASSERT_TRUE(ilvo::Json::parse(text.str(), json)) << text.str();
  EXPECT_EQ(json.num("connections", -1), 1);
  EXPECT_EQ(json.num("accepted", -1), 2);
  EXPECT_EQ(json.num("rejected", -1), 8);
  const ilvo::Json* worker = json.find("workers")->find("RTestWallet.rig1");
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(worker->num("accepted", -1), 2);
  const ilvo::Json* reasons = worker->find("reasons");
  EXPECT_EQ(reasons->num("malformed share", -1), 4);
  EXPECT_EQ(reasons->num("low difficulty share", -1), 2);
  EXPECT_EQ(reasons->num("duplicate share", -1), 1);
  EXPECT_EQ(reasons->num("job not found", -1), 1);
}

// A test pool with one client connected to it.
struct Session {
  explicit Session(std::vector<std::string> args) : pool(std::move(args)), rec(client) {
    client.start(config(pool.port));
  }
  ~Session() { client.stop(); }

  bool share_result(std::pair<bool, std::string> expected) {
    if (!rec.wait([&] { return !rec.works.empty(); })) return false;
    const tlm::Work w = rec.work_list().back();
    uint32_t counter = 0;
    Share s = find_share(w, counter, true);
    client.submit({w.seq, w.job_id, w.ntime, s.nonce(), s.solution()});
    return rec.wait([&] { return !rec.shares.empty(); }) && rec.share_list()[0] == expected;
  }

  TestPool pool;
  tlm::Stratum client{fast_timing()};
  Recorder rec;
};

TEST(TestPoolFaults, ClientKeepsMiningThroughSplitLines) {
  {
    Session s({"--difficulty", "0.5", "--split-writes"});
    EXPECT_TRUE(s.share_result({true, ""}));
    const tlm::Work w = s.rec.work_list()[0];
    EXPECT_EQ(w.extranonce1.size(), 4u);
    EXPECT_EQ(w.solution[0], 7);
  }
  {
    Session s({"--difficulty", "0.5", "--reject-all"});
    EXPECT_TRUE(s.share_result({false, "rejected for testing"}));
  }
  {
    Session s({"--refuse-login", "unknown wallet"});
    EXPECT_TRUE(s.rec.wait_message("login refused by the pool: unknown wallet"));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(s.rec.work_list().empty());
  }
}

TEST(TestPoolFaults, ConnectionEndingFaultsLeadToReconnects) {
  {
    Session s({"--overlong-line"});
    EXPECT_TRUE(s.rec.wait([&] { return s.rec.works.size() >= 2; }));  // a job on each connection
    EXPECT_GE(s.rec.count("disconnected, retrying"), 1u);
  }
  {
    Session s({"--send-reconnect"});
    EXPECT_TRUE(s.rec.wait_message("pool asked to reconnect", 2));
  }
  {
    Session s({"--silent"});
    EXPECT_TRUE(s.rec.wait_message("no data from the pool for 10 min, reconnecting"));
    EXPECT_FALSE(s.rec.work_list().empty());
  }
  {
    Session s({"--close-after", "3"});  // subscribe and authorize answers, then the target
    EXPECT_TRUE(s.rec.wait_message("disconnected, retrying", 2));
    EXPECT_TRUE(s.rec.work_list().empty());
    s.pool.process.signal(SIGINT);
    EXPECT_EQ(s.pool.process.wait(5000), 0);
  }
}

TEST(TestPoolFaults, TargetChangesWithoutNewJobsAndManyMiners) {
  Session s({"--difficulty", "1000", "--retarget-interval", "0.1", "--job-interval", "0.35"});
  tlm::Stratum second(fast_timing());
  Recorder rec2(second);
  second.start(config(s.pool.port));
  ASSERT_TRUE(s.rec.wait([&] { return s.rec.works.size() >= 6; }));
  ASSERT_TRUE(rec2.wait([&] { return !rec2.works.empty(); }));
  second.stop();
  s.client.stop();
  EXPECT_NE(s.rec.works[0].extranonce1, rec2.works[0].extranonce1);
  bool retarget = false;
  bool new_job = false;
  for (size_t i = 1; i < s.rec.works.size(); ++i) {
    const tlm::Work& a = s.rec.works[i - 1];
    const tlm::Work& b = s.rec.works[i];
    EXPECT_EQ(b.seq, a.seq + 1);
    retarget |= a.job_id == b.job_id && memcmp(a.target, b.target, 32) != 0;
    new_job |= a.job_id != b.job_id;
  }
  EXPECT_TRUE(retarget);
  EXPECT_TRUE(new_job);
}

TEST(TestPoolCommandLine, OptionsAndTimeLimit) {
  using testing_support::run_process;
  auto help = run_process({TLM_TESTPOOL_BINARY, "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.find("Usage: tlm-testpool"), 0u);
  auto bad = run_process({TLM_TESTPOOL_BINARY, "--prefix-bytes", "8"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.err.find("tlm-testpool: invalid value for --prefix-bytes: 8\n"), 0u);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--difficulty", "0"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--job-interval", "1e300"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--port"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--fast"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--drop-every", "0"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--faulty-connections", "-1"}).exit_code, 1);
  EXPECT_EQ(run_process({TLM_TESTPOOL_BINARY, "--reject-reason"}).exit_code, 1);
  auto timed = run_process({TLM_TESTPOOL_BINARY, "--port", "0", "--seconds", "0.2"}, {}, 5000);
  EXPECT_EQ(timed.exit_code, 0);
  EXPECT_EQ(timed.out.find("listening on 127.0.0.1:"), 0u);
  EXPECT_NE(timed.out.find("\nstopped\n"), std::string::npos);
}

}  // namespace
