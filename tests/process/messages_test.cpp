// What the miner says when a pool cannot be used, each message with its reason
// and the next try; and the log file through a rotation.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

// A plain pool, a TLS server that alerts, a self-signed TLS pool, and an API port
// that is taken (which ends the miner). A refused dial is the pool client's test.
TEST(Messages, EveryConnectionFailureSaysWhyAndWhenTheNextTryIs) {
  Pool tls(fixture_certificate_options());
  ASSERT_NE(tls.port(), 0) << tls.log_text();
  LoopbackServer plain, alerting, taken;
  const auto at = [](uint16_t port) { return "127.0.0.1:" + std::to_string(port); };
  const struct {
    uint16_t port;
    std::string scheme;
    LoopbackServer* server;  // sends `reply` on the first connection
    std::string reply;
    std::vector<std::string> extra, lines;
  } cases[] = {
      {plain.port(), "stratum+ssl://", &plain, "{\"id\":null,\"result\":null,\"error\":\"bad request\"}\n", {},
       {"cannot connect to " + at(plain.port()) +
        ": the pool answers without TLS: use stratum+tcp://, retrying in 1 s"}},
      {alerting.port(), "", &alerting, std::string("\x15\x03\x01\x00\x02\x02\x46", 7), {},
       {"connected to " + at(alerting.port()), at(alerting.port()) + " speaks TLS: use stratum+ssl://" +
        at(alerting.port()), "disconnected, retrying in 1 s"}},
      {tls.port(), "", nullptr, "", {},
       {"connected to " + at(tls.port()), "disconnected before the pool sent a byte (a TLS port? use stratum+ssl://" +
                                              at(tls.port()) + "), retrying in 3 s"}},
      {tls.port(), "stratum+ssl://", nullptr, "", {},
       {"cannot connect to " + at(tls.port()) +
        ": certificate not trusted: self-signed certificate; to trust this one, pin it with --tls-fingerprint " +
        kCertificateSha256 + ", retrying in 1 s"}},
      {1, "", nullptr, "", {"--api", at(taken.port())},
       {"api: cannot listen on " + at(taken.port()) + ": Address already in use"}},
  };
  for (const auto& c : cases) {
    Miner miner(c.port, c.extra, c.scheme + "127.0.0.1");
    LoopbackPeer peer = c.server != nullptr ? c.server->accept(20000) : LoopbackPeer();
    peer.send(c.reply);
    EXPECT_TRUE(miner.until_count(c.lines.back(), 1, 20000, &tls)) << miner.log_text();
    const std::vector<std::string>& log = miner.log();
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<long>(c.lines.size()), log.end()), c.lines);
    EXPECT_EQ(miner.stop(SIGTERM), c.extra.empty() ? 0 : 1);
  }
}

// Renamed and reopened on SIGUSR1 (as logrotate does): the two files hold every line.
TEST(Messages, TheLogFileLosesNoLineThroughARotation) {
  const TempDir dir;
  const std::string path = dir.path + "/miner.log", rotated = path + ".1";
  Pool pool({"--difficulty", share_difficulty()});
  Miner miner(pool.port(), {"--log-file", path});
  ASSERT_TRUE(miner.until_count("share accepted", 2, 60000, &pool)) << miner.log_text();
  ASSERT_EQ(rename(path.c_str(), rotated.c_str()), 0);
  ASSERT_EQ(kill(miner.pid(), SIGUSR1), 0);
  ASSERT_TRUE(miner.until([&] { return !read_file(path).empty(); }, 30000, &pool));
  EXPECT_TRUE(miner.until_count("share accepted", miner.count("share accepted") + 2, 60000, &pool));
  EXPECT_EQ(miner.stop(SIGINT), 0);
  std::vector<std::string> logged;
  for (const std::string& file : {rotated, path}) {
    const std::string text = read_file(file);
    for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
      ASSERT_EQ(text.compare(begin, 1, "["), 0) << text;
      logged.push_back(text.substr(begin + 22, end - begin - 22));  // after "[YYYY-mm-dd HH:MM:SS] "
    }
  }
  EXPECT_EQ(logged, miner.log());
}

}  // namespace
}  // namespace faults
