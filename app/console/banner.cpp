#include "app/console/banner.h"

#include <cstdio>

#include "app/console/log.h"

namespace tlm {

namespace {

// Six rows of 29 columns: full blocks for the strokes, double box lines for the shadow.
const char* const kArt[6] = {
    "██╗██╗     ██╗   ██╗ ██████╗ ",
    "██║██║     ██║   ██║██╔═══██╗",
    "██║██║     ██║   ██║██║   ██║",
    "██║██║     ╚██╗ ██╔╝██║   ██║",
    "██║███████╗ ╚████╔╝ ╚██████╔╝",
    "╚═╝╚══════╝  ╚═══╝   ╚═════╝ ",
};

}  // namespace

void print_banner(const char* title, const char* subtitle, const char* version, bool color) {
  const char* muted = color ? kMuted : "";
  const char* strong = color ? kStrong : "";
  const char* accent = color ? kAccent : "";
  const char* reset = color ? kReset : "";

  printf("\n");
  for (int row = 0; row < 6; ++row) {
    printf("%s  %s%s", accent, kArt[row], reset);
    if (row == 1) printf("   %s%s%s", strong, title, reset);
    if (row == 2) printf("   %s%s%s", strong, subtitle, reset);
    if (row == 3) printf("   %s%s%s", muted, version, reset);
    printf("\n");
  }
  printf("\n");
}

}  // namespace tlm
