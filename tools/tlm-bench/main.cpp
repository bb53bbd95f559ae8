// tlm-bench: hash rates of the engine's kernels, measured through the same scan
// calls the miner makes, and a self-test of the kernels for every lane count.

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "tools/tlm-bench/measure.h"
#include "tools/tlm-bench/options.h"

namespace {

using tlm_bench::Isa;

// Points the engine's dispatch at the kernels of `isa`.
void select(Isa isa) {
  if (isa == Isa::kAvx) {
    tlm_engine_global_init();
  } else {
    tlm_engine_force_sse();
  }
}

const char* name(Isa isa) { return isa == Isa::kAvx ? "AVX" : "SSE4.1"; }

int run_selftest(const std::vector<Isa>& isas, bool avx_skipped) {
  int cases = 0;
  int failed = 0;
  if (avx_skipped) std::printf("AVX: skipped, this CPU has no AVX\n");
  for (Isa isa : isas) {
    select(isa);
    for (int lanes = 1; lanes <= kTlmMaxLanes; ++lanes) {
      ++cases;
      int32_t failures = tlm_engine_selftest(lanes);
      if (failures != 0) {
        ++failed;
        std::printf("FAIL %s lanes %d: %d failed comparisons\n", name(isa), lanes, failures);
      }
    }
  }
  std::printf("selftest: %d cases, %d failed\n", cases, failed);
  return failed == 0 ? 0 : 1;
}

void print_json(const tlm_bench::Result& r) {
  std::printf(
      "{\"isa\":\"%s\",\"threads\":%d,\"lanes\":%d,\"seconds\":%.3f,\"hashes\":%llu,"
      "\"hs\":%.0f}\n",
      r.isa, r.threads, r.lanes, r.seconds, static_cast<unsigned long long>(r.hashes), r.hs);
}

void print_row(const tlm_bench::Result& r) {
  std::printf("%-7s %7d %6d %8.2f %12llu %9.3f MH/s\n", r.isa, r.threads, r.lanes, r.seconds,
              static_cast<unsigned long long>(r.hashes), r.hs / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  tlm_bench::Options options;
  std::string error;
  if (!tlm_bench::parse(argc, argv, &options, &error)) {
    std::fprintf(stderr, "tlm-bench: %s\n%s", error.c_str(), tlm_bench::usage());
    return 1;
  }
  if (options.help) {
    std::fputs(tlm_bench::usage(), stdout);
    return 0;
  }
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse4.1") || !__builtin_cpu_supports("aes") ||
      !__builtin_cpu_supports("pclmul")) {
    std::fprintf(stderr, "tlm-bench: this CPU lacks AES-NI, PCLMUL or SSE4.1: not supported\n");
    return 1;
  }
  tlm_engine_global_init();
  const bool has_avx = std::string(tlm_engine_isa()) == "AVX";

  std::vector<Isa> isas = options.isas;
  bool avx_skipped = false;
  if (isas.empty()) {
    if (has_avx) isas.push_back(Isa::kAvx);
    avx_skipped = !has_avx;
    isas.push_back(Isa::kSse);
  } else if (isas[0] == Isa::kAvx && !has_avx) {
    if (options.selftest) {
      isas.clear();
      avx_skipped = true;
    } else {
      std::fprintf(stderr, "tlm-bench: this CPU has no AVX; try --isa sse\n");
      return 1;
    }
  }
  if (options.selftest) return run_selftest(isas, avx_skipped);

  std::vector<int> threads = options.threads;
  if (threads.empty()) {
    threads.push_back(1);
    int all = int(std::thread::hardware_concurrency());
    if (all > 1) threads.push_back(all);
  }

  if (!options.json) std::printf("ISA     threads  lanes  seconds       hashes      rate\n");
  tlm_bench::Result best;
  for (Isa isa : isas) {
    select(isa);
    for (int t : threads) {
      for (int lanes : options.lanes) {
        tlm_bench::Result r;
        if (!tlm_bench::measure(t, lanes, options.seconds, &r)) {
          std::fprintf(stderr, "tlm-bench: out of memory for %d engine contexts\n", t);
          return 1;
        }
        if (options.json) {
          print_json(r);
        } else {
          print_row(r);
        }
        std::fflush(stdout);
        if (r.hs > best.hs) best = r;
      }
    }
  }
  if (!options.json) {
    std::printf("best: %.3f MH/s (%s, %d thread%s, %d lanes)\n", best.hs / 1e6, best.isa,
                best.threads, best.threads == 1 ? "" : "s", best.lanes);
  }
  return 0;
}
