#include "frame.h"

#include <string>

#include "objects.h"

namespace vardex::py {
namespace {

// "'int' object is not an instance of 'str'"; for None "'None' is not an instance of 'str'".
bool type_mismatch(PyObject* obj, const char* expected) {
  std::string message = obj == Py_None ? "'None'" : "'" + qualified_type_name(obj) + "' object";
  message += " is not an instance of '";
  message += expected;
  message += "'";
  raise(PyExc_TypeError, message);
  return false;
}

bool is_sequence(PyObject* obj) {
  if (PySequence_Check(obj)) return true;
  const int r = is_instance(obj, sequence_abc());
  if (r < 0) PyErr_Clear();
  return r == 1;
}

bool utf8_of(PyObject* obj, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool is_numpy_bool(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  PyObject* module = PyObject_GetAttrString(type, "__module__");
  if (module == nullptr) {
    PyErr_Clear();
    return false;
  }
  const bool numpy = PyUnicode_Check(module) && PyUnicode_CompareWithASCIIString(module, "numpy") == 0;
  Py_DECREF(module);
  if (!numpy) return false;
  PyObject* name = PyType_GetName(Py_TYPE(obj));
  if (name == nullptr) {
    PyErr_Clear();
    return false;
  }
  const bool is_bool = PyUnicode_CompareWithASCIIString(name, "bool_") == 0 ||
                       PyUnicode_CompareWithASCIIString(name, "bool") == 0;
  Py_DECREF(name);
  return is_bool;
}

bool sequence_items(PyObject* obj, std::vector<PyObject*>& items) {
  const Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) return false;
  items.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PySequence_GetItem(obj, i);
    if (item == nullptr) {
      for (PyObject* o : items) Py_DECREF(o);
      items.clear();
      return false;
    }
    items.push_back(item);
  }
  return true;
}

bool convert_byte_seq(PyObject* obj, Args::Value& out) {
  if (PyBytes_Check(obj)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AsString(obj));
    out = Bytes(data, data + PyBytes_Size(obj));
    return true;
  }
  if (PyByteArray_Check(obj)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyByteArray_AsString(obj));
    out = Bytes(data, data + PyByteArray_Size(obj));
    return true;
  }
  if (PyUnicode_Check(obj)) return raise(PyExc_TypeError, "Can't extract `str` to `Vec`"), false;
  if (!is_sequence(obj)) return PyErr_Occurred() ? false : type_mismatch(obj, "Sequence");
  std::vector<PyObject*> items;
  if (!sequence_items(obj, items)) return false;
  Bytes bytes;
  bytes.reserve(items.size());
  bool ok = true;
  for (PyObject* item : items) {
    if (ok) {
      const long v = PyLong_AsLong(item);
      if (v == -1 && PyErr_Occurred()) {
        ok = false;
      } else if (v < 0 || v > 255) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
        ok = false;
      } else {
        bytes.push_back(static_cast<std::uint8_t>(v));
      }
    }
    Py_DECREF(item);
  }
  if (ok) out = std::move(bytes);
  return ok;
}

bool convert_str_list(PyObject* obj, Args::Value& out) {
  if (obj == Py_None) return true;
  if (PyUnicode_Check(obj)) return raise(PyExc_TypeError, "Can't extract `str` to `Vec`"), false;
  if (!is_sequence(obj)) return PyErr_Occurred() ? false : type_mismatch(obj, "Sequence");
  std::vector<PyObject*> items;
  if (!sequence_items(obj, items)) return false;
  std::vector<std::string> texts;
  texts.reserve(items.size());
  bool ok = true;
  for (PyObject* item : items) {
    std::string_view text;
    if (ok && !PyUnicode_Check(item)) {
      ok = type_mismatch(item, "str");
    } else if (ok && utf8_of(item, text)) {
      texts.emplace_back(text);
    } else {
      ok = false;
    }
    Py_DECREF(item);
  }
  if (ok) out = std::move(texts);
  return ok;
}

bool convert(Kind kind, PyObject* obj, Args::Value& out) {
  switch (kind) {
    case Kind::OptStr:
      if (obj == Py_None) return true;
      [[fallthrough]];
    case Kind::Str: {
      if (!PyUnicode_Check(obj)) return type_mismatch(obj, "str");
      std::string_view text;
      if (!utf8_of(obj, text)) return false;
      out = text;
      return true;
    }
    case Kind::Bytes: {
      if (!PyBytes_Check(obj)) return type_mismatch(obj, "bytes");
      const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AsString(obj));
      out = std::span<const std::uint8_t>(data, static_cast<std::size_t>(PyBytes_Size(obj)));
      return true;
    }
    case Kind::ByteSeq:
      return convert_byte_seq(obj, out);
    case Kind::Int:
    case Kind::UInt: {
      PyObject* index = PyNumber_Index(obj);
      if (index == nullptr) return false;
      bool ok;
      if (kind == Kind::Int) {
        const long long v = PyLong_AsLongLong(index);
        ok = !(v == -1 && PyErr_Occurred());
        if (ok) out = static_cast<std::int64_t>(v);
      } else {
        const unsigned long long v = PyLong_AsUnsignedLongLong(index);
        ok = !(v == static_cast<unsigned long long>(-1) && PyErr_Occurred());
        if (ok) out = static_cast<std::uint64_t>(v);
      }
      Py_DECREF(index);
      return ok;
    }
    case Kind::Float: {
      const double v = PyFloat_AsDouble(obj);
      if (v == -1.0 && PyErr_Occurred()) return false;
      out = v;
      return true;
    }
    case Kind::Bool:
      if (obj == Py_True || obj == Py_False) {
        out = obj == Py_True;
        return true;
      }
      if (is_numpy_bool(obj)) {
        const int truth = PyObject_IsTrue(obj);
        if (truth < 0) return false;
        out = truth == 1;
        return true;
      }
      return type_mismatch(obj, "bool");
    case Kind::OptStrList:
      return convert_str_list(obj, out);
    case Kind::Object:
      out = obj;
      return true;
  }
  return false;
}

// Attaches "while processing 'name'" to the pending exception.
void add_note(const char* name) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    const std::string note = std::string("while processing '") + name + "'";
    PyObject* r = PyObject_CallMethod(value, "add_note", "s", note.c_str());
    if (r == nullptr) {
      PyErr_Clear();
    } else {
      Py_DECREF(r);
    }
  }
  PyErr_Restore(type, value, traceback);
}

void join_names(std::string& out, const std::vector<const char*>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) out += ",";
      out += i + 1 == names.size() ? " and " : " ";
    }
    out += "'";
    out += names[i];
    out += "'";
  }
}

PyObject* too_many_positional(const Function& f, Py_ssize_t given) {
  std::size_t required = 0;
  for (std::size_t i = 0; i < f.nparams; ++i) required += f.params[i].default_text == nullptr;
  std::string message = std::string(f.name) + "() takes ";
  if (required != f.nparams) {
    message += "from " + std::to_string(required) + " to " + std::to_string(f.nparams);
  } else {
    message += std::to_string(f.nparams);
  }
  message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
  return raise(PyExc_TypeError, message);
}

// Fills `bound` (borrowed references) from positional and keyword arguments.
bool bind(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          std::array<PyObject*, kMaxParams>& bound) {
  if (nargs > static_cast<Py_ssize_t>(f.nparams)) return too_many_positional(f, nargs), false;
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GetItem(kwnames, k);
    std::size_t j = 0;
    while (j < f.nparams && PyUnicode_CompareWithASCIIString(key, f.params[j].name) != 0) ++j;
    if (j == f.nparams) {
      std::string_view key_text;
      if (!utf8_of(key, key_text)) return false;
      raise(PyExc_TypeError,
            std::string(f.name) + "() got an unexpected keyword argument '" + std::string(key_text) + "'");
      return false;
    }
    if (bound[j] != nullptr) {
      raise(PyExc_TypeError, std::string(f.name) + "() got multiple values for argument '" + f.params[j].name + "'");
      return false;
    }
    bound[j] = args[nargs + k];
  }
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < f.nparams; ++i) {
    if (bound[i] == nullptr && f.params[i].default_text == nullptr) missing.push_back(f.params[i].name);
  }
  if (!missing.empty()) {
    std::string message = std::string(f.name) + "() missing " + std::to_string(missing.size()) +
                          " required positional argument" + (missing.size() == 1 ? "" : "s") + ": ";
    join_names(message, missing);
    raise(PyExc_TypeError, message);
    return false;
  }
  return true;
}

// The value of an omitted parameter: absent for None, otherwise the quoted text.
void apply_default(const Param& p, Args::Value& out) {
  const std::string_view text = p.default_text;
  if (text != "None") out = text.substr(1, text.size() - 2);
}

}  // namespace


std::optional<std::string_view> Args::opt_str(std::size_t i) const {
  if (const auto* text = std::get_if<std::string_view>(&values_[i])) return *text;
  return std::nullopt;
}

std::span<const std::uint8_t> Args::bytes(std::size_t i) const {
  if (const auto* owned = std::get_if<Bytes>(&values_[i])) return *owned;
  return std::get<std::span<const std::uint8_t>>(values_[i]);
}

std::string text_signature(const Function& f) {
  std::string out = std::string(f.name) + "(";
  for (std::size_t i = 0; i < f.nparams; ++i) {
    if (i > 0) out += ", ";
    out += f.params[i].name;
    if (f.params[i].default_text != nullptr) {
      out += "=";
      out += f.params[i].default_text;
    }
  }
  out += ")\n--\n\n";
  return out;
}

PyObject* call(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    std::array<PyObject*, kMaxParams> bound{};
    if (!bind(f, args, nargs, kwnames, bound)) return nullptr;
    Args converted;
    for (std::size_t i = 0; i < f.nparams; ++i) {
      if (bound[i] == nullptr) {
        apply_default(f.params[i], converted[i]);
      } else if (!convert(f.params[i].kind, bound[i], converted[i])) {
        add_note(f.params[i].name);
        return nullptr;
      }
    }
    return f.impl(converted);
  } catch (...) {
    return raise_current_exception();
  }
}

}  // namespace vardex::py
