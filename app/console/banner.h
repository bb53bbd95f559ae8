// The start-up banner: ILVO in block letters with the product's title lines.
#pragma once

namespace tlm {

// Prints the banner to standard output, in colour when `color` is set (see
// prescan_color).
// Called once, before any other thread exists.
void print_banner(const char* title, const char* subtitle, const char* version, bool color);

}  // namespace tlm
