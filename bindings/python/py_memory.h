// Python side of agent memory: the MemoryEntry and MemorySnapshot result classes and the
// conversions of entry and snapshot arguments (a class instance, a mapping or a dataclass
// instance) into core records.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>
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

// Strong references to the str objects whose UTF-8 buffers some views point into, so the
// views stay valid whatever user code runs during a conversion.
class HeldTexts {
 public:
  HeldTexts() = default;
  HeldTexts(HeldTexts&& other) noexcept : objects_(std::move(other.objects_)) { other.objects_.clear(); }
  HeldTexts(const HeldTexts&) = delete;
  HeldTexts& operator=(const HeldTexts&) = delete;
  ~HeldTexts();
  // The UTF-8 of the str `text`, valid while this holder lives; false with the exception set
  // when it cannot be encoded.
  bool view(PyObject* text, std::string_view& out);

 private:
  std::vector<PyObject*> objects_;
};

// The entries of a snapshot argument, as views into a MemorySnapshot instance (valid while
// the instance lives) or into the strings of a mapping or dataclass instance with "entries"
// and "takenAt" (held here).
struct SnapshotEntries {
  std::vector<MemoryEntryView> entries;
  HeldTexts texts;
};

// Empty with ValueError set when the object does not convert.
std::optional<SnapshotEntries> snapshot_entries_from_py(PyObject* obj);

// create_memory_snapshot(entries, taken_at)
PyObject* py_create_memory_snapshot(const Args& a);
// diff_memory_snapshots(before, after)
PyObject* py_diff_memory_snapshots(const Args& a);

}  // namespace vardex::py
