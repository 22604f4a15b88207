#include "py_memory.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value == nullptr || !PyErr_GivenExceptionMatches(value, PyExc_Exception)) {
    PyErr_Restore(type, value, traceback);
    return false;
  }
  std::string message(context);
  if (!message.empty()) message += ": ";
  message += qualified_type_name(value) + ": ";
  PyObject* text = PyObject_Str(value);
  const char* utf8 = text != nullptr ? PyUnicode_AsUTF8AndSize(text, nullptr) : nullptr;
  if (utf8 != nullptr) {
    message += utf8;
  } else {
    PyErr_Clear();
    message += "<exception str() failed>";
  }
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_DECREF(value);
  Py_XDECREF(traceback);
  return fail(message);
}

// collections.abc.<name>, imported once; null with an exception set on failure.
PyObject* abc_type(const char* name) {
  PyObject* module = PyImport_ImportModule("collections.abc");
  if (module == nullptr) return nullptr;
  PyObject* type = PyObject_GetAttrString(module, name);
  Py_DECREF(module);
  return type;
}

// 1 when `obj` is an instance of collections.abc.<name>, 0 when not, -1 on error.
int is_abc_instance(PyObject* obj, PyObject*& cache, const char* name) {
  if (cache == nullptr && (cache = abc_type(name)) == nullptr) return -1;
  return PyObject_IsInstance(obj, cache);
}

int is_mapping(PyObject* obj) {
  static PyObject* mapping = nullptr;
  return PyDict_Check(obj) ? 1 : is_abc_instance(obj, mapping, "Mapping");
}

int is_sequence(PyObject* obj) {
  static PyObject* sequence = nullptr;
  return PySequence_Check(obj) ? 1 : is_abc_instance(obj, sequence, "Sequence");
}

bool utf8_name(PyObject* key, std::string_view& out) {
  if (!PyUnicode_Check(key)) return fail("dict keys must have type str");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) return fail_with_pending();
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool read_text(PyObject* v, const char* field, std::string& out) {
  if (!PyUnicode_Check(v)) {
    return fail(std::string("invalid type for `") + field + "`: expected str, got '" + qualified_type_name(v) + "'");
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(v, &size);
  if (data == nullptr) return fail_with_pending(std::string("invalid value for `") + field + "`");
  out.assign(data, static_cast<std::size_t>(size));
  return true;
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
  const char* const* names;  ///< the recognised names
  int count;
  bool (*set)(void* target, int index, PyObject* value);
  void* target;

  int index_of(std::string_view name) const {
    for (int i = 0; i < count; ++i) {
      if (name == names[i]) return i;
    }
    return -1;
  }
};

// Dataclass form: every declared field is looked up in the instance's __dict__ (a field
// missing there fails with "KeyError: 'x'").
bool walk_dataclass(PyObject* obj, PyObject* fields, const FieldSink& sink) {
  PyObject* dict = PyObject_GetAttrString(obj, "__dict__");
  if (dict == nullptr) return fail_with_pending();
  bool ok = true;
  Py_ssize_t pos = 0;
  PyObject *name, *declared;
  while (ok && PyDict_Next(fields, &pos, &name, &declared)) {
    std::string_view text;
    PyObject* value = nullptr;
    ok = utf8_name(name, text) && ((value = PyObject_GetItem(dict, name)) != nullptr || fail_with_pending());
    if (!ok) break;
    const int i = sink.index_of(text);
    ok = i < 0 || sink.set(sink.target, i, value);
    Py_DECREF(value);
  }
  Py_DECREF(dict);
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
      PyErr_Clear();
    } else if (PyDict_Check(fields)) {
      const bool ok = walk_dataclass(obj, fields, sink);
      Py_DECREF(fields);
      return ok;
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

constexpr const char* kEntryNames[] = {"key", "value", "source", "timestamp"};

struct EntryFields {
  std::optional<std::string> key, value;
  MemoryEntry entry;
};

bool set_entry_field(void* target, int index, PyObject* v) {
  auto& f = *static_cast<EntryFields*>(target);
  switch (index) {
    case 0:
      return read_text(v, "key", f.key.emplace());
    case 1:
      return read_text(v, "value", f.value.emplace());
    case 2:
      if (v == Py_None) return f.entry.source.reset(), true;
      return read_text(v, "source", f.entry.source.emplace());
    default:
      if (v == Py_None) return f.entry.timestamp.reset(), true;
      return read_u64(v, "timestamp", f.entry.timestamp.emplace());
  }
}

// An entry in mapping or dataclass form.
std::optional<MemoryEntry> entry_from_record(PyObject* obj, std::string_view not_a_record) {
  EntryFields f;
  if (!read_record(obj, FieldSink{kEntryNames, 4, &set_entry_field, &f}, not_a_record)) return std::nullopt;
  if (!f.key) return fail("missing field `key`"), std::nullopt;
  if (!f.value) return fail("missing field `value`"), std::nullopt;
  f.entry.key = std::move(*f.key);
  f.entry.value = std::move(*f.value);
  return std::move(f.entry);
}

// A sequence (walked by index) or a set of entries in mapping form.
std::optional<std::vector<MemoryEntry>> entries_from_py(PyObject* obj) {
  constexpr std::string_view kExpected = "invalid type for an entry: expected a mapping or a dataclass instance";
  std::vector<MemoryEntry> out;
  const int sequence = is_sequence(obj);
  if (sequence < 0) return fail_with_pending(), std::nullopt;
  if (sequence == 1) {
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return fail_with_pending(), std::nullopt;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PySequence_GetItem(obj, i);
      if (item == nullptr) return fail_with_pending(), std::nullopt;
      auto entry = entry_from_record(item, kExpected);
      Py_DECREF(item);
      if (!entry) return std::nullopt;
      out.push_back(std::move(*entry));
    }
    return out;
  }
  if (!PyAnySet_Check(obj)) {
    fail("invalid type for `entries`: expected a sequence or a set, got '" + qualified_type_name(obj) + "'");
    return std::nullopt;
  }
  PyObject* items = PyObject_GetIter(obj);
  if (items == nullptr) return fail_with_pending(), std::nullopt;
  bool ok = true;
  while (PyObject* item = PyIter_Next(items)) {
    auto entry = entry_from_record(item, kExpected);
    Py_DECREF(item);
    if (!entry) {
      ok = false;
      break;
    }
    out.push_back(std::move(*entry));
  }
  Py_DECREF(items);
  if (ok && PyErr_Occurred()) ok = fail_with_pending();
  if (!ok) return std::nullopt;
  return out;
}

// ---- snapshots

constexpr const char* kSnapshotNames[] = {"entries", "takenAt"};

struct SnapshotFields {
  std::optional<std::vector<MemoryEntry>> entries;
  std::optional<std::uint64_t> taken_at;
};

bool set_snapshot_field(void* target, int index, PyObject* v) {
  auto& f = *static_cast<SnapshotFields*>(target);
  if (index == 0) {
    f.entries = entries_from_py(v);
    return f.entries.has_value();
  }
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

std::optional<MemoryEntry> entry_from_py(PyObject* obj) {
  if (const MemoryEntry* entry = record_if<MemoryEntry>(obj)) return *entry;
  return entry_from_record(obj, "invalid type for an entry: expected a MemoryEntry, a mapping or a dataclass instance");
}

std::optional<SnapshotEntries> snapshot_entries_from_py(PyObject* obj) {
  if (const MemorySnapshot* snapshot = record_if<MemorySnapshot>(obj)) return SnapshotEntries(&snapshot->entries);
  SnapshotFields f;
  if (!read_record(obj, FieldSink{kSnapshotNames, 2, &set_snapshot_field, &f},
                   "invalid type for a snapshot: expected a MemorySnapshot, a mapping or a dataclass instance")) {
    return std::nullopt;
  }
  if (!f.entries) return fail("missing field `entries`"), std::nullopt;
  if (!f.taken_at) return fail("missing field `takenAt`"), std::nullopt;
  return SnapshotEntries(std::move(*f.entries));
}

PyObject* py_create_memory_snapshot(const Args& a) {
  auto entries = entries_from_py(a.object(0));
  if (!entries) return nullptr;
  return to_py(create_memory_snapshot(std::move(*entries), a.uint64(1)));
}

PyObject* py_diff_memory_snapshots(const Args& a) {
  const auto before = snapshot_entries_from_py(a.object(0));
  if (!before) return nullptr;
  const auto after = snapshot_entries_from_py(a.object(1));
  if (!after) return nullptr;
  return to_py(diff_memory_snapshots(before->get(), after->get()));
}

}  // namespace vardex::py
