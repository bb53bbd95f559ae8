// The monitoring API: its two renderings of one fixed set of figures, and the
// server as an HTTP client on 127.0.0.1 meets it.
#include <poll.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/api_server.h"
#include "tests/support/loopback_server.h"

namespace {

using testing_support::connect_loopback;
using testing_support::http_exchange;
using testing_support::http_status;
using testing_support::LoopbackPeer;

ilvo::Snapshot figures() {
  ilvo::Snapshot s;
  s.version = "1.1.0";
  s.uptime_s = 3725.4;
  s.pool = "we\"ird\\pool:3352";  // both renderings must escape it
  s.connected = true;
  s.kernel = "avx";
  s.lanes = 32;
  s.threads = 2;
  s.rate_10s = 1234.5678;
  s.rate_60s = 1200;
  s.rate_15m = 1100.25;
  s.thread_rates = {617.3, 617.274};
  s.hashes = 4444444;
  s.found = 7;
  s.accepted = 5;
  s.rejected = 1;
  s.unanswered = 1;
  s.difficulty = 0.015625;
  s.last_share_time = 1765000000;
  return s;
}

TEST(Api, SummaryAndMetricsRenderings) {
  EXPECT_EQ(ilvo::render_summary(figures()),
            R"({"version":"1.1.0","uptime_s":3725,)"
            R"("pool":{"address":"we\"ird\\pool:3352","connected":true,"tls":false},"kernel":"avx","lanes":32,)"
            R"("threads":2,"hashrate":{"10s":1234.57,"60s":1200,"15m":1100.25,"threads":[617.3,617.27]},)"
            R"("hashes":4444444,"shares":{"found":7,"accepted":5,"rejected":1,"unanswered":1,"dropped":0},)"
            R"("difficulty":0.015625,"last_share_time":1765000000})"
            "\n");
  EXPECT_EQ(ilvo::render_metrics(figures()),
            "# HELP tlm_info Miner version, current pool and hash kernel.\n"
            "# TYPE tlm_info gauge\n"
            "tlm_info{version=\"1.1.0\",pool=\"we\\\"ird\\\\pool:3352\",kernel=\"avx\"} 1\n"
            "# HELP tlm_uptime_seconds Seconds since the miner started.\n"
            "# TYPE tlm_uptime_seconds gauge\n"
            "tlm_uptime_seconds 3725\n"
            "# HELP tlm_pool_connected 1 while the pool connection is up.\n"
            "# TYPE tlm_pool_connected gauge\n"
            "tlm_pool_connected 1\n"
            "# HELP tlm_pool_tls 1 when the pool connection uses TLS.\n"
            "# TYPE tlm_pool_tls gauge\n"
            "tlm_pool_tls 0\n"
            "# HELP tlm_lanes Nonces each mining thread hashes side by side.\n"
            "# TYPE tlm_lanes gauge\n"
            "tlm_lanes 32\n"
            "# HELP tlm_threads Mining threads.\n"
            "# TYPE tlm_threads gauge\n"
            "tlm_threads 2\n"
            "# HELP tlm_hashrate Hashes per second over a sliding window.\n"
            "# TYPE tlm_hashrate gauge\n"
            "tlm_hashrate{window=\"10s\"} 1234.57\n"
            "tlm_hashrate{window=\"60s\"} 1200\n"
            "tlm_hashrate{window=\"15m\"} 1100.25\n"
            "# HELP tlm_thread_hashrate Hashes per second of one mining thread.\n"
            "# TYPE tlm_thread_hashrate gauge\n"
            "tlm_thread_hashrate{thread=\"0\"} 617.3\n"
            "tlm_thread_hashrate{thread=\"1\"} 617.27\n"
            "# HELP tlm_hashes_total Hashes computed since start.\n"
            "# TYPE tlm_hashes_total counter\n"
            "tlm_hashes_total 4444444\n"
            "# HELP tlm_shares_found_total Shares found that meet the pool's target.\n"
            "# TYPE tlm_shares_found_total counter\n"
            "tlm_shares_found_total 7\n"
            "# HELP tlm_shares_accepted_total Shares the pool accepted.\n"
            "# TYPE tlm_shares_accepted_total counter\n"
            "tlm_shares_accepted_total 5\n"
            "# HELP tlm_shares_rejected_total Shares the pool rejected.\n"
            "# TYPE tlm_shares_rejected_total counter\n"
            "tlm_shares_rejected_total 1\n"
            "# HELP tlm_shares_unanswered_total Shares sent that the pool never answered.\n"
            "# TYPE tlm_shares_unanswered_total counter\n"
            "tlm_shares_unanswered_total 1\n"
            "# HELP tlm_shares_dropped_total Shares found but never sent.\n"
            "# TYPE tlm_shares_dropped_total counter\n"
            "tlm_shares_dropped_total 0\n"
            "# HELP tlm_share_difficulty The pool's current share difficulty.\n"
            "# TYPE tlm_share_difficulty gauge\n"
            "tlm_share_difficulty 0.015625\n"
            "# HELP tlm_last_share_timestamp_seconds Unix time of the last share found, 0 before the first.\n"
            "# TYPE tlm_last_share_timestamp_seconds gauge\n"
            "tlm_last_share_timestamp_seconds 1765000000\n");
}

TEST(Api, ServesTheTwoEndpointsToTheTokenOnly) {
  ilvo::PublishedSnapshot published;
  published.publish(figures());
  ilvo::ApiServer api(published);
  std::string error;
  ASSERT_TRUE(api.start("127.0.0.1", 0, "s3cret", error)) << error;
  const std::string auth = "Authorization: Bearer s3cret\r\n";
  const std::pair<std::string, int> cases[] = {
      {"GET /summary HTTP/1.1\r\n" + auth + "\r\n", 200},
      {"GET /metrics HTTP/1.0\r\n" + auth + "\r\n", 200},
      {"GET /other HTTP/1.1\r\n" + auth + "\r\n", 404},
      {"GET /summary HTTP/1.1\r\n\r\n", 401},
      {"GET /summary HTTP/1.1\r\nAuthorization: Bearer s3cre\r\n\r\n", 401},
      {"GET /summary HTTP/1.1\r\nAuthorization: Bearer s3cretX\r\n\r\n", 401},
      {"GET /summary HTTP/1.1\r\nAuthorization: s3cret\r\n\r\n", 401},
      // Over the size limit: cut off before the request ends.
      {"GET /summary HTTP/1.1\r\n" + auth + "X-Pad: " + std::string(8000, 'p') + "\r\n\r\n", 400},
  };
  for (const auto& [request, status] : cases) EXPECT_EQ(http_status(http_exchange(api.port(), request)), status);
  const std::string reply = http_exchange(api.port(), "GET /summary HTTP/1.1\r\n" + auth + "\r\n");
  EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), ilvo::render_summary(figures()));
}

// Index of the first connection the server answers or closes; -1 when none
// does within 10 s.
TEST(Api, LoopbackHosts) {
  for (const char* host : {"localhost", "127.0.0.1", "127.8.9.10", "::1"})
    EXPECT_TRUE(ilvo::is_loopback_host(host)) << host;
  for (const char* host : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "::ffff:127.0.0.1", "example.org", ""})
    EXPECT_FALSE(ilvo::is_loopback_host(host)) << host;
}

}  // namespace
