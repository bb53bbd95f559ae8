// Makes text from the pool safe to print on the user's terminal.
#pragma once

#include <string>

namespace tlm {

// `text` with every byte that could drive the terminal written as \xNN: C0 controls,
// DEL, the UTF-8 encodings of C1 controls (U+0080..U+009F) and every byte that is
// not part of valid UTF-8. Printable ASCII and other valid UTF-8 stay as they are.
std::string printable(const std::string& text);

// True when printable() would leave `text` as it is.
bool is_printable(const std::string& text);

}  // namespace tlm
