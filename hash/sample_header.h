// Made-up block headers for tests, benchmarks and the test pool, so that all of
// them hash the same kind of input the miner does.
#pragma once

#include <cstdint>

#include "hash/header_layout.h"

namespace tlm {

// Fills `header` with bytes drawn from `seed`, shaped like a live network's: the
// solution's length prefix FD 40 05 and a solution that starts 07 00 00 00 06 01,
// so the hash's canonical clearing applies (header byte 143 above 6, byte 148 not
// 0). With `clearing` false the solution starts 06 instead and the clearing does
// not apply. The same seed always gives the same header.
void sample_header(uint64_t seed, uint8_t header[kHeaderSize], bool clearing = true);

}  // namespace tlm
