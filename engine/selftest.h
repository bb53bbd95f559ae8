// The self-test with its two oracles passed in, so that tests can check how it
// counts failures with a broken reference or a broken kernel.
#pragma once

#include <stdint.h>

#include "engine/engine.h"

namespace tlm {

using RefHashFn = void (*)(uint8_t* out, const uint8_t* header);

// tlm_engine_selftest with `reference` in place of the portable hash and `full`
// in place of g_full.
int32_t selftest_with(int32_t lanes, RefHashFn reference, tlm_full_fn full);

}  // namespace tlm
