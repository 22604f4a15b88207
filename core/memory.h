// Agent memory: entries and snapshots, the behaviour pattern tables built once from the
// embedded behavior_patterns.json, and the snapshot diff with its anomaly rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "regex.h"

namespace vardex {

struct MemoryEntry {
  std::string key;                         ///< identifier; the diff matches entries by it, byte-wise
  std::string value;                       ///< the stored text
  std::optional<std::string> source;       ///< origin tag, carried as given
  std::optional<std::uint64_t> timestamp;  ///< write time, carried as given
};

struct MemorySnapshot {
  std::vector<MemoryEntry> entries;  ///< in the given order; duplicate keys kept
  std::uint64_t taken_at = 0;        ///< capture time, carried as given
};

// A snapshot of `entries` (order kept) taken at `taken_at`. Cannot fail.
MemorySnapshot create_memory_snapshot(std::vector<MemoryEntry> entries, std::uint64_t taken_at);

}  // namespace vardex
