// Feeds arbitrary pool lines to a pool client without a socket. Each input is
// one connection's worth of lines; published jobs must always be complete.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "stratum/stratum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tlm::Stratum client;
  uint64_t last_seq = 0;
  client.on_work = [&](const tlm::Work& w) {
    const size_t n = w.extranonce1.size();
    if (w.seq != last_seq + 1 || n < 1 || n > 7 || memcmp(w.header + 108, w.extranonce1.data(), n) != 0) {
      __builtin_trap();
    }
    last_seq = w.seq;
  };
  client.on_share = [](const tlm::ShareResult&) {};
  client.on_message = [](const std::string&) {};

  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t lf = text.find('\n', begin);
    if (lf == std::string::npos) lf = text.size();
    if (lf > begin) client.handle(text.substr(begin, lf - begin));
    begin = lf + 1;
  }
  return 0;
}
