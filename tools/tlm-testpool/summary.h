// Share counts of a tlm-testpool run, written as JSON when it stops.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace testpool {

struct WorkerCounts {
  uint64_t accepted = 0;
  uint64_t rejected = 0;
  std::map<std::string, uint64_t> reasons;  // rejection reason -> count
};

struct Summary {
  uint64_t connections = 0;
  std::map<std::string, WorkerCounts> workers;

  void count(const std::string& worker, bool accepted, const std::string& reason);
  // {"connections":N,"accepted":A,"rejected":R,"workers":{"name":{"accepted":a,
  // "rejected":r,"reasons":{"reason":n}}}} on one line.
  std::string to_json() const;
  // Writes to_json() and a line feed to `path`; false when the file cannot be written.
  bool write(const std::string& path) const;
};

}  // namespace testpool
