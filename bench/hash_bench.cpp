// Speed of the portable hash: a whole header (what confirming a candidate costs),
// the per-job precomputation, and the per-nonce half alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "hash/haraka.h"
#include "hash/known_answer.h"
#include "hash/verushash.h"

namespace {

void BM_HashHeader(benchmark::State& state) {
  haraka_init();
  uint8_t out[32];
  for (auto _ : state) {
    vh_hash_header(out, kat_hdr);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashHeader);

void BM_JobInit(benchmark::State& state) {
  haraka_init();
  alignas(64) static uint8_t job[9024];
  for (auto _ : state) {
    vh_job_init(job, kat_hdr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JobInit);

void BM_HashRefPerNonce(benchmark::State& state) {
  haraka_init();
  alignas(64) static uint8_t job[9024];
  alignas(64) static uint8_t working[8832];
  vh_job_init(job, kat_hdr);
  std::memcpy(working, job, sizeof working);
  uint8_t block[64];
  std::memcpy(block, job + 8896, sizeof block);
  uint32_t nonce = 0;
  uint8_t out[32];
  for (auto _ : state) {
    std::memcpy(block + 43, &nonce, 4);  // engine nonce: block bytes 43..46
    nonce++;
    vh_hash_ref(out, block, working, job);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashRefPerNonce);

}  // namespace

BENCHMARK_MAIN();
