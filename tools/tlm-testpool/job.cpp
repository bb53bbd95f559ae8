#include "tools/tlm-testpool/job.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "hash/hex.h"
#include "miner/target.h"

namespace testpool {

namespace {

// splitmix64: enough to make every job's hashes and template look different.
uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void fill_random(uint8_t* p, size_t n, uint64_t& state) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(next_random(state));
}

using tlm::bin_to_hex;

}  // namespace

Job make_job(uint64_t number, uint32_t now) {
  Job job;
  uint64_t state = number * 0x2545F4914F6CDD1Dull + now;
  char id[24];
  snprintf(id, sizeof id, "%llx", static_cast<unsigned long long>(number));
  job.id = id;

  memset(job.header, 0, sizeof job.header);
  const uint8_t version[4] = {0x04, 0x00, 0x01, 0x00};
  memcpy(job.header, version, 4);
  fill_random(job.header + 4, 96, state);  // previous block, merkle root, sapling root
  for (int i = 0; i < 4; ++i) job.header[100 + i] = static_cast<uint8_t>(now >> (8 * i));
  const uint8_t bits[4] = {0x0f, 0x0f, 0x0f, 0x1b};
  memcpy(job.header + 104, bits, 4);
  job.ntime = bin_to_hex(job.header + 100, 4);

  memset(job.solution, 0, sizeof job.solution);
  const uint8_t lead[6] = {0x07, 0x00, 0x00, 0x00, 0x06, 0x01};
  memcpy(job.solution, lead, sizeof lead);
  fill_random(job.solution + 6, sizeof job.solution - 6 - kMinerSolutionBytes, state);
  return job;
}

std::string notify_line(const Job& job) {
  const uint8_t* h = job.header;
  return "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"" + job.id + "\",\"" + bin_to_hex(h, 4) +
         "\",\"" + bin_to_hex(h + 4, 32) + "\",\"" + bin_to_hex(h + 36, 32) + "\",\"" + bin_to_hex(h + 68, 32) +
         "\",\"" + job.ntime + "\",\"" + bin_to_hex(h + 104, 4) + "\",true,\"" +
         bin_to_hex(job.solution, sizeof job.solution) + "\"]}";
}

void difficulty_to_target(double difficulty, uint8_t target[32]) {
  double t = tlm::kDifficultyOne / difficulty;
  if (!(t < std::ldexp(1.0, 256))) {
    memset(target, 0xff, 32);
    return;
  }
  // Peel off one byte at a time from the top; each step is exact in a double.
  for (int i = 31; i >= 0; --i) {
    double byte = std::floor(std::ldexp(t, -8 * i));
    target[i] = static_cast<uint8_t>(byte);
    t -= std::ldexp(byte, 8 * i);
  }
}

std::string set_target_line(const uint8_t target[32]) {
  uint8_t big_endian[32];
  for (int i = 0; i < 32; ++i) big_endian[i] = target[31 - i];
  return "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[\"" + bin_to_hex(big_endian, 32) + "\"]}";
}

}  // namespace testpool
