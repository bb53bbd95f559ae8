#include "stratum/failover.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using std::chrono::seconds;

// Plays a script of events against a Failover with the program's timings and
// returns every step it asked for. Tokens: "d", "c", "j", "e" a failed dial, a
// connection, a job and the end of a connection of the current pool ("d0" from
// pool 0 whatever is current); "D", "J", "E" a failed dial, a job and the end
// of the probe's connection; "+N" N seconds pass; "~N" N seconds pass with a
// job from the current pool every 10 s.
// Steps: "S<pool>:<reason>", "P" start a probe, "X" stop it.
std::string play(size_t pools, const std::string& script) {
  tlm::Failover::Time now{};
  tlm::Failover failover(pools, now);
  std::string steps;
  auto collect = [&] {
    for (auto s = failover.next(now); s.kind != tlm::Failover::Step::kNone; s = failover.next(now)) {
      if (!steps.empty()) steps += ' ';
      if (s.kind == tlm::Failover::Step::kSwitch) steps += "S" + std::to_string(s.pool) + ":" + s.reason;
      if (s.kind == tlm::Failover::Step::kStartProbe) steps += "P";
      if (s.kind == tlm::Failover::Step::kStopProbe) steps += "X";
    }
  };
  std::istringstream in(script);
  for (std::string t; in >> t; collect()) {
    if (t[0] == '+') now += seconds(std::stoi(t.substr(1)));
    if (t[0] == '~') {
      for (int left = std::stoi(t.substr(1)); left > 0; left -= 10) {
        now += seconds(std::min(left, 10));
        failover.job(failover.current(), now);
        collect();
      }
    }
    if (t == "d") failover.dial_failed(failover.current());
    if (t == "d0") failover.dial_failed(0);
    if (t == "c") failover.connected(failover.current());
    if (t == "j") failover.job(failover.current(), now);
    if (t == "e") failover.ended(failover.current(), now);
    if (t == "D") failover.probe_dial_failed();
    if (t == "J") failover.probe_job(now);
    if (t == "E") failover.probe_ended();
  }
  return steps;
}

TEST(Failover, SwitchesForTheRightReasonsAndReturnsToTheFirstPool) {
  const std::string dials = "S1:3 connection attempts failed", ended = "S1:3 connections ended within 30 s";
  struct Case {
    size_t pools;
    const char* script;
    std::string steps;
  } cases[] = {
      {1, "d d d +600", ""},
      {2, "d d c ~40 e d d", ""},
      {2, "d d d", dials},
      // A connection that ends before it held a job 30 s fails like a dial; one that did starts the count again.
      {2, "c j ~29 e c e c +20 j ~40 e c j +5 e c e", ""},
      {2, "c j +29 e c e c j e", ended},
      {2, "d c j e c j e", "S1:1 connection attempt failed, 2 connections ended within 30 s"},
      // Left for that, the first pool is taken back once a probe held its job 30 s, too.
      {2, "c j e c j e c j e ~120 J ~20 E ~100 J ~30", ended + " P X P S0:the first pool delivers jobs again"},
      {2, "+59 j +59 +1", "S1:no job for 60 s"},
      // While on a backup the first pool is probed every 2 minutes; a failed or
      // jobless probe ends, one that gets a job takes mining back.
      {2, "d d d ~119 ~1 D ~120 ~59 ~1 ~60 J", dials + " P X P X P S0:the first pool delivers jobs again"},
      // The backup fails during a probe: the next pool, wrapping round.
      {2, "d d d ~120 d d d", dials + " P S0:3 connection attempts failed"},
      {3, "d d d ~120 d d d ~120", dials + " P S2:3 connection attempts failed P"},
      {3, "d d d d d d d d d", dials + " S2:3 connection attempts failed S0:3 connection attempts failed"},
      // Late reports from a pool left behind, or from no probe, change nothing.
      {2, "d d d d0 d0 d0 J ~120", dials + " P"},
  };
  for (const Case& c : cases) EXPECT_EQ(play(c.pools, c.script), c.steps) << c.pools << " pools: " << c.script;
}

}  // namespace
