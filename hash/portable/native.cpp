// Architectures without a hash core of their own hash with the portable one.
#include "hash/verushash.h"

extern "C" const vh_core* vh_native(void) { return nullptr; }
