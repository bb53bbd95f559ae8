// tlm-bench: the hash rates users get, measured through the miner itself (the real
// mining threads on a synthetic job, shares counted instead of sent): the kernels
// side by side with a thread-scaling line, a tuning table of kernels, lane counts
// and thread counts with the setting the miner chooses, and a self-test of the
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

using tlm_bench::kAutoLanes;
using tlm_bench::Result;

// A kernel to measure: an entry of tlm_engine_kernels, or null for the one the
// miner picks by itself.
using Kernel = const tlm_kernel*;

// The kernels to run: the one asked for (null for auto), or every one this machine
// can run. Those it cannot run are named with the reason on standard output; a
// kernel asked for by name that cannot run is an error.
bool pick_kernels(const std::string& asked, std::vector<Kernel>* picked) {
  if (asked == "auto") {
    picked->push_back(nullptr);
    return true;
  }
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

// Makes `k` the miner's kernel: forced, or for auto the engine's own selection,
// which the miner's calibration may then refine.
void select(Kernel k) {
  if (k != nullptr) {
    tlm_engine_use(k->name);
  } else {
    tlm_engine_global_init();
  }
}

bool measure(Kernel k, int threads, int lanes, double seconds, Result* r, std::string* calibration = nullptr) {
  select(k);
  std::string error;
  if (tlm_bench::measure(threads, lanes, seconds, r, calibration, &error)) return true;
  std::fprintf(stderr, "tlm-bench: %s\n", error.c_str());
  return false;
}

int run_selftest(const std::vector<Kernel>& kernels) {
  int cases = 0;
  int failed = 0;
  for (Kernel k : kernels) {
    select(k);
    for (int lanes = 1; lanes <= kTlmMaxLanes; ++lanes) {
      ++cases;
      int32_t failures = tlm_engine_selftest(lanes);
      if (failures != 0) {
        ++failed;
        std::printf("FAIL %s lanes %d: %d failed comparisons\n", tlm_engine_isa(), lanes, failures);
      }
    }
  }
  std::printf("selftest: %d cases, %d failed\n", cases, failed);
  return failed == 0 ? 0 : 1;
}

// A per-hash figure from the processor's counters, or n/a.
std::string per_hash(const Result& r, uint64_t total) {
  if (!r.counts.available || r.hashes == 0) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", double(total) / double(r.hashes));
  return text;
}

std::string per_hash_json(const Result& r, uint64_t total) {
  std::string v = per_hash(r, total);
  return v == "n/a" ? "null" : v;
}

void print_json(const Result& r) {
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
void print_row(const Result& r, double reference, int width) {
  char ratio[16] = "n/a";
  if (reference > 0) std::snprintf(ratio, sizeof ratio, "%.2f", r.hs / reference);
  std::printf("%-8s %7d %6d %9.3f MH/s %*s %11s %11s %8s\n", r.kernel, r.threads, r.lanes, r.hs / 1e6, width,
              ratio, per_hash(r, r.counts.instructions).c_str(), per_hash(r, r.counts.cycles).c_str(),
              per_hash(r, r.counts.branch_misses).c_str());
}

// Measures every cell for `seconds` in total, in slices of about half a second
// that take turns (every other round in reverse), so that a machine whose load
// changes during the run slows them all alike and their ratios hold.
struct Cell {
  Kernel kernel;
  int threads;
  int lanes;
  Result result;
};

bool measure_in_turns(std::vector<Cell>& cells, double seconds) {
  const int rounds = cells.size() > 1 ? std::max(1, int(seconds / 0.5 + 0.5)) : 1;
  const double slice = seconds / rounds;
  for (int round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < cells.size(); ++i) {
      Cell& c = cells[round % 2 == 0 ? i : cells.size() - 1 - i];
      Result part;
      if (!measure(c.kernel, c.threads, c.lanes, slice, &part)) return false;
      c.result.add(part);
    }
  }
  return true;
}

int all_threads() { return std::max(1, int(std::thread::hardware_concurrency())); }

// Every kernel at every lane count and thread count, the fastest cell per thread
// count, and what the miner chooses by measuring at the most threads.
int run_tune(const tlm_bench::Options& options, const std::vector<Kernel>& kernels) {
  std::vector<int> lanes(options.lanes.begin(), options.lanes.end());
  if (!options.lanes_given) lanes.assign(kTlmTunedLanes, kTlmTunedLanes + kTlmTunedLaneCount);
  std::vector<int> threads = options.threads;
  if (threads.empty()) threads = all_threads() > 1 ? std::vector<int>{1, all_threads()} : std::vector<int>{1};
  std::vector<Cell> cells;
  for (Kernel k : kernels) {
    for (int l : lanes) {
      for (int t : threads) cells.push_back({k, t, l, {}});
    }
  }
  if (!measure_in_turns(cells, options.seconds)) return 1;

  if (options.json) {
    for (const Cell& c : cells) print_json(c.result);
  } else {
    std::printf("kernel   lanes");
    for (int t : threads) std::printf(" %*d thread%s", t == 1 ? 7 : 6, t, t == 1 ? "" : "s");
    std::printf("\n");
    for (size_t i = 0; i < cells.size(); i += threads.size()) {
      std::printf("%-8s %5d", cells[i].result.kernel, cells[i].result.lanes);
      for (size_t j = 0; j < threads.size(); ++j) std::printf(" %9.3f MH/s", cells[i + j].result.hs / 1e6);
      std::printf("\n");
    }
    for (size_t j = 0; j < threads.size(); ++j) {
      const Cell* best = &cells[j];
      for (size_t i = j; i < cells.size(); i += threads.size()) {
        if (cells[i].result.hs > best->result.hs) best = &cells[i];
      }
      std::printf("fastest at %d thread%s: %s, %d lanes\n", threads[j], threads[j] == 1 ? "" : "s",
                  best->result.kernel, best->result.lanes);
    }
  }

  // The miner as started by default (or with the kernel asked for), once its
  // calibration has chosen.
  const Kernel chooser = options.kernel.empty() ? nullptr : kernels.front();
  Result chosen;
  std::string line;
  if (!measure(chooser, threads.back(), kAutoLanes, std::min(options.seconds, 1.0), &chosen, &line)) return 1;
  if (options.json) {
    std::printf("{\"choice\":{\"threads\":%d,\"kernel\":\"%s\",\"lanes\":%d,\"hs\":%.0f,\"line\":\"%s\"}}\n",
                chosen.threads, chosen.kernel, chosen.lanes, chosen.hs, line.c_str());
  } else {
    std::printf("the miner at %d thread%s chooses %s, then hashes %.3f MH/s\n", chosen.threads,
                chosen.threads == 1 ? "" : "s", line.c_str(), chosen.hs / 1e6);
  }
  return 0;
}

// Each kernel at each lane count side by side, then the best one's thread scaling.
int run_side_by_side(const tlm_bench::Options& options, const std::vector<Kernel>& kernels) {
  const int threads = options.threads.empty() ? 1 : options.threads[0];
  const std::string reference = reference_kernel();
  const std::string ratio_title = "vs " + reference;
  const int ratio_width = std::max(7, int(ratio_title.size()));
  if (!options.json) {
    std::printf("kernel   threads  lanes        rate  %*s  instr/hash  cycles/hash  mispred\n", ratio_width,
                ratio_title.c_str());
  }
  const Cell* best = nullptr;
  std::vector<Cell> all;
  for (int lanes : options.lanes) {
    std::vector<Cell> rows;
    for (Kernel k : kernels) rows.push_back({k, threads, lanes, {}});
    if (!measure_in_turns(rows, options.seconds)) return 1;
    double reference_hs = 0;
    for (const Cell& row : rows) {
      if (row.result.kernel == reference) reference_hs = row.result.hs;
      if (options.json) print_json(row.result);
    }
    if (!options.json) {
      for (const Cell& row : rows) print_row(row.result, reference_hs, ratio_width);
    }
    std::fflush(stdout);
    all.insert(all.end(), rows.begin(), rows.end());
  }
  for (const Cell& c : all) {
    if (best == nullptr || c.result.hs > best->result.hs) best = &c;
  }

  // Thread scaling of the best kernel, unless one thread count was asked for.
  const int all_cpus = all_threads();
  if (options.threads.empty() && all_cpus > 1 && best != nullptr) {
    Result wide;
    if (!measure(best->kernel, all_cpus, best->lanes, options.seconds, &wide)) return 1;
    if (options.json) {
      print_json(wide);
    } else {
      std::printf("threads: %s, %d lanes: 1 thread %.3f MH/s, %d threads %.3f MH/s (%.2fx)\n", best->result.kernel,
                  best->result.lanes, best->result.hs / 1e6, all_cpus, wide.hs / 1e6,
                  best->result.hs > 0 ? wide.hs / best->result.hs : 0.0);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tlm_bench::Options options;
  switch (tlm_bench::parse(argc, argv, options)) {
    case tool_cli::Parsed::kExitOk: return 0;
    case tool_cli::Parsed::kExitError: return 1;
    case tool_cli::Parsed::kRun: break;
  }
  tlm_engine_global_init();
  std::vector<Kernel> kernels;
  if (!pick_kernels(options.kernel, &kernels)) return 1;
  if (options.selftest) return run_selftest(kernels);
  if (options.tune) return run_tune(options, kernels);
  return run_side_by_side(options, kernels);
}
