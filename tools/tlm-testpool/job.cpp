#include "tools/tlm-testpool/job.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "hash/hex.h"
#include "hash/sample_header.h"
#include "miner/target.h"

namespace testpool {

Job make_job(uint64_t number, uint32_t now) {
  Job job;
  char id[24];
  snprintf(id, sizeof id, "%llx", static_cast<unsigned long long>(number));
  job.id = id;

  uint8_t header[tlm::kHeaderSize];
  tlm::sample_header(number * 0x2545F4914F6CDD1Dull + now, header);
  memcpy(job.header, header, tlm::kNonceOffset);
  memset(job.header + tlm::kNonceOffset, 0, tlm::kNonceSize);
  const uint8_t version[4] = {0x04, 0x00, 0x01, 0x00};
  const uint8_t bits[4] = {0x0f, 0x0f, 0x0f, 0x1b};
  memcpy(job.header + tlm::kVersionField.offset, version, sizeof version);
  memcpy(job.header + tlm::kBitsField.offset, bits, sizeof bits);
  for (size_t i = 0; i < tlm::kTimeField.size; ++i)
    job.header[tlm::kTimeField.offset + i] = static_cast<uint8_t>(now >> (8 * i));
  job.ntime = tlm::bin_to_hex(job.header + tlm::kTimeField.offset, tlm::kTimeField.size);

  memcpy(job.solution, header + tlm::kSolutionOffset + sizeof tlm::kSolutionPrefix, sizeof job.solution);
  memset(job.solution + sizeof job.solution - kMinerSolutionBytes, 0, kMinerSolutionBytes);
  return job;
}

std::string notify_line(const Job& job) {
  std::string line = "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"" + job.id + "\"";
  for (const tlm::JobField& f : tlm::kJobFields) line += ",\"" + tlm::bin_to_hex(job.header + f.offset, f.size) + "\"";
  return line + ",true,\"" + tlm::bin_to_hex(job.solution, sizeof job.solution) + "\"]}";
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
  return "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[\"" + tlm::bin_to_hex(big_endian, 32) + "\"]}";
}

}  // namespace testpool
