#include "engine/engine.h"

#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include "hash/verushash.h"

namespace {

constexpr size_t kJobAlign = 64;
// The lane records of all lanes together, aligned so that one transparent huge
// page can back them.
constexpr size_t kLaneAreaAlign = kTlmLaneAreaSize;
// What set copies into each lane record: the key and the spare bytes after it.
constexpr size_t kLaneCopySize = tlm::kJobBlock;

}  // namespace

extern "C" {

tlm_engine* tlm_engine_new(int32_t lanes) {
  lanes = tlm_clamp_lanes(lanes);
  auto* engine = static_cast<tlm_engine*>(calloc(1, sizeof(tlm_engine)));
  if (engine == nullptr) return nullptr;
  // aligned_alloc wants a size that is a multiple of the alignment.
  constexpr size_t job_bytes = (kTlmJobSize + kJobAlign - 1) / kJobAlign * kJobAlign;
  engine->job = static_cast<uint8_t*>(aligned_alloc(kJobAlign, job_bytes));
  engine->scratch = static_cast<uint8_t*>(aligned_alloc(kLaneAreaAlign, kTlmLaneAreaSize));
  if (engine->job == nullptr || engine->scratch == nullptr) {
    tlm_engine_free(engine);
    return nullptr;
  }
  madvise(engine->scratch, kTlmLaneAreaSize, MADV_HUGEPAGE);
  memset(engine->scratch, 0, kTlmLaneAreaSize);
  engine->lanes = lanes;
  engine->kernel = tlm_engine_selected();
  return engine;
}

void tlm_engine_configure(tlm_engine* engine, const tlm_kernel* kernel, int32_t lanes) {
  engine->kernel = kernel;
  engine->lanes = tlm_clamp_lanes(lanes);
}

void tlm_engine_free(tlm_engine* engine) {
  if (engine == nullptr) return;
  free(engine->job);
  free(engine->scratch);
  free(engine);
}

void tlm_engine_set(tlm_engine* engine, const uint8_t* header) {
  vh_job_init(engine->job, header);
  for (int32_t i = 0; i < engine->lanes; ++i) {
    memcpy(engine->scratch + size_t(i) * kTlmLaneStride, engine->job, kLaneCopySize);
  }
}

uint32_t tlm_engine_scan(tlm_engine* engine, uint32_t nonce_start, uint32_t count,
                         uint64_t target_hi, uint32_t* found, int32_t* nfound) {
  return engine->kernel->scan(engine->job, engine->scratch, engine->lanes, nonce_start, count, target_hi,
                              found, nfound);
}

void tlm_engine_full(tlm_engine* engine, uint32_t nonce_base, uint8_t* out) {
  engine->kernel->full(engine->job, engine->scratch, engine->lanes, nonce_base, out);
}

void tlm_engine_hash_ref(uint8_t* out, const uint8_t* header) { vh_hash_header(out, header); }

}  // extern "C"
