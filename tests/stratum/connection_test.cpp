// The client against a real TCP peer on 127.0.0.1: request lines, framing,
// reconnects, time-outs, back-off; and a resolver that never answers (preloaded).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "stratum/dial.h"
#include "stratum/stratum.h"
#include "tests/stratum/recorder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/pool_lines.h"

// AddressSanitizer would refuse the preloaded resolver ahead of its runtime.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace {

using namespace std::chrono_literals;
using stratum_test::Recorder;
using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

// Short pauses so a reconnect takes 30 ms instead of 3 s.
const tlm::Stratum::Timing kFast{.tick = 1ms};

tlm::Stratum::Config config(uint16_t port, const std::string& user = "RWallet.rig") {
  return tlm::Stratum::Config{"127.0.0.1", port, user, "x", "Ilvo Varnel TLM/1.1.0", false, {}};
}

const std::string kPrefixLine = "{\"id\":1,\"result\":[null,\"0a0b0c0d\"],\"error\":null}\n";
const std::string kTargetLine = testing_support::set_target_line("\"00ff\"") + "\n";

std::string job_line(const std::string& job) { return testing_support::notify_line(job) + "\n"; }

tlm::Share share(uint64_t seq, const std::string& job) { return {seq, job, "5f5e1000", {0x00, 0xff}, {0xfd, 0x40, 0x05, 0xaa}}; }

TEST(StratumConnection, SessionLinesIdsAndSequenceAcrossReconnects) {
  LoopbackServer server;
  tlm::Stratum client(kFast);
  Recorder rec(client);
  client.start(config(server.port(), "R\"w\\1"));

  LoopbackPeer peer = server.accept();
  ASSERT_TRUE(peer.valid());
  std::string line;
  ASSERT_TRUE(peer.read_line(line));
  EXPECT_EQ(line, "{\"id\":1,\"method\":\"mining.subscribe\",\"params\":[\"Ilvo Varnel TLM/1.1.0\"]}");
  ASSERT_TRUE(peer.read_line(line));
  EXPECT_EQ(line, "{\"id\":2,\"method\":\"mining.authorize\",\"params\":[\"R\\\"w\\\\1\",\"x\"]}");
  EXPECT_TRUE(client.connected);

  // CR LF endings, an empty line, two lines in one write and one line in pieces.
  ASSERT_TRUE(peer.send("{\"id\":2,\"result\":true,\"error\":null}\r\n\r\n" + kPrefixLine));
  std::string job = job_line("job\\\"1\\\\");  // the id job"1\ as JSON text
  ASSERT_TRUE(peer.send(job.substr(0, 100)));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(peer.send(job.substr(100) + kTargetLine));
  ASSERT_TRUE(rec.wait([&] { return rec.works.size() == 1; }));
  const tlm::Work first = rec.copy(rec.works)[0];
  EXPECT_EQ(first.seq, 1u);
  EXPECT_EQ(first.job_id, "job\"1\\");

  client.submit(share(first.seq, first.job_id));
  ASSERT_TRUE(peer.read_line(line));
  EXPECT_EQ(line,
            "{\"id\":10,\"method\":\"mining.submit\",\"params\":[\"R\\\"w\\\\1\",\"job\\\"1\\\\\",\"5f5e1000\","
            "\"00ff\",\"fd4005aa\"]}");
  ASSERT_TRUE(peer.send("{\"id\":10,\"result\":true,\"error\":null}\n"));
  ASSERT_TRUE(rec.wait([&] { return rec.shares.size() == 1; }));

  // A new connection publishes nothing until prefix, target and job are all new.
  peer.close();
  ASSERT_TRUE(rec.wait_message("disconnected, retrying"));
  peer = server.accept_session();
  ASSERT_TRUE(peer.send(job_line("job2") + kTargetLine));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(rec.copy(rec.works).size(), 1u);
  // A share of the first connection's job would carry its nonce prefix: dropped.
  client.submit(share(first.seq, first.job_id));
  ASSERT_TRUE(rec.wait_message("dropped 1 share: their connection ended before they were sent"));
  ASSERT_TRUE(peer.send(kPrefixLine + kTargetLine));
  ASSERT_TRUE(rec.wait([&] { return rec.works.size() == 2; }));
  const tlm::Work second = rec.copy(rec.works)[1];
  EXPECT_EQ(second.seq, 2u);
  EXPECT_EQ(second.job_id, "job2");

  client.submit(share(second.seq, "job2"));
  ASSERT_TRUE(peer.read_line(line));
  EXPECT_EQ(line.substr(0, 9), "{\"id\":11,");
  client.stop();
  EXPECT_FALSE(client.connected);

  const std::string where = "127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(rec.messages,
            (std::vector<std::string>{"connected to " + where, "authorized", "disconnected, retrying",
                                      "connected to " + where,
                                      "dropped 1 share: their connection ended before they were sent"}));
  const tlm::ShareCounts c = client.counts();
  EXPECT_EQ(c.sent, 2u);
  EXPECT_EQ(c.accepted, 1u);
  EXPECT_EQ(c.in_flight, 1u);  // id 11, never answered before the stop
  EXPECT_EQ(c.dropped, 1u);
}

TEST(StratumConnection, BackoffDoublesUpTo30Seconds) {
  const uint16_t closed_port = LoopbackServer().port();  // nothing listens there any more
  tlm::Stratum client(kFast);
  std::vector<uint64_t> ticks;  // paused before each refused dial
  Recorder rec(client);
  client.on_message = [&, record = client.on_message](const std::string& text) {
    ticks.push_back(client.paused_ticks);
    record(text);
  };
  client.start(config(closed_port));
  ASSERT_TRUE(rec.wait([&] { return rec.messages.size() >= 9; }, 20000));
  client.stop();
  std::vector<uint64_t> pauses;
  for (size_t i = 1; i < 9; ++i) pauses.push_back(ticks[i] - ticks[i - 1]);
  EXPECT_EQ(pauses, (std::vector<uint64_t>{10, 20, 40, 80, 160, 300, 300, 300}));  // a tick is 100 ms
}

// Replies count once, only for a pending id and with the pool's reason; shares
// without a reply count as unanswered after the time-out or when the connection ends.
TEST(StratumConnection, RepliesCountOnlyForPendingIds) {
  LoopbackServer server;
  tlm::Stratum client({.tick = 1ms, .unanswered = 1s});
  Recorder rec(client);
  client.submit(share(1, "early"));  // no connection yet: dropped
  client.start(config(server.port()));
  LoopbackPeer peer = server.accept_session();
  ASSERT_TRUE(peer.send(kPrefixLine + kTargetLine + job_line("j")));
  ASSERT_TRUE(rec.wait([&] { return rec.works.size() == 1; }));
  std::string line;
  for (int i = 0; i < 3; ++i) {
    client.submit(share(1, "j"));
    ASSERT_TRUE(peer.read_line(line));
    EXPECT_EQ(line.substr(0, 9), "{\"id\":" + std::to_string(10 + i) + ",");
  }
  for (const char* reply : {R"({"id":10,"result":true,"error":null})", R"({"id":10,"result":true,"error":null})",
                            R"({"id":99,"result":true})", R"({"id":10.5,"result":true})", R"({"id":"11","result":true})",
                            R"({"id":-11,"result":true})", R"({"id":11,"result":true,"error":{"code":21,"message":"stale"}})"})
    ASSERT_TRUE(peer.send(std::string(reply) + "\n"));
  ASSERT_TRUE(rec.wait_message("no answer within 1 s to 1 share", 1, 5000));  // id 12
  client.submit(share(1, "j"));
  ASSERT_TRUE(peer.read_line(line));
  peer.close();
  ASSERT_TRUE(rec.wait_message("no answer to 1 share: the connection ended"));
  client.stop();

  EXPECT_EQ(rec.shares, (std::vector<std::pair<bool, std::string>>{{true, ""}, {false, "stale"}}));
  EXPECT_EQ(std::count(rec.messages.begin(), rec.messages.end(), "ignored 1 reply to no pending request"), 1);  // then quiet for a minute
  const tlm::ShareCounts c = client.counts();
  EXPECT_EQ(c.sent, 4u);
  EXPECT_EQ(c.accepted, 1u);
  EXPECT_EQ(c.rejected, 1u);
  EXPECT_EQ(c.unanswered, 2u);
  EXPECT_EQ(c.in_flight, 0u);
  EXPECT_EQ(c.dropped, 1u);
}

// However often a pool is dialled and given up on, it holds one lookup thread.
TEST(Resolve, AHangingLookupHoldsOneThreadPerPoolAddressHoweverOftenItIsDialled) {
  const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
  std::thread([] {}).join();  // ThreadSanitizer starts a thread of its own with the first one
  const auto before = threads();
  const std::atomic<bool> stopped{false};
  int fd = -1;
  for (const auto& [host, port] : {std::pair{"pool.example", 3352}, {"pool.example", 3353}, {"backup.example", 3352}})
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(tlm::dial_tcp(host, static_cast<uint16_t>(port), stopped, 1s, fd), tlm::DialResult::kStopped);
  EXPECT_EQ(threads() - before, 3);
}

}  // namespace
