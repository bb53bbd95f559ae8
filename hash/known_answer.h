// A block header with its known VerusHash 2.2, the one place this data lives.
#pragma once

#include <cstdint>

#include "hash/header_layout.h"

extern "C" {

extern const uint8_t kat_hdr[tlm::kHeaderSize];  // a block header
extern const uint8_t kat_hash[tlm::kHashSize];  // its hash, byte 0 first

}  // extern "C"
