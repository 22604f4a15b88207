#include "py_memory.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "objects.h"
#include "text.h"

namespace vardex::py {
namespace {

bool fail(std::string_view message) {
  raise_value_error(message);
  return false;
}

// Replaces the pending Python exception with ValueError("<Type>: <text>"), prefixed with
// `context` when given. KeyboardInterrupt, SystemExit and the like stay pending.
bool fail_with_pending(std::string_view context = {}) {
  auto text = take_exception_text();
  if (!text) return false;
  std::string message(context);
  if (!message.empty()) message += ": ";
  return fail(message + *text);
}

int is_mapping(PyObject* obj) { return PyDict_Check(obj) ? 1 : is_instance(obj, mapping_abc()); }

int is_sequence(PyObject* obj) { return PySequence_Check(obj) ? 1 : is_instance(obj, sequence_abc()); }

bool utf8_name(PyObject* key, std::string_view& out) {
  if (!PyUnicode_Check(key)) return fail("dict keys must have type str");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) return fail_with_pending();
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool read_text(PyObject* v, const char* field, HeldTexts& texts, std::string_view& out) {
  if (!PyUnicode_Check(v)) {
    return fail(std::string("invalid type for `") + field + "`: expected str, got '" + qualified_type_name(v) + "'");
  }
  return texts.view(v, out) || fail_with_pending(std::string("invalid value for `") + field + "`");
}

bool read_u64(PyObject* v, const char* field, std::uint64_t& out) {
  if (!PyIndex_Check(v)) {
    return fail(std::string("invalid type for `") + field + "`: expected int, got '" + qualified_type_name(v) + "'");
  }
  PyObject* index = PyNumber_Index(v);
  const unsigned long long n = index != nullptr ? PyLong_AsUnsignedLongLong(index) : 0;
  Py_XDECREF(index);
  if (index == nullptr || (n == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
    return fail_with_pending(std::string("invalid value for `") + field + "`");
  }
  out = n;
  return true;
}

// Field values of a record read by name; `set` returns false with ValueError set.
struct FieldSink {
  std::span<const std::string_view> names;  ///< the recognised names
  bool (*set)(void* target, int index, PyObject* value);
  void* target;

  int index_of(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (name == names[i]) return static_cast<int>(i);
    }
    return -1;
  }
};

// Field `name` of a dataclass instance, read from the instance's `dict` into `sink`.
bool dataclass_member(PyObject* dict, PyObject* name, const FieldSink& sink) {
  std::string_view text;
  if (!utf8_name(name, text)) return false;
  PyObject* value = PyObject_GetItem(dict, name);
  if (value == nullptr) return fail_with_pending();  // "KeyError: 'x'"
  const int i = sink.index_of(text);
  const bool ok = i < 0 || sink.set(sink.target, i, value);
  Py_DECREF(value);
  return ok;
}

// Dataclass form: every declared field is looked up in the instance's __dict__. ClassVar
// and InitVar pseudo-fields, listed in __dataclass_fields__ but never instance attributes,
// are skipped as dataclasses.fields() skips them.
bool walk_dataclass(PyObject* obj, const FieldSink& sink) {
  PyObject* fields = dataclass_fields_function();
  PyObject* declared = fields != nullptr ? PyObject_CallFunctionObjArgs(fields, obj, nullptr) : nullptr;
  PyObject* dict = declared != nullptr ? PyObject_GetAttrString(obj, "__dict__") : nullptr;
  const Py_ssize_t n = dict != nullptr ? PySequence_Size(declared) : -1;
  bool ok = n >= 0 || fail_with_pending();
  for (Py_ssize_t k = 0; ok && k < n; ++k) {
    PyObject* field = PySequence_GetItem(declared, k);
    PyObject* name = field != nullptr ? PyObject_GetAttrString(field, "name") : nullptr;
    ok = name != nullptr ? dataclass_member(dict, name, sink) : fail_with_pending();
    Py_XDECREF(name);
    Py_XDECREF(field);
  }
  Py_XDECREF(dict);
  Py_XDECREF(declared);
  return ok;
}

// Mapping form: keys in the mapping's own order, every key a str, values fetched only for
// recognised keys.
bool walk_mapping(PyObject* obj, const FieldSink& sink) {
  if (PyDict_Check(obj)) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      std::string_view text;
      if (!utf8_name(key, text)) return false;
      const int i = sink.index_of(text);
      if (i < 0) continue;
      Py_INCREF(value);  // the converter may run user code (__index__)
      const bool ok = sink.set(sink.target, i, value);
      Py_DECREF(value);
      if (!ok) return false;
    }
    return true;
  }
  PyObject* keys = PyObject_GetIter(obj);
  if (keys == nullptr) return fail_with_pending();
  bool ok = true;
  while (ok) {
    PyObject* key = PyIter_Next(keys);
    if (key == nullptr) {
      if (PyErr_Occurred()) ok = fail_with_pending();
      break;
    }
    std::string_view text;
    ok = utf8_name(key, text);
    const int i = ok ? sink.index_of(text) : -1;
    if (i >= 0) {
      PyObject* value = PyObject_GetItem(obj, key);
      ok = value != nullptr ? sink.set(sink.target, i, value) : fail_with_pending();
      Py_XDECREF(value);
    }
    Py_DECREF(key);
  }
  Py_DECREF(keys);
  return ok;
}

// Reads `obj` as a dataclass instance or a mapping into `sink`; anything else fails with
// `not_a_record` followed by the object's type name.
bool read_record(PyObject* obj, const FieldSink& sink, std::string_view not_a_record) {
  // A plain dict has no attributes: skip the dataclass probe and its AttributeError.
  if (!PyDict_CheckExact(obj)) {
    PyObject* fields = PyObject_GetAttrString(obj, "__dataclass_fields__");
    if (fields == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return fail_with_pending();
      PyErr_Clear();
    } else if (PyDict_Check(fields)) {
      Py_DECREF(fields);
      return walk_dataclass(obj, sink);
    } else {
      Py_DECREF(fields);
    }
  }
  const int mapping = is_mapping(obj);
  if (mapping < 0) return fail_with_pending();
  if (mapping == 0) return fail(std::string(not_a_record) + ", got '" + qualified_type_name(obj) + "'");
  return walk_mapping(obj, sink);
}

// ---- entries

constexpr std::string_view kEntryNames[] = {"key", "value", "source", "timestamp"};

struct EntryFields {
  HeldTexts& texts;
  bool has_key = false, has_value = false;
  MemoryEntryView entry;
};

bool set_entry_field(void* target, int index, PyObject* v) {
  auto& f = *static_cast<EntryFields*>(target);
  switch (index) {
    case 0: {
      std::string_view key;
      f.has_key = read_text(v, "key", f.texts, key);
      f.entry.key = key;  // hashed now, while its bytes are in cache
      return f.has_key;
    }
    case 1:
      return (f.has_value = read_text(v, "value", f.texts, f.entry.value));
    case 2:
      if (v == Py_None) return f.entry.source.reset(), true;
      return read_text(v, "source", f.texts, f.entry.source.emplace());
    default:
      if (v == Py_None) return f.entry.timestamp.reset(), true;
      return read_u64(v, "timestamp", f.entry.timestamp.emplace());
  }
}

// An entry in mapping or dataclass form, viewing texts held in `texts`.
std::optional<MemoryEntryView> entry_from_record(PyObject* obj, HeldTexts& texts, std::string_view not_a_record) {
  EntryFields f{texts, false, false, {}};
  if (!read_record(obj, FieldSink{kEntryNames, &set_entry_field, &f}, not_a_record)) return std::nullopt;
  if (!f.has_key) return fail("missing field `key`"), std::nullopt;
  if (!f.has_value) return fail("missing field `value`"), std::nullopt;
  return f.entry;
}

// A sequence (walked by index) or a set of entries in mapping form.
bool entries_from_py(PyObject* obj, SnapshotEntries& out) {
  constexpr std::string_view kExpected = "invalid type for an entry: expected a mapping or a dataclass instance";
  const auto append = [&](PyObject* item) {
    auto entry = entry_from_record(item, out.texts, kExpected);
    Py_DECREF(item);
    if (entry) out.entries.push_back(*entry);
    return entry.has_value();
  };
  const int sequence = is_sequence(obj);
  if (sequence < 0) return fail_with_pending();
  if (sequence == 1) {
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return fail_with_pending();
    out.entries.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PySequence_GetItem(obj, i);
      if (item == nullptr) return fail_with_pending();
      if (!append(item)) return false;
    }
    return true;
  }
  if (!PyAnySet_Check(obj)) {
    return fail("invalid type for `entries`: expected a sequence or a set, got '" + qualified_type_name(obj) + "'");
  }
  PyObject* items = PyObject_GetIter(obj);
  if (items == nullptr) return fail_with_pending();
  bool ok = true;
  while (PyObject* item = PyIter_Next(items)) {
    if (!(ok = append(item))) break;
  }
  Py_DECREF(items);
  return ok && (!PyErr_Occurred() || fail_with_pending());
}

// ---- snapshots

constexpr std::string_view kSnapshotNames[] = {"entries", "takenAt"};

struct SnapshotFields {
  std::optional<SnapshotEntries> entries;
  std::optional<std::uint64_t> taken_at;
};

bool set_snapshot_field(void* target, int index, PyObject* v) {
  auto& f = *static_cast<SnapshotFields*>(target);
  if (index == 0) return entries_from_py(v, f.entries.emplace());
  return read_u64(v, "takenAt", f.taken_at.emplace());
}

}  // namespace

std::string Record<MemoryEntry>::repr(const MemoryEntry& e) {
  std::string out = "MemoryEntry(key=" + debug_quote(e.key) + ", value=" + debug_quote(e.value) +
                    ", source=" + repr_optional_text(e.source) + ", timestamp=";
  out += e.timestamp ? "Some(" + std::to_string(*e.timestamp) + ")" : "None";
  out += ")";
  return out;
}

std::string Record<MemorySnapshot>::repr(const MemorySnapshot& s) {
  return "MemorySnapshot(entries=[" + std::to_string(s.entries.size()) + "], taken_at=" + std::to_string(s.taken_at) +
         ")";
}

std::string Record<ModifiedEntry>::repr(const ModifiedEntry& m) {
  return "ModifiedEntry(key=" + debug_quote(m.key) + ", before=" + debug_quote(m.before) +
         ", after=" + debug_quote(m.after) + ")";
}

std::string Record<MemoryAnomaly>::repr(const MemoryAnomaly& a) {
  std::string out = "MemoryAnomaly(type='";
  out.append(anomaly_type_name(a.type)).append("', severity='").append(anomaly_severity_name(a.severity));
  out.append("', description=").append(debug_quote(a.description)).append(", entries=[");
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    if (i > 0) out += ", ";
    out += debug_quote(a.entries[i]);
  }
  out += "])";
  return out;
}

std::string Record<MemoryDiffResult>::repr(const MemoryDiffResult& r) {
  return std::string("MemoryDiffResult(safe=") + repr_bool(r.safe) + ", added=[" + std::to_string(r.added.size()) +
         "], removed=[" + std::to_string(r.removed.size()) + "], modified=[" + std::to_string(r.modified.size()) +
         "], anomalies=[" + std::to_string(r.anomalies.size()) + "])";
}

HeldTexts::~HeldTexts() {
  for (PyObject* obj : objects_) Py_DECREF(obj);
}

bool HeldTexts::view(PyObject* text, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return false;
  objects_.push_back(text);
  Py_INCREF(text);
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

std::optional<MemoryEntry> entry_from_py(PyObject* obj) {
  if (const MemoryEntry* entry = record_if<MemoryEntry>(obj)) return *entry;
  HeldTexts texts;
  const auto entry = entry_from_record(
      obj, texts, "invalid type for an entry: expected a MemoryEntry, a mapping or a dataclass instance");
  if (!entry) return std::nullopt;
  return entry->to_entry();
}

std::optional<SnapshotEntries> snapshot_entries_from_py(PyObject* obj) {
  if (const MemorySnapshot* snapshot = record_if<MemorySnapshot>(obj)) {
    return SnapshotEntries{{snapshot->entries.begin(), snapshot->entries.end()}, {}};
  }
  SnapshotFields f;
  if (!read_record(obj, FieldSink{kSnapshotNames, &set_snapshot_field, &f},
                   "invalid type for a snapshot: expected a MemorySnapshot, a mapping or a dataclass instance")) {
    return std::nullopt;
  }
  if (!f.entries) return fail("missing field `entries`"), std::nullopt;
  if (!f.taken_at) return fail("missing field `takenAt`"), std::nullopt;
  return std::move(f.entries);
}

PyObject* py_create_memory_snapshot(const Args& a) {
  SnapshotEntries views;
  if (!entries_from_py(a.object(0), views)) return nullptr;
  std::vector<MemoryEntry> entries;
  entries.reserve(views.entries.size());
  for (const MemoryEntryView& e : views.entries) entries.push_back(e.to_entry());
  return to_py(create_memory_snapshot(std::move(entries), a.uint64(1)));
}

PyObject* py_diff_memory_snapshots(const Args& a) {
  const auto before = snapshot_entries_from_py(a.object(0));
  if (!before) return nullptr;
  const auto after = snapshot_entries_from_py(a.object(1));
  if (!after) return nullptr;
  return to_py(diff_memory_snapshots(before->entries, after->entries));
}

}  // namespace vardex::py
