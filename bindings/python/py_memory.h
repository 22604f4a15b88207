// Python side of agent memory: the MemoryEntry and MemorySnapshot result classes and the
// conversions of entry and snapshot arguments (a class instance, a mapping or a dataclass
// instance) into core records.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "classes.h"
#include "frame.h"
#include "memory.h"

namespace vardex::py {

template <>
struct Record<MemoryEntry> {
  static constexpr const char* name = "MemoryEntry";
  static constexpr Field fields[] = {
      field<&MemoryEntry::key>("key"),
      field<&MemoryEntry::value>("value"),
      field<&MemoryEntry::source>("source"),
      field<&MemoryEntry::timestamp>("timestamp"),
  };
  static std::string repr(const MemoryEntry& e);
};

template <>
struct Record<MemorySnapshot> {
  static constexpr const char* name = "MemorySnapshot";
  static constexpr Field fields[] = {
      field<&MemorySnapshot::entries>("entries"),
      field<&MemorySnapshot::taken_at>("taken_at"),
  };
  static std::string repr(const MemorySnapshot& s);
};

template <>
struct Record<ModifiedEntry> {
  static constexpr const char* name = "ModifiedEntry";
  static constexpr Field fields[] = {
      field<&ModifiedEntry::key>("key"),
      field<&ModifiedEntry::before>("before"),
      field<&ModifiedEntry::after>("after"),
  };
  static std::string repr(const ModifiedEntry& m);
};

template <>
struct Record<MemoryAnomaly> {
  static constexpr const char* name = "MemoryAnomaly";
  static constexpr Field fields[] = {
      {"type",
       [](const void* r) { return to_py(anomaly_type_name(static_cast<const MemoryAnomaly*>(r)->type)); }},
      {"severity",
       [](const void* r) { return to_py(anomaly_severity_name(static_cast<const MemoryAnomaly*>(r)->severity)); }},
      field<&MemoryAnomaly::description>("description"),
      field<&MemoryAnomaly::entries>("entries"),
  };
  static std::string repr(const MemoryAnomaly& a);
};

template <>
struct Record<MemoryDiffResult> {
  static constexpr const char* name = "MemoryDiffResult";
  static constexpr Field fields[] = {
      field<&MemoryDiffResult::safe>("safe"),
      field<&MemoryDiffResult::added>("added"),
      field<&MemoryDiffResult::removed>("removed"),
      field<&MemoryDiffResult::modified>("modified"),
      field<&MemoryDiffResult::anomalies>("anomalies"),
  };
  static std::string repr(const MemoryDiffResult& r);
};

// An entry argument: a MemoryEntry instance, or a mapping or dataclass instance with the
// keys "key", "value" and optionally "source" and "timestamp". Empty with ValueError set
// when the object does not convert.
std::optional<MemoryEntry> entry_from_py(PyObject* obj);

// The entries of a snapshot argument: a MemorySnapshot instance (borrowed, valid while the
// instance lives) or a mapping or dataclass instance with "entries" and "takenAt" (owned).
class SnapshotEntries {
 public:
  explicit SnapshotEntries(const std::vector<MemoryEntry>* borrowed) : borrowed_(borrowed) {}
  explicit SnapshotEntries(std::vector<MemoryEntry> owned) : owned_(std::move(owned)) {}
  SnapshotEntries(SnapshotEntries&&) = default;
  const std::vector<MemoryEntry>& get() const { return borrowed_ != nullptr ? *borrowed_ : owned_; }

 private:
  const std::vector<MemoryEntry>* borrowed_ = nullptr;
  std::vector<MemoryEntry> owned_;
};

// Empty with ValueError set when the object does not convert.
std::optional<SnapshotEntries> snapshot_entries_from_py(PyObject* obj);

// create_memory_snapshot(entries, taken_at)
PyObject* py_create_memory_snapshot(const Args& a);
// diff_memory_snapshots(before, after)
PyObject* py_diff_memory_snapshots(const Args& a);

}  // namespace vardex::py
