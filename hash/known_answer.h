// A block header with its known VerusHash 2.2, the one place this data lives.
#pragma once

#include <cstdint>

extern "C" {

extern const uint8_t kat_hdr[1487];  // a 1487-byte block header
extern const uint8_t kat_hash[32];   // its hash, byte 0 first

}  // extern "C"
