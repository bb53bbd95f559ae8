#include "tools/tlm-testpool/summary.h"

#include <cstdio>

#include "json/json.h"

namespace testpool {

void Summary::count(const std::string& worker, bool accepted, const std::string& reason) {
  WorkerCounts& w = workers[worker];
  if (accepted) {
    ++w.accepted;
  } else {
    ++w.rejected;
    ++w.reasons[reason];
  }
}

std::string Summary::to_json() const {
  uint64_t accepted = 0;
  uint64_t rejected = 0;
  std::string list;
  for (const auto& [name, w] : workers) {
    accepted += w.accepted;
    rejected += w.rejected;
    if (!list.empty()) list += ',';
    list += "\"" + tlm::json_escape(name) + "\":{\"accepted\":" + std::to_string(w.accepted) +
            ",\"rejected\":" + std::to_string(w.rejected) + ",\"reasons\":{";
    bool first = true;
    for (const auto& [reason, n] : w.reasons) {
      if (!first) list += ',';
      first = false;
      list += "\"" + tlm::json_escape(reason) + "\":" + std::to_string(n);
    }
    list += "}}";
  }
  return "{\"connections\":" + std::to_string(connections) + ",\"accepted\":" + std::to_string(accepted) +
         ",\"rejected\":" + std::to_string(rejected) + ",\"workers\":{" + list + "}}";
}

bool Summary::write(const std::string& path) const {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::string text = to_json() + "\n";
  bool ok = fputs(text.c_str(), f) >= 0;
  return fclose(f) == 0 && ok;
}

}  // namespace testpool
