// What the client makes of pool lines, fed straight to handle() without a socket.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stratum/stratum.h"
#include "tests/stratum/recorder.h"
#include "tests/support/pool_lines.h"

namespace {

using stratum_test::Recorder;
using testing_support::notify_line;
using testing_support::set_target_line;

const std::string kSubscribed = "{\"id\":1,\"result\":[null,\"a1b2c3d4\"],\"error\":null}";

TEST(StratumHandle, PublishesOnlyOnceJobTargetAndPrefixAreKnownInAnyOrder) {
  tlm::Stratum client;
  Recorder rec(client);
  client.handle(notify_line("j1"));
  client.handle(set_target_line("\"ff\""));
  EXPECT_TRUE(rec.works.empty());
  client.handle(kSubscribed);  // the prefix alone publishes nothing
  EXPECT_TRUE(rec.works.empty());
  client.handle(set_target_line("\"ff\""));
  client.handle(set_target_line("\"ff\""));
  client.handle(notify_line("j2", "0A0b0C0d", std::string(2688, 'e'), "\"true\""));
  ASSERT_EQ(rec.works.size(), 3u);
  EXPECT_EQ(rec.works[0].seq, 1u);
  EXPECT_EQ(rec.works[1].seq, 2u);  // same target again: a new publication of the same job
  EXPECT_EQ(rec.works[1].job_id, "j1");
  EXPECT_TRUE(rec.works[1].clean);

  const tlm::Work& w = rec.works[2];
  EXPECT_EQ(w.seq, 3u);
  EXPECT_EQ(w.job_id, "j2");
  EXPECT_EQ(w.ntime, "5f5e1000");
  EXPECT_FALSE(w.clean);  // a string, even "true", is not the flag
  const uint8_t head[] = {0x0a, 0x0b, 0x0c, 0x0d, 0x11};
  EXPECT_EQ(memcmp(w.header, head, 5), 0);
  EXPECT_EQ(w.header[35], 0x11);
  EXPECT_EQ(w.header[36], 0x22);
  EXPECT_EQ(w.header[68], 0x33);
  EXPECT_EQ(w.header[99], 0x33);
  const uint8_t tail[] = {0x5f, 0x5e, 0x10, 0x00, 0x1d, 0x00, 0xff, 0xff, 0xa1, 0xb2, 0xc3, 0xd4, 0x00};
  EXPECT_EQ(memcmp(w.header + 100, tail, sizeof tail), 0);
  EXPECT_EQ(w.header[139], 0);
  EXPECT_EQ(w.extranonce1, (std::vector<uint8_t>{0xa1, 0xb2, 0xc3, 0xd4}));
  EXPECT_EQ(w.solution[0], 0xee);
  EXPECT_EQ(w.solution[1343], 0xee);
  EXPECT_EQ(w.target[0], 0xff);
  EXPECT_EQ(w.target[1], 0);
  EXPECT_EQ(rec.works[0].solution[0], 0x07);  // short template: zero-filled on the right
  EXPECT_EQ(rec.works[0].solution[1], 0x01);
  EXPECT_EQ(rec.works[0].solution[2], 0x00);
  EXPECT_TRUE(rec.messages.empty());
}

// Refused target values are checked where the user sees them (the process tests).
TEST(StratumHandle, TargetsAreRightAlignedBigEndianHex) {
  tlm::Stratum client;
  Recorder rec(client);
  client.handle(kSubscribed);
  client.handle(notify_line("j"));
  client.handle(set_target_line("\"00000000ffff" + std::string(52, '0') + "\""));
  client.handle(set_target_line("\"0102\""));
  ASSERT_EQ(rec.works.size(), 2u);
  const uint8_t* t = rec.works[0].target;
  EXPECT_EQ(t[31] | t[30] | t[29] | t[28], 0);
  EXPECT_EQ(t[27], 0xff);
  EXPECT_EQ(t[26], 0xff);
  EXPECT_EQ(t[25], 0);
  EXPECT_EQ(rec.works[1].target[0], 0x02);  // a short value is the low end
  EXPECT_EQ(rec.works[1].target[1], 0x01);
  EXPECT_EQ(rec.works[1].target[2], 0);
}

TEST(StratumHandle, RepliesToSubscribeAndAuthorize) {
  tlm::Stratum client;
  Recorder rec(client);
  client.handle("{\"id\":1,\"result\":[null,\"0011223344556677\"],\"error\":null}");
  client.handle("{\"id\":1,\"result\":[null,\"\"],\"error\":null}");
  client.handle("{\"id\":1,\"result\":true,\"error\":null}");
  client.handle("{\"id\":2,\"result\":true,\"error\":null}");
  client.handle("{\"id\":2,\"result\":false,\"error\":[20,\"bad wallet\",null]}");
  client.handle("{\"id\":2,\"result\":null,\"error\":\"banned\"}");
  client.handle("{\"id\":2,\"result\":false,\"error\":[20]}");
  client.handle("{\"id\":5,\"result\":true}");
  client.handle("{\"id\":\"2\",\"result\":true}");
  client.handle("[1,2]");
  client.handle("not json");
  client.handle("{\"method\":\"mining.ping\",\"id\":2,\"result\":true}");
  EXPECT_EQ(rec.messages,
            (std::vector<std::string>{"unsupported subscribe answer from the pool",
                                      "unsupported subscribe answer from the pool",
                                      "unsupported subscribe answer from the pool", "authorized",
                                      "login refused by the pool: bad wallet", "login refused by the pool: banned",
                                      "login refused by the pool", "ignored 1 reply to no pending request",
                                      "1 line from the pool could not be read"}));  // the next is only counted
}

}  // namespace
