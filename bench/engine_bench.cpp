// Google Benchmark cases of the engine: the scan kernels per lane count and
// kernel, the reference hash and the per-job preparation.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "hash/sample_header.h"

namespace {

std::vector<uint8_t> bench_header() {
  std::vector<uint8_t> h(kTlmHeaderSize);
  tlm::sample_header(0x243F6A8885A308D3ull, h.data());
  return h;
}

// One scan call as the miner makes it: lanes x 8 nonces, a rare-candidate target.
void scan_with(benchmark::State& state, tlm_scan_fn scan) {
  tlm_engine_global_init();
  tlm_engine* e = tlm_engine_new(int32_t(state.range(0)));
  tlm_engine_set(e, bench_header().data());
  const uint32_t count = uint32_t(e->lanes) * 8;
  uint32_t nonce = 0;
  uint32_t found[kTlmMaxFound];
  uint64_t hashes = 0;
  for (auto _ : state) {
    int32_t nfound = 0;
    uint32_t done = scan(e->job, e->scratch, e->lanes, nonce, count, 0x0000000FFFFFFFFFull, found,
                         &nfound);
    nonce += done;
    hashes += done;
  }
  state.counters["H/s"] = benchmark::Counter(double(hashes), benchmark::Counter::kIsRate);
  tlm_engine_free(e);
}

// One scan benchmark per kernel this processor can run.
const bool kScansRegistered = [] {
  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  for (int k = 0; k < count; ++k) {
    if (tlm_engine_unusable(&kernels[k]) != nullptr) continue;
    benchmark::RegisterBenchmark((std::string("BM_Scan/") + kernels[k].name).c_str(), scan_with,
                                 kernels[k].scan)
        ->Arg(8)
        ->Arg(16)
        ->Arg(32)
        ->Arg(64);
  }
  return true;
}();

void BM_HashRef(benchmark::State& state) {
  tlm_engine_global_init();
  const std::vector<uint8_t> h = bench_header();
  uint8_t out[kTlmHashSize];
  for (auto _ : state) {
    tlm_engine_hash_ref(out, h.data());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_HashRef);

void BM_EngineSet(benchmark::State& state) {
  tlm_engine_global_init();
  tlm_engine* e = tlm_engine_new(int32_t(state.range(0)));
  const std::vector<uint8_t> h = bench_header();
  for (auto _ : state) tlm_engine_set(e, h.data());
  tlm_engine_free(e);
}
BENCHMARK(BM_EngineSet)->Arg(1)->Arg(32);

}  // namespace

BENCHMARK_MAIN();
