// What the miner says when a pool cannot be used, each message with its reason
// and the next try; and the log file through a rotation.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

const std::string kData = std::string(TLM_TEST_DATA) + "/";

// The certificate's fingerprint as `openssl x509 -noout -fingerprint -sha256` gives it.
constexpr const char* kCertificateSha256 =
    "AB:B6:87:8F:C3:98:7A:83:F1:3B:F5:FB:FD:27:6E:E6:48:98:BB:D5:BF:42:A8:A2:16:D5:36:77:A0:90:2B:09";

TEST(Messages, EveryConnectionFailureSaysWhyAndWhenTheNextTryIs) {
  Pool tls_pool({"--tls-cert", kData + "self_signed_cert.pem", "--tls-key", kData + "self_signed_key.pem"});
  ASSERT_NE(tls_pool.port(), 0) << tls_pool.log_text();
  LoopbackServer plain, alerting;  // a plain pool, and a TLS server that answers a line with an alert
  const std::string tls_at = "127.0.0.1:" + std::to_string(tls_pool.port());
  const std::string plain_at = "127.0.0.1:" + std::to_string(plain.port());
  const std::string alerting_at = "127.0.0.1:" + std::to_string(alerting.port());
  const struct {
    uint16_t port;
    std::string host;
    std::vector<std::string> lines;
  } cases[] = {
      {1, "127.0.0.1", {"cannot connect to 127.0.0.1:1: connection refused, retrying in 1 s"}},
      {plain.port(),
       "stratum+ssl://127.0.0.1",
       {"cannot connect to " + plain_at + ": the pool answers without TLS: use stratum+tcp://, retrying in 1 s"}},
      {alerting.port(),
       "127.0.0.1",
       {"connected to " + alerting_at, alerting_at + " speaks TLS: use stratum+ssl://" + alerting_at,
        "disconnected, retrying in 1 s"}},
      {tls_pool.port(),
       "127.0.0.1",
       {"connected to " + tls_at, "disconnected before the pool sent a byte (a TLS port? use stratum+ssl://" + tls_at +
                                      "), retrying in 3 s"}},
      {tls_pool.port(),
       "stratum+ssl://127.0.0.1",
       {"cannot connect to " + tls_at +
        ": certificate not trusted: self-signed certificate; to trust this one, pin it with --tls-fingerprint " +
        kCertificateSha256 + ", retrying in 1 s"}},
  };
  for (const auto& c : cases) {
    Miner miner(c.port, {}, c.host);
    LoopbackPeer peer;
    if (c.port == plain.port()) {
      peer = plain.accept(20000);
      peer.send("{\"id\":null,\"result\":null,\"error\":\"bad request\"}\n");
    } else if (c.port == alerting.port()) {
      peer = alerting.accept(20000);
      peer.send(std::string("\x15\x03\x01\x00\x02\x02\x46", 7));  // alert: protocol version
    }
    EXPECT_TRUE(miner.until_count(c.lines.back(), 1, 20000, &tls_pool)) << miner.log_text();
    const std::vector<std::string>& log = miner.log();
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<long>(c.lines.size()), log.end()), c.lines);
    EXPECT_EQ(miner.stop(SIGTERM), 0);
  }
}

TEST(Messages, TheApiSaysWhyItCannotListen) {
  LoopbackServer taken;
  const std::string at = "127.0.0.1:" + std::to_string(taken.port());
  Miner miner(1, {"--api", at});
  EXPECT_TRUE(miner.until_count("api: ", 1, 20000)) << miner.log_text();
  EXPECT_EQ(miner.log().back(), "api: cannot listen on " + at + ": Address already in use");
  EXPECT_EQ(miner.stop(SIGTERM), 1);
}

// Renamed away and reopened on SIGUSR1, as logrotate does: the two files hold
// every line standard output got, in order, without colour.
TEST(Messages, TheLogFileLosesNoLineThroughARotation) {
  const TempDir dir;
  const std::string path = dir.path + "/miner.log", rotated = path + ".1";
  Pool pool({"--difficulty", share_difficulty()});
  Miner miner(pool.port(), {"--log-file", path});
  ASSERT_TRUE(miner.until_count("share accepted", 2, 60000, &pool)) << miner.log_text();
  ASSERT_EQ(rename(path.c_str(), rotated.c_str()), 0);
  ASSERT_EQ(kill(miner.pid(), SIGUSR1), 0);
  struct stat st;
  ASSERT_TRUE(miner.until([&] { return stat(path.c_str(), &st) == 0 && st.st_size > 0; }, 30000, &pool));
  const size_t accepted = miner.count("share accepted");
  EXPECT_TRUE(miner.until_count("share accepted", accepted + 2, 60000, &pool)) << miner.log_text();
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
