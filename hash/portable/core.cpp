// The portable hash core: the hash with the plain C++ word.
#include "hash/portable/word.h"

#include "hash/core.h"

extern "C" const vh_core vh_portable = {"portable", job_init, hash_header, hash_ref};
