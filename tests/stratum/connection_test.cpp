// The client against a real TCP peer on 127.0.0.1: lines on the wire, framing,
// the ways a connection ends and the pauses before the next one; and a resolver
// that never answers (preloaded).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
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

// A second of pause lasts 10 ms, so a reconnect takes 30 ms instead of 3 s.
tlm::Stratum::Timing fast() {
  tlm::Stratum::Timing t;
  t.tick = 1ms;
  return t;
}

tlm::Stratum::Config config(uint16_t port) {
  return {{"127.0.0.1", port, false}, {"RWallet.rig", "x", "Ilvo Varnel TLM/1.1.0"}, {}};
}

const std::string kPrefixLine = "{\"id\":1,\"result\":[null,\"0a0b0c0d\"],\"error\":null}\n";
const std::string kTargetLine = testing_support::set_target_line("\"00ff\"") + "\n";

std::string job_line(const std::string& job) { return testing_support::notify_line(job) + "\n"; }

tlm::Share share(uint64_t seq, const std::string& job, size_t solution = 4) {
  return {seq, job, "5f5e1000", {0x00, 0xff}, std::vector<uint8_t>(solution, 0xaa)};
}

// What the session says goes out, what the pool says comes in, whatever the
// pieces. Shares wait for a pool that stops reading, beyond what the sockets hold,
// and a share goes only on the connection whose job it was mined on.
TEST(StratumConnection, LinesAndSharesAcrossReconnects) {
  LoopbackServer server;
  tlm::Stratum client(fast());
  Recorder rec(client);
  client.submit(share(1, "early"));  // no connection yet: dropped
  client.start(config(server.port()));
  LoopbackPeer peer = server.accept_session();
  EXPECT_TRUE(client.connected);

  // CR LF endings, an empty line, two lines in one write and one line in pieces.
  ASSERT_TRUE(peer.send("{\"id\":2,\"result\":true,\"error\":null}\r\n\r\n" + kPrefixLine));
  const std::string job = job_line("job1") + kTargetLine;
  for (size_t at = 0; at < job.size(); at += 100) {
    ASSERT_TRUE(peer.send(job.substr(at, 100)));
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(rec.wait([&] { return rec.works.size() == 1; }));
  // Lines of 2.8 KB, all submitted before the pool reads one: far beyond the
  // socket buffers, within the queue's 256.
  const size_t n = 200;
  for (size_t i = 0; i < n; ++i) client.submit(share(1, "job1", 1347));
  std::string line;
  for (size_t i = 0; i < n; ++i) {
    ASSERT_TRUE(peer.read_line(line, 10000)) << i;
    EXPECT_TRUE(line.starts_with("{\"id\":" + std::to_string(10 + i) + ",\"method\":\"mining.submit\",")) << line;
  }
  ASSERT_TRUE(peer.send("{\"id\":10,\"result\":true,\"error\":null}\n"));
  ASSERT_TRUE(rec.wait([&] { return rec.shares.size() == 1; }));

  peer.close();
  peer = server.accept_session();
  client.submit(share(1, "job1"));  // it would carry the first connection's nonce prefix
  ASSERT_TRUE(rec.wait_message("dropped 1 share: their connection ended before they were sent", 2));
  ASSERT_TRUE(peer.send(kPrefixLine + job_line("job2") + kTargetLine));
  ASSERT_TRUE(rec.wait([&] { return rec.works.size() == 2; }));
  client.submit(share(2, "job2"));
  ASSERT_TRUE(peer.read_line(line));
  EXPECT_TRUE(line.starts_with("{\"id\":210,")) << line;
  client.stop();
  EXPECT_FALSE(client.connected);

  const std::string where = "connected to 127.0.0.1:" + std::to_string(server.port()),
                    dropped = "dropped 1 share: their connection ended before they were sent";
  EXPECT_EQ(rec.messages, (std::vector<std::string>{where, dropped, "authorized",
                                                    "no answer to 199 shares: the connection ended",
                                                    "disconnected, retrying in 3 s", where, dropped}));
  const tlm::ShareCounts c = client.counts();
  EXPECT_EQ(std::vector<uint64_t>({c.sent, c.accepted, c.unanswered, c.in_flight, c.dropped}),
            std::vector<uint64_t>({201, 1, 199, 1, 2}));
}

// Milliseconds from each message starting with `from` to the next one starting with `to`.
std::vector<double> gaps(Recorder& rec, const std::string& from, const std::string& to) {
  const auto messages = rec.copy(rec.messages);
  const auto times = rec.copy(rec.message_times);
  std::vector<double> out;
  for (size_t i = 0; i < messages.size(); ++i) {
    if (!messages[i].starts_with(from)) continue;
    for (size_t j = i + 1; j < messages.size(); ++j) {
      if (messages[j].rfind(to, 0) == 0) {
        out.push_back(std::chrono::duration<double, std::milli>(times[j] - times[i]).count());
        break;
      }
    }
  }
  return out;
}

// 1 s, doubling up to 30 s (at 10 ms a second here), each said with its reason;
// sleeps are never shorter.
TEST(StratumConnection, FailedDialsWaitLongerEachTime) {
  const uint16_t closed_port = LoopbackServer().port();  // nothing listens there any more
  tlm::Stratum client(fast());
  Recorder rec(client);
  const std::string refused = "cannot connect to 127.0.0.1:" + std::to_string(closed_port);
  client.start(config(closed_port));
  ASSERT_TRUE(rec.wait_message(refused, 8, 20000));
  client.stop();
  const std::vector<std::string> said = rec.copy(rec.messages);
  const char* pauses[] = {"1 s", "2 s", "4 s", "8 s", "16 s", "30 s", "30 s", "30 s"};
  for (size_t i = 0; i < std::size(pauses); ++i)
    EXPECT_EQ(said[i], refused + ": connection refused, retrying in " + pauses[i]);
  const std::vector<double> waited = gaps(rec, refused, refused);
  const double least[] = {10, 20, 40, 80, 160, 300, 300};
  ASSERT_GE(waited.size(), std::size(least));
  for (size_t i = 0; i < std::size(least); ++i) EXPECT_GE(waited[i], least[i]) << "pause " << i;
}

// Every way a pool or the client ends a connection, one after the other on one
// client: each is said, followed by "disconnected ..., retrying in N s" and the pause before
// the next connection: 3 s, or the back-off after a login given up.
TEST(StratumConnection, EveryWayAConnectionEndsIsFollowedByItsPause) {
  tlm::Stratum::Timing timing = fast();
  timing.silence = 1s;
  timing.session.refused_login = 20ms;
  LoopbackServer server;
  tlm::Stratum client(timing);
  Recorder rec(client);
  const std::string refuse = "{\"id\":2,\"result\":false,\"error\":[24,\"no\",null]}\n";
  const std::string refused = "no job since the login was refused, reconnecting";
  const struct {
    std::string send;  // then the peer closes, or waits for the client to end the connection
    bool close;
    std::string said;  // the client's reason, if it gives one
    int pause_s;       // as said; 10 ms a second here
  } ends[] = {
      {"", true, "", 3},
      {"{\"id\":null,\"method\":\"client.reconnect\",\"params\":[]}\n", false, "pool asked to reconnect", 3},
      {"{\"id\":1,\"result\":true,\"error\":null}\n", false, "unsupported subscribe answer from the pool", 3},
      {std::string(1048576 + 32768, 'x'), false, "", 3},  // over 1 MiB without a line feed
      {"", false, "no data from the pool for 1 s, reconnecting", 3},
      {refuse, false, refused, 1},
      {refuse, false, refused, 2},
      {refuse, false, refused, 4},
  };
  client.start(config(server.port()));
  size_t ended = 0;
  for (const auto& e : ends) {
    SCOPED_TRACE(ended);
    LoopbackPeer peer = server.accept_session();
    ASSERT_TRUE(peer.valid());
    peer.send(e.send);
    if (e.close) peer.close();
    ASSERT_TRUE(rec.wait_message("disconnected", ++ended, 20000));
    EXPECT_TRUE(rec.copy(rec.messages).back().ends_with(", retrying in " + std::to_string(e.pause_s) + " s"));
    if (!e.said.empty()) {
      EXPECT_TRUE(rec.wait_message(e.said, 1, 0));
    }
  }
  ASSERT_TRUE(server.accept_session().valid());
  ASSERT_TRUE(rec.wait_message("connected to 127.0.0.1:" + std::to_string(server.port()), std::size(ends) + 1));
  client.stop();
  const std::vector<double> pauses = gaps(rec, "disconnected", "connected to ");
  ASSERT_EQ(pauses.size(), std::size(ends));
  for (size_t i = 0; i < std::size(ends); ++i) EXPECT_GE(pauses[i], ends[i].pause_s * 10) << "end " << i;
}

// However often a pool is dialled and given up on, it holds one lookup thread.
TEST(Resolve, AHangingLookupHoldsOneThreadPerPoolAddressHoweverOftenItIsDialled) {
  const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
  // ThreadSanitizer starts a thread of its own with the first one. A joined thread
  // may still be listed for a moment (for longer under an emulator): count once it
  // is gone.
  pid_t joined = 0;
  std::thread([&] { joined = gettid(); }).join();
  const std::string task = "/proc/self/task/" + std::to_string(joined);
  for (int i = 0; i < 10000 && std::filesystem::exists(task); ++i) std::this_thread::sleep_for(1ms);
  const auto before = threads();
  const std::atomic<bool> stopped{false};
  int fd = -1;
  for (const auto& [host, port] : {std::pair{"pool.example", 3352}, {"pool.example", 3353}, {"backup.example", 3352}})
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(tlm::dial_tcp(host, static_cast<uint16_t>(port), stopped, 1s, fd), tlm::DialResult::kStopped);
  EXPECT_EQ(threads() - before, 3);
}

}  // namespace
