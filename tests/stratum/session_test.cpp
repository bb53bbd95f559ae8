// The protocol without a socket: pool lines and the time go in; jobs, share
// results, status lines and the lines to send come out.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "hash/hex.h"
#include "stratum/session.h"
#include "tests/stratum/recorder.h"
#include "tests/support/pool_lines.h"

namespace {

using namespace std::chrono_literals;
using stratum_test::Recorder;
using testing_support::notify_line;
using testing_support::set_target_line;
using Time = tlm::Session::Clock::time_point;

const std::string kSubscribed = "{\"id\":1,\"result\":[null,\"a1b2c3d4\"],\"error\":null}";
const Time t0{};

tlm::Share share(const std::string& job) { return {1, job, "5f5e1000", {0x00, 0xff}, {0xfd, 0x40, 0x05, 0xaa}}; }

template <size_t N>
std::string hex(const uint8_t (&bytes)[N]) {
  return tlm::bin_to_hex(bytes, N);
}

TEST(Session, PublishesOnlyOnceJobTargetAndPrefixAreKnownInAnyOrder) {
  tlm::Session s;
  Recorder rec(s);
  s.receive(notify_line("j1"), t0);
  s.receive(set_target_line("\"ff\""), t0);
  s.receive(kSubscribed, t0);  // the prefix alone publishes nothing
  EXPECT_TRUE(rec.works.empty());
  s.receive(set_target_line("\"ff\""), t0);
  s.receive(set_target_line("\"ff\""), t0);  // the same target again: the same job published again
  s.receive(notify_line("j2", "0A0b0C0d", std::string(2688, 'e'), "\"true\""), t0);
  ASSERT_EQ(rec.works.size(), 3u);
  EXPECT_EQ(std::tie(rec.works[1].seq, rec.works[1].job_id, rec.works[1].clean), std::make_tuple(2u, "j1", true));
  EXPECT_EQ(hex(rec.works[0].solution), "0701" + std::string(2684, '0'));  // a short template is zero-filled
  const tlm::Work& w = rec.works[2];
  // A string, even "true", is not the clean-jobs flag.
  EXPECT_EQ(std::tie(w.seq, w.job_id, w.ntime, w.clean), std::make_tuple(3u, "j2", "5f5e1000", false));
  EXPECT_EQ(hex(w.header), "0a0b0c0d" + std::string(64, '1') + std::string(64, '2') + std::string(64, '3') +
                               "5f5e10001d00ffffa1b2c3d4" + std::string(56, '0'));
  EXPECT_EQ(hex(w.solution), std::string(2688, 'e'));
  EXPECT_EQ(hex(w.target), "ff" + std::string(62, '0'));  // the digits at the low end
  EXPECT_EQ(w.extranonce1, (std::vector<uint8_t>{0xa1, 0xb2, 0xc3, 0xd4}));
  EXPECT_TRUE(rec.messages.empty());

  // A new connection publishes nothing until its own prefix, target and job are
  // in; the numbers go on.
  s.begin({"u", "p", "a"});
  s.receive(notify_line("j3"), t0);
  s.receive(set_target_line("\"00000000ffff" + std::string(52, '0') + "\""), t0);
  EXPECT_EQ(rec.works.size(), 3u);
  s.receive(kSubscribed, t0);
  s.receive(set_target_line("\"0102\""), t0);
  ASSERT_EQ(rec.works.size(), 4u);
  EXPECT_EQ(rec.works[3].seq, 4u);
  EXPECT_EQ(hex(rec.works[3].target), "0201" + std::string(60, '0'));
}

// Each row breaks one rule of a job or a target: it is refused and what came
// before stays.
TEST(Session, RefusesJobsAndTargetsThatBreakARule) {
  const std::string job = "invalid job from the pool",
                    target = "invalid target from the pool, keeping the previous one";
  const std::pair<std::string, std::string> cases[] = {
      {notify_line("bad", "0400010"), job},                                // a field one digit short
      {notify_line("bad", "0400010g"), job},                               // a digit that is not hex
      {notify_line("bad", "04000100", "070"), job},                        // a template of odd length
      {notify_line("bad", "04000100", std::string(2690, '0')), job},       // one byte too long
      {notify_line("bad", "04000100", "07 00"), job},
      {set_target_line("\"\""), target},
      {set_target_line("5"), target},
      {set_target_line("\"zz\""), target},
      {set_target_line("\"" + std::string(65, '0') + "\""), target},
      {set_target_line("\"0000\""), target},  // zero
  };
  for (const auto& [line, said] : cases) {
    tlm::Session s;
    Recorder rec(s);
    s.receive(kSubscribed, t0);
    s.receive(notify_line("good"), t0);
    s.receive(set_target_line("\"ff\""), t0);
    s.receive(line, t0);
    s.receive(set_target_line("\"ff\""), t0);
    ASSERT_EQ(rec.works.size(), 2u) << line;
    EXPECT_EQ(rec.works[1].job_id, "good");
    EXPECT_EQ(rec.works[1].target[0], 0xff);
    EXPECT_EQ(rec.messages, std::vector<std::string>{said}) << line;
  }
}

TEST(Session, RepliesToSubscribeAndAuthorize) {
  tlm::Session s;
  Recorder rec(s);
  for (const char* line : {R"({"id":1,"result":[null,"0011223344556677"],"error":null})",
                           R"({"id":1,"result":[null,""],"error":null})", R"({"id":1,"result":true,"error":null})",
                           R"({"id":2,"result":true,"error":null})",
                           R"({"id":2,"result":false,"error":[20,"bad wallet",null]})",
                           R"({"id":2,"result":null,"error":"banned"})", R"({"id":2,"result":false,"error":[20]})",
                           R"({"id":5,"result":true})", R"({"id":"2","result":true})", "[1,2]", "not json",
                           R"({"method":"mining.ping","id":2,"result":true})"})
    s.receive(line, t0);
  const std::string subscribe = "unsupported subscribe answer from the pool", refused = "login refused by the pool";
  EXPECT_EQ(rec.messages, (std::vector<std::string>{subscribe, subscribe, subscribe, "authorized",
                                                    refused + ": bad wallet", refused + ": banned", refused,
                                                    "ignored 1 reply to no pending request",
                                                    "1 line from the pool could not be read"}));  // the next: counted
  EXPECT_TRUE(s.ended());  // the subscribe answers: a new connection may do better
  EXPECT_FALSE(s.login_given_up());
}

// A byte order mark, CRLF ends, NUL padding and blank pieces; junk is counted and
// said at most once a minute.
TEST(Session, FramingAndJunk) {
  tlm::Session s;
  Recorder rec(s);
  s.receive("\xEF\xBB\xBF{\"id\":1,\"result\":[null,\"01020304\"],\"error\":null}\r", t0);
  s.receive(std::string(2, '\0') + "{\"id\":2,\"result\":true,\"error\":null}\r \t", t0);
  s.receive("hello pool", t0 + 1s);
  s.receive("{\"id\":", t0 + 59s);
  s.receive("]", t0 + 61s);
  EXPECT_EQ(rec.messages, (std::vector<std::string>{"authorized", "1 line from the pool could not be read",
                                                    "2 lines from the pool could not be read"}));
}

TEST(Session, RequestLinesEscapeTheLoginAndTheJob) {
  tlm::Session s;
  s.begin({"R\"w\\1", "p\"", "Ilvo Varnel TLM/1.1.0"});
  EXPECT_EQ(s.take_output(),
            "{\"id\":1,\"method\":\"mining.subscribe\",\"params\":[\"Ilvo Varnel TLM/1.1.0\"]}\n"
            "{\"id\":2,\"method\":\"mining.authorize\",\"params\":[\"R\\\"w\\\\1\",\"p\\\"\"]}\n");
  EXPECT_EQ(s.submit(share("job\"1\\")), 10u);
  EXPECT_EQ(s.take_output(),
            "{\"id\":10,\"method\":\"mining.submit\",\"params\":[\"R\\\"w\\\\1\",\"job\\\"1\\\\\",\"5f5e1000\","
            "\"00ff\",\"fd4005aa\"]}\n");
  EXPECT_EQ(s.take_output(), "");
}

// Replies count once, only for a pending id, with the pool's reason and the round
// trip; shares without a reply count as unanswered after the time-out, when the
// connection ends, or as in flight when the client stops.
TEST(Session, ShareRepliesAndSharesLeftWithoutOne) {
  tlm::Session s;
  std::vector<std::tuple<bool, std::string, std::chrono::milliseconds>> results;
  s.on_share = [&](const tlm::ShareResult& r) { results.emplace_back(r.accepted, r.reason, r.round_trip); };
  std::vector<std::string> messages;
  s.on_message = [&](const std::string& text) { messages.push_back(text); };
  for (int i = 0; i < 4; ++i) s.sent(s.submit(share("j")), t0 + std::chrono::seconds(i));  // ids 10..13
  const std::pair<const char*, Time> replies[] = {
      {R"({"id":10,"result":true,"error":null})", t0 + 38ms},
      {R"({"id":10,"result":true,"error":null})", t0 + 1s},  // answered already
      {R"({"id":99,"result":true})", t0 + 2s},                // never sent; the line a minute is spent
      {R"({"id":10.5,"result":true})", t0 + 3s},
      {R"({"id":"11","result":true})", t0 + 4s},
      {R"({"id":-11,"result":true})", t0 + 5s},
      {R"({"id":11,"result":true,"error":{"code":21,"message":"stale"}})", t0 + 6s},
      {R"({"id":12,"result":null,"error":[23,"low difficulty share",null]})", t0 + 7s},
  };
  for (const auto& [line, at] : replies) s.receive(line, at);
  s.tick(t0 + 63s);  // id 13, sent at 3 s, waits exactly 60 s: not yet
  s.sent(s.submit(share("j")), t0 + 63s);
  s.tick(t0 + 63s + 1ms);
  s.receive(R"({"id":13,"result":true})", t0 + 64s);  // too late: it counted already
  s.end(false);
  s.sent(s.submit(share("j")), t0 + 65s);
  s.end(true);

  EXPECT_EQ(results, (std::vector<std::tuple<bool, std::string, std::chrono::milliseconds>>{
                         {true, "", 38ms}, {false, "stale", 5s}, {false, "low difficulty share", 5s}}));
  EXPECT_EQ(messages, (std::vector<std::string>{"ignored 1 reply to no pending request",
                                                    "no answer within 60 s to 1 share",
                                                    "ignored 5 replies to no pending request",
                                                    "no answer to 1 share: the connection ended"}));
  const tlm::ShareCounts c = s.counts();
  EXPECT_EQ(std::vector<uint64_t>({c.sent, c.accepted, c.rejected, c.unanswered, c.in_flight}),
            std::vector<uint64_t>({6, 1, 2, 2, 1}));
}

// A refused login without a job: the connection is given up 30 s later, and a job
// in between keeps it.
TEST(Session, ARefusedLoginIsGivenUpWhenNoJobFollows) {
  for (const bool job : {false, true}) {
    tlm::Session s;
    Recorder rec(s);
    s.begin({"u", "p", "a"});
    s.receive(R"({"id":2,"result":false,"error":[24,"unknown worker",null]})", t0);
    ASSERT_EQ(s.deadline(), t0 + 30s);
    if (job) s.receive(notify_line("j"), t0 + 29s);
    s.tick(t0 + 30s);
    EXPECT_FALSE(s.ended());
    s.tick(t0 + 30s + 1ms);
    EXPECT_EQ(s.ended(), !job);
    EXPECT_EQ(s.login_given_up(), !job);
    EXPECT_EQ(rec.messages.back(),
              job ? "login refused by the pool: unknown worker" : "no job since the login was refused, reconnecting");
  }
}

}  // namespace
