// The hash engine: one global initialisation that picks the kernels for this
// processor, and per-thread contexts that hold a prepared job and the lane records
// the kernels hash in. Plain C interface so that the kernels can be chosen at run
// time behind a function pointer.
#pragma once

#include <stdint.h>

#include "hash/header_layout.h"
#include "hash/job_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kTlmHeaderSize = tlm::kHeaderSize,
  kTlmHashSize = tlm::kHashSize,
  kTlmKeySize = tlm::kKeyBytes,
  kTlmJobSize = tlm::kJobBytes,
  kTlmLaneStride = 9600,
  kTlmLaneAreaSize = 2 * 1024 * 1024,
  kTlmMaxLanes = 64,
  kTlmMaxFound = 8,
};

// Hashes nonces nonce_start, nonce_start+1, ... (wrapping) in batches of `lanes`
// until at least `count` are done, appends every nonce whose hash bytes 24..31
// (little-endian) are <= target_hi to found[*nfound] while *nfound < 8, and
// returns the number of nonces hashed.
typedef uint32_t tlm_scan_kernel(const uint8_t* job, uint8_t* scratch, int32_t lanes,
                                 uint32_t nonce_start, uint32_t count, uint64_t target_hi,
                                 uint32_t* found, int32_t* nfound);
// Writes the 32-byte hash of nonce nonce_base + i to out[32i..32i+31] for every
// lane i; a null out hashes without writing.
typedef void tlm_full_kernel(const uint8_t* job, uint8_t* scratch, int32_t lanes,
                             uint32_t nonce_base, uint8_t* out);
typedef tlm_scan_kernel* tlm_scan_fn;
typedef tlm_full_kernel* tlm_full_fn;

// The portable kernel, which runs on any processor; each architecture's own
// kernels are in its folder's list (tlm_engine_kernels).
tlm_scan_kernel tlm_scan_portable;
tlm_full_kernel tlm_full_portable;

// The selected kernels; written only by tlm_engine_global_init and
// tlm_engine_use, before any mining thread runs.
extern tlm_scan_fn g_scan;
extern tlm_full_fn g_full;
extern const char* g_isa;

// One kernel build as users see it.
typedef struct tlm_kernel {
  const char* name;         // what tlm_engine_use takes: "avx512", "neon", "portable", ...
  const char* description;  // one line: how it hashes
  const char* needs;        // the processor features and register state it needs
  tlm_scan_fn scan;
  tlm_full_fn full;
} tlm_kernel;

// One mining thread's engine state. Owns both buffers.
typedef struct tlm_engine {
  uint8_t* job;      // job state, kTlmJobSize bytes, 64-byte aligned
  uint8_t* scratch;  // lane area, kTlmLaneAreaSize bytes, 2 MiB aligned
  int32_t lanes;     // nonces hashed side by side, 1..64
  const tlm_kernel* kernel;  // what scan and full hash with
} tlm_engine;

// Selects the widest kernel that this processor and its operating system can run,
// undoing any tlm_engine_use. Call before any mining thread starts.
void tlm_engine_global_init(void);
// Name of the selected kernel ("portable" before tlm_engine_global_init).
const char* tlm_engine_isa(void);
// Every kernel of this architecture, widest first, the portable one last; *count
// receives their number.
const tlm_kernel* tlm_engine_kernels(int32_t* count);
// Null when this processor and operating system can run `kernel` (an entry of
// tlm_engine_kernels), otherwise a one-line reason such as "the processor lacks VAES".
// The portable kernel runs everywhere.
const char* tlm_engine_unusable(const tlm_kernel* kernel);
// Selects the kernel called `name`; call it after tlm_engine_global_init, which
// selects the widest. Returns null on success; otherwise a one-line message saying
// why it was refused (valid until the next call), and the selection stays as it was.
const char* tlm_engine_use(const char* name);
// The selected kernel's entry in tlm_engine_kernels.
const tlm_kernel* tlm_engine_selected(void);
// One line for the start-up log, valid until the selection changes: the selected
// kernel, and why the next wider one is not in use (not usable here, or forced).
const char* tlm_engine_choice(void);
// The processor's name for the start-up line, read from the processor itself (its
// brand string on x86, its core's main ID register on ARM64); "unknown CPU" when
// it tells none.
const char* tlm_engine_processor(void);

// The lane count every entry point uses: `lanes` brought into 1..64, since more
// would overrun the lane area.
static inline int32_t tlm_clamp_lanes(int32_t lanes) {
  return lanes < 1 ? 1 : lanes > kTlmMaxLanes ? kTlmMaxLanes : lanes;
}

// The lane counts a miner measures to find the fastest here, fewest first.
enum { kTlmTunedLaneCount = 4 };
static const int32_t kTlmTunedLanes[kTlmTunedLaneCount] = {16, 32, 48, 64};

// One way to mine: a kernel and the nonces each thread keeps in flight.
typedef struct tlm_setting {
  const tlm_kernel* kernel;
  int32_t lanes;
} tlm_setting;
enum { kTlmMaxSettings = 2 * kTlmTunedLaneCount };

// The settings a miner started with `lanes` may mine with, which it measures when
// there is more than one: the selected kernel at tlm_clamp_lanes(lanes) when lanes
// is 1 or more; with 0 (or less) every tuned lane count with the selected kernel,
// then with the next usable one unless the selection was forced (tlm_engine_use) or
// that one is the portable kernel, since the two widest are close enough that only
// a measurement tells which is faster here. Fills `out` and returns the count.
int32_t tlm_engine_settings(int32_t lanes, tlm_setting out[kTlmMaxSettings]);

// Creates a context with tlm_clamp_lanes(lanes) and the selected kernel; null when
// memory runs out.
tlm_engine* tlm_engine_new(int32_t lanes);
// Makes `engine` hash with `kernel` (an entry of tlm_engine_kernels that runs here)
// and tlm_clamp_lanes(lanes) lanes; set it again before the next scan.
void tlm_engine_configure(tlm_engine* engine, const tlm_kernel* kernel, int32_t lanes);
// Frees a context and its buffers; null is ignored.
void tlm_engine_free(tlm_engine* engine);
// Prepares the job of a 1487-byte header and gives every lane the job's key.
void tlm_engine_set(tlm_engine* engine, const uint8_t* header);
// Scans with the context's kernel (see tlm_scan_fn); the context must be set.
uint32_t tlm_engine_scan(tlm_engine* engine, uint32_t nonce_start, uint32_t count,
                         uint64_t target_hi, uint32_t* found, int32_t* nfound);
// Full hashes of one batch with the context's kernel; out holds lanes x 32 bytes.
void tlm_engine_full(tlm_engine* engine, uint32_t nonce_base, uint8_t* out);
// Reference hash of a 1487-byte header with the fastest hash core this processor
// runs (vh_hash_header); any thread, any time.
void tlm_engine_hash_ref(uint8_t* out, const uint8_t* header);
// Checks the reference hash (tlm_engine_hash_ref) against the known answer and the
// full kernels a miner started with `lanes` may mine with against it: the selected
// one at that count, or with 0 (or less) every contender at every tuned lane count.
// Returns the number of failed comparisons (0 = pass), or 1 when no context can be
// made.
int32_t tlm_engine_selftest(int32_t lanes);

#ifdef __cplusplus
}
#endif
