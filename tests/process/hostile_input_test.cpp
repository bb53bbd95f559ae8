// What a pool, the terminal or the machine can do to the running miner: it keeps
// answering, stops in time, and never writes where it should not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"
#include "tests/support/pool_lines.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

std::string notify(const std::string& job_id) { return testing_support::notify_line(job_id) + "\n"; }

std::string set_target(const std::string& value) { return testing_support::set_target_line(value) + "\n"; }

TEST(HostileInput, PoolValuesAreCheckedAndItsFloodIsThrottled) {
  LoopbackServer server;
  Miner miner(server.port());
  LoopbackPeer pool = server.accept_session();
  // A byte order mark, CRLF ends, NUL padding: all understood.
  pool.send("\xEF\xBB\xBF{\"id\":1,\"result\":[null,\"01020304\"],\"error\":null}\r\n");
  pool.send(std::string("\0\0{\"id\":2,\"result\":true,\"error\":null}\r\n", 40));
  pool.send(set_target("\"0000000000000100000000000000000000000000000000000000000000000000\"") + notify("j1"));
  for (const char* bad : {"\"\"", "5", "\"zz\"", "\"00000000000000000000000000000000000000000000000000000000000000001\"",
                          "\"0000\""})
    pool.send(set_target(bad));
  pool.send("hello pool\r\n" + notify("j2"));
  ASSERT_TRUE(miner.until_count("new job j2", 1, 20000)) << miner.log_text();
  std::vector<std::string> seen;
  for (size_t i = static_cast<size_t>(miner.last_index("authorized")); i < miner.log().size(); ++i)
    seen.push_back(miner.log()[i].text);
  char difficulty[128];
  snprintf(difficulty, sizeof difficulty, "%.2fG", 6.811298960915873e75 / 0x1p200 / 1e9);
  const std::string job = std::string(" · share difficulty ") + difficulty;
  EXPECT_EQ(seen, (std::vector<std::string>{"authorized", "new job j1" + job,
                                            "invalid target from the pool, keeping the previous one",
                                            "invalid target from the pool, keeping the previous one (repeated 4 times)",
                                            "1 line from the pool could not be read", "new job j2" + job}));

  // A flood of distinct jobs: a few lines a second get through, the rest is
  // counted, and every job is either shown or counted.
  std::string flood;
  for (int i = 0; i < 500; ++i) flood += notify(std::string("f") += std::to_string(i));
  pool.send(flood);
  const size_t before = miner.log().size();
  const auto accounted = [&] {
    long n = 0;
    for (size_t i = before; i < miner.log().size(); ++i) {
      const std::string& text = miner.log()[i].text;
      if (text.rfind("new job f", 0) == 0) ++n;
      if (text.find(" more lines from the pool not shown") != std::string::npos) n += std::atol(text.c_str());
    }
    return n >= 500;
  };
  for (int i = 0; !accounted() && i < 100; ++i) {
    pool.send(notify(std::string("late") += std::to_string(i)));
    miner.until(accounted, 200);
  }
  ASSERT_TRUE(accounted()) << miner.log_text();
  const double seconds = std::chrono::duration<double>(miner.log().back().at - miner.log()[before].at).count();
  EXPECT_LT(static_cast<double>(miner.log().size() - before), 20 + 6 * seconds);
  expect_prompt_stop(miner, SIGHUP);
}

// Stdout is a pipe nobody reads, filled to the brim after start-up: logging must
// not hold the pool client or the stop.
TEST(HostileInput, BlockedOutputAndClosedDescriptorsNeitherStopNorMisdirectTheMiner) {
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

mode_t file_type(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// The statistics path, or a name beside it, set up by someone else on the machine.
TEST(HostileInput, StatisticsFileNeverWritesThroughLinksOrIntoSpecialFiles) {
  TempDir dir;
  const std::string victim = dir.path + "/victim";
  std::ofstream(victim) << "precious";
  const std::string link = dir.path + "/link.json", fifo = dir.path + "/fifo.json", sub = dir.path + "/dir.json",
                    plain = dir.path + "/plain.json", hard = dir.path + "/hard.json";
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(victim.c_str(), hard.c_str()), 0);  // a regular file: replaced, never written into
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  ASSERT_EQ(symlink(victim.c_str(), (plain + ".tmp").c_str()), 0);  // the old fixed temporary name
  const struct {
    std::string path;
    mode_t type_after;
    bool refused;
  } cases[] = {{link, S_IFLNK, true}, {fifo, S_IFIFO, true}, {sub, S_IFDIR, true}, {"/dev/null", S_IFCHR, true},
               {plain, S_IFREG, false}, {hard, S_IFREG, false}};

  LoopbackServer server;  // connections wait in its queue: no job, so no mining
  std::vector<std::unique_ptr<Miner>> miners;
  for (const auto& c : cases) miners.push_back(std::make_unique<Miner>(server.port(), std::vector<std::string>{"--stats-file", c.path}));
  for (size_t i = 0; i < std::size(cases); ++i) {
    Miner& m = *miners[i];
    SCOPED_TRACE(cases[i].path);
    if (cases[i].refused) {
      ASSERT_TRUE(m.until_count("cannot write the statistics file " + cases[i].path + ": ", 1, 20000)) << m.log_text();
    } else {
      ASSERT_TRUE(m.until([&] { return read_file(cases[i].path).rfind("{\"hashrate_hs\":0,", 0) == 0; }, 20000))
          << m.log_text();
    }
    expect_prompt_stop(m, SIGTERM);
    EXPECT_EQ(file_type(cases[i].path), cases[i].type_after);
  }
  EXPECT_EQ(read_file(victim), "precious");
  std::system(("rm -rf " + sub).c_str());
  // Only what the test made is left: no temporary files.
  EXPECT_EQ(std::system(("test $(ls -A " + dir.path + " | wc -l) -eq 6").c_str()), 0);
}

}  // namespace
}  // namespace faults
