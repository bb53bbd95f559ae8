// The self-test with its oracles passed in, so that tests can check how it counts
// failures with a broken reference or a broken kernel.
#pragma once

#include <stdint.h>

#include <vector>

#include "engine/engine.h"

namespace tlm {

using RefHashFn = void (*)(uint8_t* out, const uint8_t* header);

// One full kernel at one lane count (brought into 1..64).
struct SelftestCase {
  tlm_full_fn full;
  int32_t lanes;
};

// tlm_engine_selftest of `cases`, with `reference` in place of the portable hash:
// the known answer once, then each case against reference hashes computed once for
// the most lanes. At most 1 + 4 x the cases' lanes failures.
int32_t selftest_with(const std::vector<SelftestCase>& cases, RefHashFn reference);

}  // namespace tlm
