// Standard output that nobody reads, and standard descriptors closed at start:
// the miner keeps answering, stops in time, and never writes where it should not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

// Stdout is a pipe nobody reads, filled to the brim after start-up: logging must
// not hold the pool client or the stop.
TEST(Output, BlockedOutputAndClosedDescriptorsNeitherStopNorMisdirectTheMiner) {
  LoopbackServer server;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  Miner blocked(server.port(), {}, "127.0.0.1", false, [&] { dup2(out[1], 1); });
  close(out[1]);
  LoopbackPeer blocked_pool = server.accept_session();
  // A second opening of the pipe, non-blocking for the test alone.
  const int filler = open(("/proc/" + std::to_string(blocked.pid()) + "/fd/1").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const std::string block(4096, 'x');
  while (write(filler, block.data(), block.size()) > 0 || errno == EINTR) {
  }
  close(filler);
  blocked_pool.send("{\"id\":2,\"result\":true,\"error\":null}\n" + std::string(2000, '\n') + "junk\n");

  // Started with 0, 1 and 2 closed: the socket must not become standard output
  // (a log line there would be one line more than subscribe and authorize), and
  // the three are /dev/null.
  Miner closed(server.port(), {}, "127.0.0.1", false, [] {
    for (int fd = 0; fd <= 2; ++fd) close(fd);
  });
  LoopbackPeer closed_pool = server.accept_session();
  closed_pool.send("{\"id\":2,\"result\":true,\"error\":null}\n");
  EXPECT_EQ(closed_pool.read_all(1500), "") << "a log line reached the pool";
  for (int fd = 0; fd <= 2; ++fd) {
    char target[32] = {};
    EXPECT_GT(readlink(("/proc/" + std::to_string(closed.pid()) + "/fd/" + std::to_string(fd)).c_str(), target,
                       sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null") << "descriptor " << fd;
  }

  expect_prompt_stop(blocked, SIGTERM);
  expect_prompt_stop(closed, SIGINT);
  close(out[0]);
}

}  // namespace
}  // namespace faults
