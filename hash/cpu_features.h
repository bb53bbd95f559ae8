// The instructions the hash library and every engine kernel are built on.
#pragma once

extern "C" {

// Null when this processor has SSE4.1, SSSE3, AES-NI and PCLMULQDQ; otherwise
// the first that it lacks, as "the processor lacks SSSE3".
const char* vh_missing_instructions();

}  // extern "C"
