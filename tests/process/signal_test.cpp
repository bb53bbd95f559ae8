// SIGINT and SIGTERM in every stage of the miner's life: it always ends with exit
// code 0, "stopping" as its last line, and promptly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

void expect_orderly_stop(Miner& miner, int sig, const char* stage) {
  double seconds = 0;
  EXPECT_EQ(miner.stop(sig, &seconds), 0) << stage;
  EXPECT_LT(seconds, kStopSeconds) << stage;
  ASSERT_FALSE(miner.log().empty()) << stage;
  EXPECT_EQ(miner.log().back().text, "stopping") << stage << "\n" << miner.log_text();
}

void stop_at_every_stage(int sig) {
  {
    // Start-up: right after the handlers are installed, while the first dial runs.
    Pool pool({"--difficulty", share_difficulty()});
    Miner miner(pool.port(), {}, "localhost");
    ASSERT_TRUE(miner.until_count("pool ", 1, 20000, &pool));
    expect_orderly_stop(miner, sig, "start-up");
  }
  {
    // Back-off after a refused connection: nothing listens on the port any more.
    uint16_t port;
    {
      LoopbackServer gone;
      port = gone.port();
    }
    Miner miner(port);
    ASSERT_TRUE(miner.until_count("cannot connect to ", 1, 20000)) << miner.log_text();
    expect_orderly_stop(miner, sig, "back-off");
  }
  {
    // Connected, waiting for a subscribe answer that never comes.
    LoopbackServer server;
    Miner miner(server.port());
    LoopbackPeer peer = server.accept(20000);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(miner.until_count("connected to ", 1, 5000)) << miner.log_text();
    expect_orderly_stop(miner, sig, "connected");
  }
  {
    // Mining: every share found up to the stop is accounted for.
    Pool pool({"--difficulty", share_difficulty()});
    Miner miner(pool.port());
    ASSERT_TRUE(miner.until_count("share found", 2, 60000, &pool)) << miner.log_text();
    expect_orderly_stop(miner, sig, "mining");
    expect_no_share_lost(miner, pool);
  }
  {
    // The pause after a connection ended.
    Pool pool({"--close-after", "4"});
    Miner miner(pool.port());
    ASSERT_TRUE(miner.until_count("disconnected, retrying", 1, 20000, &pool)) << miner.log_text();
    expect_orderly_stop(miner, sig, "retry pause");
  }
}

// A listener whose accept queue is full: the kernel drops further connection
// requests, so a client's connect hangs until its own time-out.
class FullListener {
 public:
  FullListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, 0) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    for (int& c : fillers_) {
      c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(c, reinterpret_cast<sockaddr*>(&addr), len);
    }
    usleep(200000);  // the fillers' handshakes complete and fill the queue
  }
  ~FullListener() {
    for (int c : fillers_) close(c);
    close(fd_);
  }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  int fillers_[3] = {-1, -1, -1};
  uint16_t port_ = 0;
};

// A connect in progress is abandoned: the stop does not wait for its time-out.
TEST(Signals, StopDuringAConnectThatHangs) {
  FullListener listener;
  ASSERT_NE(listener.port(), 0);
  Miner miner(listener.port());
  ASSERT_TRUE(miner.until_count("pool ", 1, 20000));
  miner.until([] { return false; }, 1000);
  EXPECT_EQ(miner.count("connected to "), 0u) << "the queue was not full";
  double seconds = 0;
  EXPECT_EQ(miner.stop(SIGINT, &seconds), 0);
  EXPECT_LT(seconds, kStopSeconds);
  ASSERT_FALSE(miner.log().empty());
  EXPECT_EQ(miner.log().back().text, "stopping");
}

// A supervisor may start the miner with the stop signals blocked; it must still stop.
TEST(Signals, StopsWhenStartedWithStopSignalsBlocked) {
  Pool pool({"--difficulty", share_difficulty()});
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  Miner miner(pool.port());
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(miner.until_count("connected to ", 1, 20000, &pool)) << miner.log_text();
  expect_orderly_stop(miner, SIGTERM, "started with signals blocked");
}

TEST(Signals, SigintAndSigtermAtEveryStage) {
  stop_at_every_stage(SIGINT);
  stop_at_every_stage(SIGTERM);
}

}  // namespace
}  // namespace faults
