#include "miner/job_header.h"

#include <cstring>

namespace tlm {

void build_nonce(const uint8_t job_nonce[kNonceSize], size_t prefix_len, uint64_t range, uint8_t nonce[kNonceSize]) {
  memcpy(nonce, job_nonce, kNonceSize);
  for (size_t i = 20; i < 24; ++i, range >>= 8) nonce[i] = static_cast<uint8_t>(range);
  for (size_t i = prefix_len; i <= 6; ++i, range >>= 8) nonce[i] = static_cast<uint8_t>(range);
}

void build_header(const uint8_t job_header[kJobHeaderSize], const uint8_t solution[kSolutionSize],
                  const uint8_t nonce[kNonceSize], uint8_t hdr[kHeaderSize]) {
  memcpy(hdr, job_header, kNonceOffset);
  memcpy(hdr + kNonceOffset, nonce, kNonceSize);
  hdr[kSolutionOffset] = 0xFD;
  hdr[kSolutionOffset + 1] = 0x40;
  hdr[kSolutionOffset + 2] = 0x05;
  memcpy(hdr + kSolutionOffset + 3, solution, kTailOffset - (kSolutionOffset + 3));
  // The solution's last 15 bytes: nonce bytes 0..6, nonce bytes 20..23, engine nonce.
  memcpy(hdr + kTailOffset, nonce, 7);
  memcpy(hdr + kTailOffset + 7, nonce + 20, 4);
  put_engine_nonce(hdr, 0);
}

}  // namespace tlm
