#include "tests/process/session.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/text_match.h"

namespace faults {

namespace {

// A log line is "[YYYY-mm-dd HH:MM:SS] message"; the banner lines have no stamp.
bool stamped_message(const std::string& line, std::string& message) {
  std::vector<std::string> m;
  if (!testing_support::search(line, R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (.*)$)", &m)) return false;
  message = m[1];
  return true;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// The share counts of the miner's exit summary line.
struct ExitCounts {
  long found = -1, sent = -1, accepted = -1, rejected = -1, unanswered = -1, in_flight = -1, dropped = -1;
};

ExitCounts expect_exit_summary_adds_up(const Miner& miner) {
  const std::string summary =
      R"(^uptime \d+:\d\d:\d\d · average .* · shares found (\d+) · sent (\d+) · accepted (\d+) · rejected (\d+) · )"
      R"(unanswered (\d+) · in flight (\d+) · dropped (\d+)$)";
  ExitCounts c;
  const int at = miner.last_index("uptime ");
  std::vector<std::string> m;
  if (at < 0 || !testing_support::search(miner.log()[static_cast<size_t>(at)], summary, &m)) {
    ADD_FAILURE() << "no exit summary in\n" << miner.log_text();
    return c;
  }
  c = {std::stol(m[1]), std::stol(m[2]), std::stol(m[3]), std::stol(m[4]),
       std::stol(m[5]), std::stol(m[6]), std::stol(m[7])};
  EXPECT_EQ(c.found, static_cast<long>(miner.count("share found")));
  // Every share is reported found before the pool's answer to it, and every one
  // dropped or left unanswered is told of.
  long found = 0, answered = 0, dropped = 0, unanswered = 0;
  for (const std::string& l : miner.log()) {
    found += starts_with(l, "share found");
    answered += starts_with(l, "share accepted") || starts_with(l, "share rejected");
    EXPECT_LE(answered, found) << l;
    if (testing_support::search(l, R"(^dropped (\d+) shares?: )", &m)) dropped += std::stol(m[1]);
    if (testing_support::search(l, R"(^no answer (within \d+ s )?to (\d+) shares?)", &m)) {
      unanswered += std::stol(m[2]);
    }
  }
  EXPECT_EQ(dropped, c.dropped);
  EXPECT_EQ(unanswered, c.unanswered);
  EXPECT_EQ(c.found, c.sent + c.dropped);
  EXPECT_EQ(c.sent, c.accepted + c.rejected + c.unanswered + c.in_flight);
  return c;
}


}  // namespace

const char* share_difficulty() { return kSanitized ? "1500" : "20000"; }

Pool::Pool(std::vector<std::string> args) {
  args.insert(args.begin(), {TLM_TESTPOOL_BINARY, "--port", "0", "--summary", dir_.path + "/summary.json", "--seconds",
                             "300"});
  child_ = std::make_unique<testing_support::Process>(args);
  std::string line;
  std::vector<std::string> m;
  if (child_->read_line(line, 10000) && testing_support::search(line, R"(listening on 127\.0\.0\.1:(\d+))", &m)) {
    port_ = static_cast<uint16_t>(std::stoi(m[1]));
  }
  lines_.push_back(line);
}

void Pool::pump() {
  std::string line;
  while (child_ && child_->read_line(line, 1)) lines_.push_back(line);
}

size_t Pool::count(const std::string& text) const {
  size_t n = 0;
  for (const std::string& l : lines_) n += l.find(text) != std::string::npos;
  return n;
}

std::string Pool::log_text() const {
  std::string all;
  for (const std::string& l : lines_) all += l + "\n";
  return all;
}

std::string Pool::stop_and_summarize() {
  if (!child_) return "";
  child_->signal(SIGTERM);
  if (child_->wait(10000) != 0) return "";
  pump();
  return read_file(dir_.path + "/summary.json");
}

Miner::Miner(uint16_t port, std::vector<std::string> extra, const std::string& host, bool terminal,
             std::function<void()> prepare)
    : child_([&] {
        testing_support::Launch launch{{TLM_MINER_BINARY, "-o", host + ":" + std::to_string(port), "-u",
                                        "RFaultTestWallet", "-t", "1", "--no-color"}};
        launch.argv.insert(launch.argv.end(), extra.begin(), extra.end());
        launch.terminal = terminal;
        launch.prepare = std::move(prepare);
        return launch;
      }()) {}

bool Miner::read_one(int timeout_ms) {
  std::string line, message;
  if (!child_.read_line(line, timeout_ms)) return false;
  if (stamped_message(line, message)) log_.push_back(message);
  return true;
}

bool Miner::until(const std::function<bool()>& done, int timeout_ms, Pool* pool) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (pool != nullptr) pool->pump();
    if (Clock::now() > deadline) return false;
    read_one(50);
  }
  if (pool != nullptr) pool->pump();
  return true;
}

bool Miner::until_count(const std::string& prefix, size_t n, int timeout_ms, Pool* pool) {
  return until([&] { return count(prefix) >= n; }, timeout_ms, pool);
}

size_t Miner::count(const std::string& prefix) const {
  size_t n = 0;
  for (const std::string& l : log_) n += starts_with(l, prefix);
  return n;
}

int Miner::last_index(const std::string& prefix) const {
  for (int i = static_cast<int>(log_.size()) - 1; i >= 0; --i) {
    if (starts_with(log_[static_cast<size_t>(i)], prefix)) return i;
  }
  return -1;
}

int Miner::stop(int sig, double* seconds) {
  const auto sent = Clock::now();
  child_.signal(sig);
  const int code = child_.wait(20000);
  if (seconds != nullptr) *seconds = std::chrono::duration<double>(Clock::now() - sent).count();
  while (read_one(0)) {
  }
  return code;
}

long Miner::status_field(const std::string& name) const {
  std::ifstream in("/proc/" + std::to_string(child_.pid()) + "/status");
  std::string key;
  long value;
  while (in >> key) {
    if (key == name + ":" && in >> value) return value;
    in.ignore(1 << 20, '\n');
  }
  return -1;
}

std::string Miner::log_text() const {
  std::string all;
  for (const std::string& l : log_) all += l + "\n";
  return all;
}

void expect_prompt_stop(Miner& miner, int sig) {
  double seconds = 0;
  EXPECT_EQ(miner.stop(sig, &seconds), 0);
  EXPECT_LT(seconds, kStopSeconds);
}

long number_after(const std::string& text, const std::string& key) {
  std::vector<std::string> m;
  return testing_support::search(text, key + R"([^0-9]*(\d+))", &m) ? std::stol(m[1]) : -1;
}

bool accepted_after_last(const Miner& m, const std::string& prefix) {
  const int last = m.last_index(prefix);
  return last >= 0 && m.last_index("share accepted") > last;
}

void expect_no_share_lost(const Miner& miner, Pool& pool) {
  const std::string summary = pool.stop_and_summarize();
  const ExitCounts c = expect_exit_summary_adds_up(miner);
  // A connection that ends can leave shares unsent (dropped) or unanswered (the
  // pool may have counted them): all are in the miner's counts, none is lost.
  EXPECT_GE(number_after(summary, "\"accepted\":"), c.accepted) << summary;
  EXPECT_LE(number_after(summary, "\"accepted\":"), c.sent) << summary;
  EXPECT_EQ(number_after(summary, "\"rejected\":"), 0) << summary;
}

std::vector<std::string> fixture_certificate_options() {
  const std::string data = TLM_TEST_DATA;
  return {"--tls-cert", data + "/self_signed_cert.pem", "--tls-key", data + "/self_signed_key.pem"};
}

}  // namespace faults
