#include "tools/tlm-testpool/bad_lines.h"

#include <iterator>

#include "hash/hex.h"

namespace testpool {

namespace {

// A literal with NUL bytes in it, as a string of its full length.
template <size_t N>
std::string with_nuls(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const std::string kJunk[] = {
    "this is not json",
    "[1,2,3]",
    "{\"id\":2,\"result\"",
    "{}",
    "\x01\x02\xff\xfe binary",
    with_nuls("\0\0\0{\"id\":2,\"result\":true}"),
    with_nuls("{\"id\":null,\"method\":\"mining.notify\0\",\"params\":[]}"),
    "{\"id\":null,\"method\":\"mining.\xc0\xaf\xff\",\"params\":[]}",
    "{\"id\":null,\"method\":\"mining.unknown\",\"params\":[]}",
    "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"short\"]}",
    "{\"id\":null,\"method\":\"mining.notify\",\"params\":\"not an array\"}",
    "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[\"zz\"]}",
    "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[\"1" + std::string(64, '0') + "\"]}",
    "{\"id\":null,\"method\":\"mining.set_target\",\"params\":{}}",
    "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[]}",
    "{\"id\":\"12\",\"result\":true,\"error\":null}",
    "{\"id\":-12,\"result\":true,\"error\":null}",
    "{\"id\":1e999,\"result\":true,\"error\":null}",
    "{\"id\":123456789012345678901234567890123456789,\"result\":true,\"error\":null}",
    "{\"id\":3,\"result\":true,\"error\":null}",
    "{\"id\":5,\"result\":null,\"error\":[21,\"\\u001b[2J\",null]}",
    "{\"id\":9,\"result\":true,\"error\":null,\"extra\":\"\\ud800\"}",
    "{\"method\":17,\"id\":9}",
    "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"\xff\xfe\"",
    std::string(40, '[') + std::string(40, ']'),
    std::string(5000, '{'),
    "[" + std::string(60000, '9') + "]",
    "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]",
};

using tlm::bin_to_hex;

}  // namespace

const std::string& junk_line(size_t n) { return kJunk[n % std::size(kJunk)]; }

std::vector<std::string> broken_notify_lines(const Job& job) {
  const std::string sol = bin_to_hex(job.solution, sizeof job.solution);
  // The hex of header field `f`, `less` bytes short.
  const auto field = [&](const tlm::JobField& f, size_t less = 0) {
    return bin_to_hex(job.header + f.offset, f.size - less);
  };
  // The nine parameters as JSON texts, the job's own values to start with.
  std::vector<std::string> good(9);
  good[0] = "\"bad-" + job.id + "\"";
  for (const tlm::JobField& f : tlm::kJobFields) good[f.param] = "\"" + field(f) + "\"";
  good[7] = "true";
  good[8] = "\"" + sol + "\"";
  const tlm::JobField* f = tlm::kJobFields;
  const std::pair<size_t, std::string> breaks[] = {
      {1, "\"0400010\""},                        // version one digit short
      {1, "4"},                                  // version not a string
      {2, "\"" + field(f[1]) + "00\""},          // previous hash one byte long
      {3, "\"" + field(f[2], 1) + "zz\""},       // merkle root with non-hex digits
      {4, "\"" + field(f[3], 1) + "\""},         // sapling root one byte short
      {5, "\"" + job.ntime + "0\""},                // time of nine digits
      {6, "\"0f0f0f1\u00e9\""},                     // bits with a non-ASCII character
      {8, "\"" + sol + "0\""},                      // solution of odd length
      {8, "\"" + sol + "00\""},                     // solution one byte too long
      {8, "\"07 00\""},                             // solution with a space
  };
  std::vector<std::string> lines;
  for (const auto& [index, value] : breaks) {
    std::vector<std::string> params = good;
    params[index] = value;
    std::string line = "{\"id\":null,\"method\":\"mining.notify\",\"params\":[";
    for (size_t i = 0; i < params.size(); ++i) line += (i ? "," : "") + params[i];
    lines.push_back(line + "]}");
  }
  std::string short_line = "{\"id\":null,\"method\":\"mining.notify\",\"params\":[";
  for (size_t i = 0; i < 8; ++i) short_line += (i ? "," : "") + good[i];
  lines.push_back(short_line + "]}");
  return lines;
}

// A miner checks its buffer after each read of up to 16 KiB, so a line feed within
// one read of the 1 MiB mark can still end the line; 32 KiB past it never can.
std::string overlong_line() { return std::string(1048576 + 32768, 'x'); }

}  // namespace testpool
