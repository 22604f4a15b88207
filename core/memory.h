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

enum class AnomalyType : std::uint8_t {
  BehavioralOverride,
  BulkInsertion,
  SafetyBypass,
  PrivilegeEscalation,
  GradualDrift,
};

// Ordered: a later value is more severe.
enum class AnomalySeverity : std::uint8_t { Low, Medium, High, Critical };

// "behavioral_override", ...: the names of the pattern document and of the Python layer.
std::string_view anomaly_type_name(AnomalyType type) noexcept;
// "low", "medium", "high", "critical".
std::string_view anomaly_severity_name(AnomalySeverity severity) noexcept;

namespace behavior {

struct CompiledPattern {
  std::string description;  ///< the document's text, inserted into anomaly descriptions
  Regex regex;              ///< searched in the matching form of a text
  AnomalySeverity severity;
  AnomalyType type;
};

// The behaviour pattern document, compiled: the patterns in document order, the
// safety-keyword pattern and the thresholds of the bulk rules (inclusive lower bounds).
struct Tables {
  std::vector<CompiledPattern> patterns;
  Regex safety_keywords;
  std::uint64_t bulk_add;
  std::uint64_t bulk_modify;
  std::uint64_t bulk_remove_safety;
  std::uint64_t gradual_drift_keys;
  std::uint64_t bulk_insertion_behavioral_critical;
};

// The process-wide tables, built from the embedded behavior_patterns.json on first use.
// A document that does not parse or compile throws InternalFault and is tried again on the
// next call.
const Tables& tables();

// Whether `regex` finds a match in the matching form of `text`; an aborted search is no match.
bool test_pattern(const Regex& regex, std::string_view text);

}  // namespace behavior

struct ModifiedEntry {
  std::string key;
  std::string before;  ///< the value in the earlier snapshot
  std::string after;   ///< the value in the later snapshot
};

struct MemoryAnomaly {
  std::string description;
  std::vector<std::string> entries;  ///< the keys concerned, in the order the rule lists them
  AnomalySeverity severity;
  AnomalyType type;
};

struct MemoryDiffResult {
  std::vector<MemoryEntry> added;
  std::vector<MemoryEntry> removed;
  std::vector<ModifiedEntry> modified;
  std::vector<MemoryAnomaly> anomalies;
  bool safe = true;  ///< no anomaly found
};

// Compares two snapshots' entries by key (for a repeated key: first position, last entry)
// and reports added, removed and modified entries and the anomalies that the behaviour
// patterns and the bulk thresholds find, deduplicated. Cannot fail; a broken pattern
// document throws InternalFault.
MemoryDiffResult diff_memory_snapshots(const std::vector<MemoryEntry>& before, const std::vector<MemoryEntry>& after);

// Keeps one anomaly per identity (type and sorted list of keys): the first one, replaced in
// place by a later one of strictly higher severity.
std::vector<MemoryAnomaly> deduplicate_anomalies(std::vector<MemoryAnomaly> anomalies);

}  // namespace vardex
