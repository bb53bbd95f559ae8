// What a Talmic wallet address looks like.
#pragma once

#include <string>

namespace tlm {

// The wallet of the example config file, to be replaced by the user's own.
inline constexpr const char* kWalletPlaceholder = "YOUR_TALMIC_ADDRESS";

// True for a Base58Check address of 34 characters: 25 bytes whose last 4 are the
// start of SHA-256(SHA-256(the first 21)).
bool is_talmic_address(const std::string& text);

}  // namespace tlm
