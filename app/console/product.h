// The product's name and version, shown in the banner and sent to the pool.
#pragma once

namespace tlm {

inline constexpr const char* kProductName = "Ilvo Varnel TLM";
inline constexpr const char* kProductSubtitle = "Talmic CPU miner (VerusHash 2.2), 1% dev fee";
inline constexpr const char* kVersion = "1.1.0";

}  // namespace tlm
