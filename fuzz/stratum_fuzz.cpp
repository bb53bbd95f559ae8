// Feeds arbitrary pool lines to a protocol session. Each input is one connection's
// worth of lines, a millisecond apart; published jobs must always be complete.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "stratum/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tlm::Session session;
  uint64_t last_seq = 0;
  session.on_work = [&](const tlm::Work& w) {
    const size_t n = w.extranonce1.size();
    if (w.seq != last_seq + 1 || n < 1 || n > 7 || memcmp(w.header + tlm::kNonceOffset, w.extranonce1.data(), n) != 0) {
      __builtin_trap();
    }
    last_seq = w.seq;
  };
  session.begin({"R.rig", "x", "fuzz/1"});
  auto now = tlm::Session::Clock::time_point{};
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t lf = text.find('\n', begin);
    if (lf == std::string::npos) lf = text.size();
    now += std::chrono::milliseconds(1);
    if (lf > begin) session.receive(text.substr(begin, lf - begin), now);
    session.tick(now);
    begin = lf + 1;
  }
  return 0;
}
