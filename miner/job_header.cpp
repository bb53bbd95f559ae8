#include "miner/job_header.h"

#include <cstring>

namespace tlm {

namespace {

// Byte 23 of the nonce field: it differs per publication and rises on each refresh.
constexpr size_t kRefreshByte = 23;
// The solution's last 15 bytes: nonce bytes 0..6, nonce bytes 20..23, engine nonce.
constexpr size_t kTailOffset = 1472;

}  // namespace

void build_nonce(const uint8_t job_nonce[kNonceSize], size_t prefix_len, uint64_t seq, uint16_t index,
                 uint8_t nonce[kNonceSize]) {
  memcpy(nonce, job_nonce, kNonceSize);
  for (size_t i = prefix_len; i <= 6; ++i) nonce[i] = static_cast<uint8_t>(seq >> (8 * (i - prefix_len)));
  nonce[20] = static_cast<uint8_t>(index);
  nonce[21] = static_cast<uint8_t>(index >> 8);
  nonce[22] = 0;
  nonce[kRefreshByte] = static_cast<uint8_t>(seq);
}

void build_header(const uint8_t job_header[kJobHeaderSize], const uint8_t solution[kSolutionSize],
                  const uint8_t nonce[kNonceSize], uint8_t hdr[kBlockHeaderSize]) {
  memcpy(hdr, job_header, kNonceOffset);
  memcpy(hdr + kNonceOffset, nonce, kNonceSize);
  hdr[kSolutionOffset] = 0xFD;
  hdr[kSolutionOffset + 1] = 0x40;
  hdr[kSolutionOffset + 2] = 0x05;
  memcpy(hdr + kSolutionOffset + 3, solution, kTailOffset - (kSolutionOffset + 3));
  memcpy(hdr + kTailOffset, nonce, 7);
  memcpy(hdr + kTailOffset + 7, nonce + 20, 4);
  put_engine_nonce(hdr, 0);
}

void raise_refresh_byte(uint8_t nonce[kNonceSize], uint8_t hdr[kBlockHeaderSize]) {
  nonce[kRefreshByte] = static_cast<uint8_t>(nonce[kRefreshByte] + 1);
  hdr[kNonceOffset + kRefreshByte] = nonce[kRefreshByte];
  hdr[kTailOffset + 10] = nonce[kRefreshByte];
}

}  // namespace tlm
