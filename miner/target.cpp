#include "miner/target.h"

namespace tlm {

bool meets_target(const uint8_t hash[32], const uint8_t target[32]) {
  for (int i = 31; i >= 0; --i)
    if (hash[i] != target[i]) return hash[i] < target[i];
  return true;
}

uint64_t target_hi(const uint8_t target[32]) {
  uint64_t v = 0;
  for (int i = 31; i >= 24; --i) v = v << 8 | target[i];
  return v;
}

double share_difficulty(const uint8_t value[32]) {
  double v = 0.0;
  for (int i = 31; i >= 0; --i) v = v * 256.0 + value[i];
  return v > 0.0 ? kDifficultyOne / v : 0.0;
}

}  // namespace tlm
