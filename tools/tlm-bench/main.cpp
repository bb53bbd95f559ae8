// tlm-bench: hash rates of the engine's kernels side by side, measured through the
// same scan calls the miner makes, a thread-scaling line, and a self-test of the
// kernels for every lane count.

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "tools/tlm-bench/measure.h"
#include "tools/tlm-bench/options.h"

namespace {

// The kernels to run: the one asked for, or every one this machine can run. Those
// it cannot run are named with the reason on standard output; a kernel asked for
// by name that cannot run is an error.
bool pick_kernels(const std::string& asked, std::vector<const tlm_kernel*>* picked) {
  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  if (!asked.empty()) {
    if (const char* refusal = tlm_engine_use(asked.c_str())) {
      std::fprintf(stderr, "tlm-bench: %s\n", refusal);
      return false;
    }
  }
  for (int k = 0; k < count; ++k) {
    if (!asked.empty() && asked != kernels[k].name) continue;
    if (const char* reason = tlm_engine_unusable(&kernels[k])) {
      std::printf("%s: skipped, %s\n", kernels[k].name, reason);
    } else {
      picked->push_back(&kernels[k]);
    }
  }
  return true;
}

int run_selftest(const std::vector<const tlm_kernel*>& kernels) {
  int cases = 0;
  int failed = 0;
  for (const tlm_kernel* k : kernels) {
    tlm_engine_use(k->name);
    for (int lanes = 1; lanes <= kTlmMaxLanes; ++lanes) {
      ++cases;
      int32_t failures = tlm_engine_selftest(lanes);
      if (failures != 0) {
        ++failed;
        std::printf("FAIL %s lanes %d: %d failed comparisons\n", k->name, lanes, failures);
      }
    }
  }
  std::printf("selftest: %d cases, %d failed\n", cases, failed);
  return failed == 0 ? 0 : 1;
}

// A per-hash figure from the processor's counters, or n/a.
std::string per_hash(const tlm_bench::Result& r, uint64_t total) {
  if (!r.counts.available || r.hashes == 0) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", double(total) / double(r.hashes));
  return text;
}

std::string per_hash_json(const tlm_bench::Result& r, uint64_t total) {
  std::string v = per_hash(r, total);
  return v == "n/a" ? "null" : v;
}

void print_json(const tlm_bench::Result& r) {
  std::printf(
      "{\"kernel\":\"%s\",\"threads\":%d,\"lanes\":%d,\"seconds\":%.3f,\"hashes\":%llu,"
      "\"hs\":%.0f,\"instructions_per_hash\":%s,\"cycles_per_hash\":%s,"
      "\"mispredictions_per_hash\":%s}\n",
      r.kernel, r.threads, r.lanes, r.seconds, static_cast<unsigned long long>(r.hashes), r.hs,
      per_hash_json(r, r.counts.instructions).c_str(), per_hash_json(r, r.counts.cycles).c_str(),
      per_hash_json(r, r.counts.branch_misses).c_str());
}

// The kernel the others' rates are compared with: avx where the architecture has
// it, otherwise the portable one.
std::string reference_kernel() {
  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  for (int k = 0; k < count; ++k) {
    if (std::string(kernels[k].name) == "avx") return "avx";
  }
  return "portable";
}

// `reference` is the reference kernel's rate at the same threads and lanes, 0 if
// not measured.
// `width` is that of the ratio's column.
void print_row(const tlm_bench::Result& r, double reference, int width) {
  char ratio[16] = "n/a";
  if (reference > 0) std::snprintf(ratio, sizeof ratio, "%.2f", r.hs / reference);
  std::printf("%-8s %7d %6d %9.3f MH/s %*s %11s %11s %8s\n", r.kernel, r.threads, r.lanes,
              r.hs / 1e6, width, ratio, per_hash(r, r.counts.instructions).c_str(),
              per_hash(r, r.counts.cycles).c_str(), per_hash(r, r.counts.branch_misses).c_str());
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
  tlm_engine_global_init();
  std::vector<const tlm_kernel*> kernels;
  if (!pick_kernels(options.kernel, &kernels)) return 1;
  if (options.selftest) return run_selftest(kernels);

  const int threads = options.threads.empty() ? 1 : options.threads[0];
  auto measure = [&](const tlm_kernel* k, int t, int lanes, double seconds,
                     tlm_bench::Result* r) {
    tlm_engine_use(k->name);
    if (tlm_bench::measure(t, lanes, seconds, r)) return true;
    std::fprintf(stderr, "tlm-bench: out of memory for %d engine contexts\n", t);
    return false;
  };
  // The kernels take turns in slices of about half a second, so that a machine
  // whose load changes during the run slows them all alike and their ratios hold.
  const int rounds = std::max(1, int(options.seconds / 0.5 + 0.5));
  const double slice = options.seconds / rounds;

  const std::string reference = reference_kernel();
  const std::string ratio_title = "vs " + reference;
  const int ratio_width = std::max(7, int(ratio_title.size()));
  if (!options.json) {
    std::printf("kernel   threads  lanes        rate  %*s  instr/hash  cycles/hash  mispred\n", ratio_width,
                ratio_title.c_str());
  }
  tlm_bench::Result best;
  const tlm_kernel* best_kernel = kernels[0];
  for (int lanes : options.lanes) {
    std::vector<tlm_bench::Result> rows(kernels.size());
    for (int round = 0; round < rounds; ++round) {
      for (size_t i = 0; i < kernels.size(); ++i) {
        tlm_bench::Result part;
        if (!measure(kernels[i], threads, lanes, slice, &part)) return 1;
        rows[i].add(part);
      }
    }
    double reference_hs = 0;
    for (size_t i = 0; i < kernels.size(); ++i) {
      if (kernels[i]->name == reference) reference_hs = rows[i].hs;
      if (rows[i].hs > best.hs) {
        best = rows[i];
        best_kernel = kernels[i];
      }
      if (options.json) print_json(rows[i]);
    }
    if (!options.json) {
      for (const tlm_bench::Result& r : rows) print_row(r, reference_hs, ratio_width);
    }
    std::fflush(stdout);
  }

  // Thread scaling of the best kernel, unless one thread count was asked for.
  const int all = int(std::thread::hardware_concurrency());
  if (options.threads.empty() && all > 1) {
    tlm_bench::Result wide;
    if (!measure(best_kernel, all, best.lanes, options.seconds, &wide)) return 1;
    if (options.json) {
      print_json(wide);
    } else {
      std::printf("threads: %s, %d lanes: 1 thread %.3f MH/s, %d threads %.3f MH/s (%.2fx)\n",
                  best.kernel, best.lanes, best.hs / 1e6, all, wide.hs / 1e6,
                  best.hs > 0 ? wide.hs / best.hs : 0.0);
    }
  }
  return 0;
}
