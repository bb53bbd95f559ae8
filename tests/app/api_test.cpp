// The monitoring API: its two renderings of one fixed set of figures, what it
// refuses, and clients that would shut others out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/monitor/api_server.h"
#include "tests/support/loopback_server.h"
#include "tests/support/text_match.h"

namespace {

using testing_support::connect_loopback;
using testing_support::http_exchange;
using testing_support::http_status;
using testing_support::LoopbackPeer;

// The pool's name has characters both renderings must escape.
tlm::Snapshot figures() {
  return {.version = "1.1.0", .uptime_s = 3725.4, .pool = "we\"ird\\pool:3352", .connected = true,
          .kernel = "avx", .lanes = 32, .threads = 2, .rate_10s = 1234.5678, .rate_60s = 1200,
          .rate_15m = 1100.25, .thread_rates = {617.3, 617.274}, .hashes = 4444444, .found = 7,
          .accepted = 5, .rejected = 1, .unanswered = 1, .difficulty = 0.015625, .last_share_time = 1765000000};
}

TEST(Api, Summary) {
  EXPECT_EQ(tlm::render_summary(figures()),
            R"({"version":"1.1.0","uptime_s":3725,)"
            R"("pool":{"address":"we\"ird\\pool:3352","connected":true,"tls":false},"kernel":"avx","lanes":32,)"
            R"("threads":2,"hashrate":{"10s":1234.57,"60s":1200,"15m":1100.25,"threads":[617.3,617.27]},)"
            R"("hashes":4444444,"shares":{"found":7,"accepted":5,"rejected":1,"unanswered":1,"dropped":0},)"
            R"("difficulty":0.015625,"last_share_time":1765000000})"
            "\n");
}

// GET /metrics as a scraper reads it: every sample in a family announced by its
// HELP and TYPE lines, counters named _total, each figure once.
TEST(Api, MetricsHoldEveryFigureInTheExpositionFormat) {
  const std::string text = tlm::render_metrics(figures());
  std::map<std::string, std::string> samples;  // name{labels} -> value
  std::string family, type;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    const std::string line = text.substr(begin, end - begin);
    std::vector<std::string> m;
    if (testing_support::search(line, R"(^# HELP (tlm_[a-z_]+) \S.*\.$)", &m)) {
      family = m[1];
      type.clear();
    } else if (testing_support::search(line, R"(^# TYPE (tlm_[a-z_]+) (gauge|counter)$)", &m)) {
      EXPECT_EQ(m[1], family) << line;
      type = m[2];
    } else if (testing_support::search(line, R"(^(tlm_[a-z_]+)(\{.*\})? (\S+)$)", &m)) {
      EXPECT_EQ(m[1], family) << line;
      EXPECT_EQ(type == "counter", family.ends_with("_total")) << line;
      EXPECT_TRUE(samples.emplace(m[1] + m[2], m[3]).second) << "twice: " << line;
    } else {
      ADD_FAILURE() << "not a line of the format: " << line;
    }
  }
  EXPECT_TRUE(text.ends_with("\n"));
  // Every figure of figures() once; a few of them in full.
  EXPECT_EQ(samples.size(), 19u);
  for (const auto& [sample, value] : std::map<std::string, std::string>{
           {R"(tlm_info{version="1.1.0",pool="we\"ird\\pool:3352",kernel="avx"})", "1"},
           {"tlm_uptime_seconds", "3725"}, {R"(tlm_hashrate{window="10s"})", "1234.57"},
           {R"(tlm_thread_hashrate{thread="1"})", "617.27"}, {"tlm_shares_unanswered_total", "1"},
           {"tlm_share_difficulty", "0.015625"}, {"tlm_last_share_timestamp_seconds", "1765000000"}})
    EXPECT_EQ(samples[sample], value) << sample;
}

// Near misses of the token, unknown paths, the size limit; clients sending their
// request a byte at a time hold nothing a whole request needs and go 3 s after
// they connected; one address keeps at most 8 connections open; Range is ignored.
TEST(Api, RefusesWhatItMustAndNoClientShutsOthersOut) {
  tlm::PublishedSnapshot published;
  published.publish(figures());
  tlm::ApiServer api(published);
  std::string error;
  ASSERT_TRUE(api.start("127.0.0.1", 0, "s3cret", error)) << error;
  const auto get = [&](const std::string& path, const std::string& authorization) {
    return http_exchange(api.port(), "GET " + path + " HTTP/1.1\r\nAuthorization: " + authorization + "\r\n\r\n");
  };
  const std::string whole = get("/summary", "Bearer s3cret");
  EXPECT_TRUE(whole.starts_with("HTTP/1.1 200 ") && whole.ends_with(tlm::render_summary(figures()))) << whole;
  EXPECT_EQ(http_status(get("/other", "Bearer s3cret")), 404);
  // Over 4 KiB, yet within what the HTTP library allows a header line: cut off.
  EXPECT_EQ(http_status(get("/summary", "Bearer s3cret\r\nX-Pad: " + std::string(5000, 'p'))), 400);
  for (const char* given : {"Bearer s3cre", "Bearer s3cretX", "Digest s3cret"})
    EXPECT_EQ(http_status(get("/summary", given)), 401) << given;
  std::string ranges = "Range: bytes=0-0";  // 500 of them, 2 KB: once a reply of 58 KB
  for (int i = 1; i < 500; ++i) ranges += ",0-0";
  for (const std::string& range : {ranges, std::string("range: bytes=5-1"), std::string("RANGE: x")})
    EXPECT_EQ(get("/summary", "Bearer s3cret\r\n" + range), whole) << range;

  const std::string request = "GET /summary HTTP/1.1\r\n\r\n";
  std::vector<LoopbackPeer> slow;
  for (int i = 0; i < 9; ++i) slow.push_back(connect_loopback(api.port(), "127.0.0.2"));
  for (size_t byte = 0; byte + 1 < request.size(); ++byte) {
    for (size_t i = 0; i < 8; ++i) slow[i].send(request.substr(byte, 1));
    ASSERT_EQ(get("/summary", "Bearer s3cret"), whole) << "byte " << byte;
  }
  const auto closed_within = [](LoopbackPeer& peer, int ms) {
    bool closed = false;
    peer.read_all(ms, &closed);
    return closed;
  };
  EXPECT_TRUE(closed_within(slow[8], 10000)) << "a ninth connection from one address";
  EXPECT_FALSE(closed_within(slow[7], 0)) << "the eighth";
  for (LoopbackPeer& s : slow) EXPECT_TRUE(closed_within(s, 10000)) << "a slow client is never closed";
}

}  // namespace
