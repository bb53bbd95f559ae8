// Speed of the hash cores (the portable one and this architecture's own): a whole
// header (what confirming a candidate costs), the per-job precomputation, and the
// per-nonce half alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "hash/known_answer.h"
#include "hash/verushash.h"

namespace {

void hash_header(benchmark::State& state, const vh_core* core) {
  uint8_t out[32];
  for (auto _ : state) {
    core->hash_header(out, kat_hdr);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}

void job_init(benchmark::State& state, const vh_core* core) {
  alignas(64) static uint8_t job[tlm::kJobBytes];
  for (auto _ : state) {
    core->job_init(job, kat_hdr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void hash_per_nonce(benchmark::State& state, const vh_core* core) {
  alignas(64) static uint8_t job[tlm::kJobBytes];
  alignas(64) static uint8_t working[tlm::kKeyBytes];
  core->job_init(job, kat_hdr);
  std::memcpy(working, job, sizeof working);
  uint8_t block[64];
  std::memcpy(block, job + tlm::kJobBlock, sizeof block);
  uint32_t nonce = 0;
  uint8_t out[32];
  for (auto _ : state) {
    std::memcpy(block + 43, &nonce, 4);  // engine nonce: block bytes 43..46
    nonce++;
    core->hash_ref(out, block, working, job);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}

const bool kRegistered = [] {
  for (const vh_core* core : {&vh_portable, vh_native()}) {
    if (core == nullptr) continue;
    const std::string name = core->name;
    benchmark::RegisterBenchmark(("BM_HashHeader/" + name).c_str(), hash_header, core);
    benchmark::RegisterBenchmark(("BM_JobInit/" + name).c_str(), job_init, core);
    benchmark::RegisterBenchmark(("BM_HashRefPerNonce/" + name).c_str(), hash_per_nonce, core);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
