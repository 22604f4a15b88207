#include "json_convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "errors.h"
#include "objects.h"

namespace vardex::py {
namespace {

constexpr std::string_view kIntTooLarge = "OverflowError: Python int too large to convert to C long";

std::string decimal(unsigned __int128 magnitude, bool negative) {
  char buf[48];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return std::string(p, static_cast<std::size_t>(buf + sizeof buf - p));
}

// The shortest text that reads back as `v`, in the interpreter's repr layout (positional
// notation for exponents -4 to 15, else d.ddde±XX), always with a point or an exponent.
std::string float_text(double v) {
  char sci[32];
  const auto [end, ec] = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
  std::string_view text(sci, static_cast<std::size_t>(end - sci));
  const std::size_t e_pos = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e_pos + (text[e_pos + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
  if (exponent < -4 || exponent >= 16) return std::string(text);
  const bool negative = text.front() == '-';
  std::string digits;
  for (char c : text.substr(0, e_pos)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
    out += ".0";
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent) + 1);
  }
  return out;
}

// Members in ascending key order, each key once (a later duplicate replaces an earlier one).
void sort_members(json::Object& members) {
  const auto not_ascending = [](const auto& a, const auto& b) { return !(a.first < b.first); };
  if (std::adjacent_find(members.begin(), members.end(), not_ascending) == members.end()) return;
  std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (kept > 0 && members[kept - 1].first == members[i].first) {
      members[kept - 1].second = std::move(members[i].second);
    } else {
      if (kept != i) members[kept] = std::move(members[i]);
      ++kept;
    }
  }
  members.resize(kept);
}

// One conversion; `error` holds the message of the first failure. Exceptions that are not
// ordinary errors (KeyboardInterrupt, SystemExit) are left pending instead.
class Converter {
 public:
  bool convert(PyObject* obj, json::Value& out, std::size_t depth);

  std::string error;
  bool propagate = false;  ///< a non-Exception exception is pending and must pass through

 private:
  bool fail(std::string message) {
    error = std::move(message);
    return false;
  }
  bool fail_python();
  bool enter(std::size_t depth) {
    return depth < kMaxJsonDepth ||
           fail("value nested too deeply: more than " + std::to_string(kMaxJsonDepth) + " levels of containers");
  }

  bool from_int(PyObject* obj, json::Value& out);
  bool from_big_int(PyObject* obj, json::Value& out);
  bool from_str(PyObject* obj, std::string& out);
  bool from_list(PyObject* obj, json::Value& out, std::size_t depth);
  bool from_tuple(PyObject* obj, json::Value& out, std::size_t depth);
  bool from_dict(PyObject* obj, json::Value& out, std::size_t depth);
  bool from_mapping(PyObject* obj, json::Value& out, std::size_t depth);
  bool members_of(PyObject* keys, PyObject* source, json::Value& out, std::size_t depth);
  bool from_set(PyObject* obj, json::Value& out, std::size_t depth);
  bool from_sequence(PyObject* obj, json::Value& out, std::size_t depth);
  bool from_dataclass(PyObject* obj, PyObject* fields, json::Value& out, std::size_t depth);
  bool member(json::Object& members, PyObject* key, PyObject* value, std::size_t depth);
  // 1 when `obj` is an instance of `abc`, 0 when not, -1 on failure (message set).
  int is_instance_or_fail(PyObject* obj, PyObject* abc);
};

// The pending exception as "TypeName: text"; interrupts and exits pass through unchanged.
bool Converter::fail_python() {
  auto text = take_exception_text();
  if (!text) {
    propagate = true;
    return false;
  }
  return fail(std::move(*text));
}

bool Converter::convert(PyObject* obj, json::Value& out, std::size_t depth) {
  // Exact built-in types first: the cases that real data consists of.
  if (PyUnicode_CheckExact(obj)) {
    std::string text;
    if (!from_str(obj, text)) return false;
    out = std::move(text);
    return true;
  }
  if (PyLong_CheckExact(obj)) return from_int(obj, out);
  if (PyDict_CheckExact(obj)) return from_dict(obj, out, depth);
  if (PyList_CheckExact(obj)) return from_list(obj, out, depth);

  // The full order of tests; the first that applies decides.
  if (obj == Py_None) {
    out = nullptr;
    return true;
  }
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  if (PyLong_Check(obj)) return from_int(obj, out);
  if (PyList_Check(obj)) return from_list(obj, out, depth);
  if (PyTuple_Check(obj)) return from_tuple(obj, out, depth);
  if (PyDict_Check(obj)) return from_mapping(obj, out, depth);
  if (PyUnicode_Check(obj)) {
    std::string text;
    if (!from_str(obj, text)) return false;
    out = std::move(text);
    return true;
  }
  if (PyBytes_Check(obj)) return fail("invalid type: byte array, expected any valid JSON value");
  if (PyByteArray_Check(obj)) {
    return fail("unexpected type: '" + qualified_type_name(obj) + "' object is not an instance of 'bytes'");
  }
  if (PyFloat_Check(obj)) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return fail_python();
    out = std::isfinite(v) ? json::Value(json::Number{float_text(v)}) : json::Value();
    return true;
  }
  if (PyAnySet_Check(obj)) return from_set(obj, out, depth);
  int r = is_instance_or_fail(obj, sequence_abc());
  if (r != 0) return r > 0 && from_sequence(obj, out, depth);
  r = is_instance_or_fail(obj, mapping_abc());
  if (r != 0) return r > 0 && from_mapping(obj, out, depth);
  Ref fields(PyObject_GetAttrString(obj, "__dataclass_fields__"));
  if (fields) return from_dataclass(obj, fields.get(), out, depth);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return fail_python();
  PyErr_Clear();
  return fail("unsupported type " + qualified_type_name(obj));
}

int Converter::is_instance_or_fail(PyObject* obj, PyObject* abc) {
  const int r = is_instance(obj, abc);
  if (r < 0) fail_python();
  return r;
}

bool Converter::from_str(PyObject* obj, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) return fail_python();
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

bool Converter::from_int(PyObject* obj, json::Value& out) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (v == -1 && PyErr_Occurred()) return fail_python();
  if (overflow != 0) return from_big_int(obj, out);
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out = json::Number{std::string(buf, end)};
  return true;
}

// Integers beyond 64 bits: exact when within unsigned or signed 128 bits, else refused.
bool Converter::from_big_int(PyObject* obj, json::Value& out) {
  static PyObject* const sixty_four = PyLong_FromLong(64);
  if (sixty_four == nullptr) return fail_python();
  Ref exact(PyNumber_Index(obj));  // an exact int, whatever the subclass overrides
  if (!exact) return fail_python();
  const unsigned long long low = PyLong_AsUnsignedLongLongMask(exact.get());
  if (low == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return fail_python();
  Ref high_obj(PyNumber_Rshift(exact.get(), sixty_four));
  if (!high_obj) return fail_python();
  int overflow = 0;
  const long long high = PyLong_AsLongLongAndOverflow(high_obj.get(), &overflow);
  if (high == -1 && PyErr_Occurred()) return fail_python();
  if (overflow < 0) return fail(std::string(kIntTooLarge));
  if (overflow > 0) {
    const unsigned long long uhigh = PyLong_AsUnsignedLongLong(high_obj.get());
    if (uhigh == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return fail(std::string(kIntTooLarge));
    }
    out = json::Number{decimal((static_cast<unsigned __int128>(uhigh) << 64) | low, false)};
    return true;
  }
  const auto value = static_cast<__int128>((static_cast<unsigned __int128>(high) << 64) | low);
  const auto magnitude = value < 0 ? -static_cast<unsigned __int128>(value) : static_cast<unsigned __int128>(value);
  out = json::Number{decimal(magnitude, value < 0)};
  return true;
}

bool Converter::from_list(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  json::Array items;
  items.reserve(static_cast<std::size_t>(PyList_Size(obj)));
  // The size is read again each round: user code met while converting an item may change the list.
  for (Py_ssize_t i = 0; i < PyList_Size(obj); ++i) {
    PyObject* item = PyList_GetItem(obj, i);
    Py_INCREF(item);
    Ref hold(item);
    if (!convert(item, items.emplace_back(), depth + 1)) return false;
  }
  out = std::move(items);
  return true;
}

bool Converter::from_tuple(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  const Py_ssize_t n = PyTuple_Size(obj);
  json::Array items(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!convert(PyTuple_GetItem(obj, i), items[static_cast<std::size_t>(i)], depth + 1)) return false;
  }
  out = std::move(items);
  return true;
}

bool Converter::member(json::Object& members, PyObject* key, PyObject* value, std::size_t depth) {
  auto& [name, converted] = members.emplace_back();
  return from_str(key, name) && convert(value, converted, depth + 1);
}

bool Converter::from_dict(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  json::Object members;
  members.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) return fail("dict keys must have type str");
    Py_INCREF(key);
    Py_INCREF(value);
    Ref hold_key(key), hold_value(value);
    if (!member(members, key, value, depth)) return false;
  }
  sort_members(members);
  out = std::move(members);
  return true;
}

// Dict subclasses and other mappings: their own keys() and item lookup.
bool Converter::from_mapping(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  Ref keys(PyMapping_Keys(obj));
  if (!keys) return fail_python();
  return members_of(keys.get(), obj, out, depth);
}

// The members named by the list `keys`, in that order, each value looked up in `source`.
bool Converter::members_of(PyObject* keys, PyObject* source, json::Value& out, std::size_t depth) {
  const Py_ssize_t n = PyList_Size(keys);
  json::Object members;
  members.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* key = PyList_GetItem(keys, i);
    if (!PyUnicode_Check(key)) return fail("dict keys must have type str");
    Ref value(PyObject_GetItem(source, key));
    if (!value) return fail_python();
    if (!member(members, key, value.get(), depth)) return false;
  }
  sort_members(members);
  out = std::move(members);
  return true;
}

bool Converter::from_set(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  Ref iterator(PyObject_GetIter(obj));
  if (!iterator) return fail_python();
  json::Array items;
  items.reserve(static_cast<std::size_t>(PySet_Size(obj)));
  while (PyObject* raw = PyIter_Next(iterator.get())) {
    Ref item(raw);
    if (!convert(item.get(), items.emplace_back(), depth + 1)) return false;
  }
  if (PyErr_Occurred()) return fail_python();
  out = std::move(items);
  return true;
}

bool Converter::from_sequence(PyObject* obj, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  const Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) return fail_python();
  json::Array items(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item(PySequence_GetItem(obj, i));
    if (!item) return fail_python();
    if (!convert(item.get(), items[static_cast<std::size_t>(i)], depth + 1)) return false;
  }
  out = std::move(items);
  return true;
}

// The declared fields, in declaration order, each read from the instance's __dict__.
// ClassVar and InitVar pseudo-fields are listed in __dataclass_fields__ but are never
// instance attributes: they are skipped, as dataclasses.fields() skips them.
bool Converter::from_dataclass(PyObject* obj, PyObject* fields, json::Value& out, std::size_t depth) {
  if (!enter(depth)) return false;
  if (!PyDict_Check(fields)) {
    return fail("unexpected type: '" + qualified_type_name(fields) + "' object is not an instance of 'dict'");
  }
  Ref instance_dict(PyObject_GetAttrString(obj, "__dict__"));
  if (!instance_dict) return fail_python();
  PyObject* fields_of = dataclass_fields_function();
  Ref declared(fields_of == nullptr ? nullptr : PyObject_CallFunctionObjArgs(fields_of, obj, nullptr));
  Ref iterator(declared ? PyObject_GetIter(declared.get()) : nullptr);
  Ref names(PyList_New(0));
  if (!iterator || !names) return fail_python();
  while (PyObject* field = PyIter_Next(iterator.get())) {
    Ref hold(field);
    Ref name(PyObject_GetAttrString(field, "name"));
    if (!name || PyList_Append(names.get(), name.get()) < 0) return fail_python();
  }
  if (PyErr_Occurred()) return fail_python();
  return members_of(names.get(), instance_dict.get(), out, depth);
}

}  // namespace

std::optional<json::Value> to_json(PyObject* obj) {
  Converter converter;
  json::Value value;
  if (converter.convert(obj, value, 0)) return value;
  if (!converter.propagate) raise_value_error(converter.error);
  return std::nullopt;
}

}  // namespace vardex::py
