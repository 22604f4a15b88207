#include "classes.h"

#include <string>

#include "text.h"

namespace vardex::py {

PyObject* to_py(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* to_py(const char* text) { return to_py(std::string_view(text)); }

PyObject* to_py(const Bytes& bytes) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
}

PyObject* to_py(bool value) { return PyBool_FromLong(value ? 1 : 0); }

PyObject* to_py(std::int64_t value) { return PyLong_FromLongLong(value); }

PyObject* to_py(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

PyObject* create_type(const char* name, std::span<const Field> fields, reprfunc repr, destructor dealloc,
                      richcmpfunc richcompare, const char* doc) {
  // The type refers to its name and getter table for the life of the process.
  auto* qualified = new std::string(std::string("builtins.") + name);
  auto* getset = new PyGetSetDef[fields.size() + 1]{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    getset[i].name = fields[i].name;
    getset[i].get = [](PyObject* self, void* closure) -> PyObject* {
      const auto* f = static_cast<const Field*>(closure);
      return f->get(reinterpret_cast<detail::Instance*>(self)->record);
    };
    getset[i].closure = const_cast<Field*>(&fields[i]);
  }
  PyType_Slot slots[6];
  int n = 0;
  slots[n++] = {Py_tp_getset, getset};
  slots[n++] = {Py_tp_repr, reinterpret_cast<void*>(repr)};
  slots[n++] = {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)};
  if (richcompare != nullptr) slots[n++] = {Py_tp_richcompare, reinterpret_cast<void*>(richcompare)};
  if (doc != nullptr) slots[n++] = {Py_tp_doc, const_cast<char*>(doc)};
  slots[n] = {0, nullptr};
  PyType_Spec spec{qualified->c_str(), static_cast<int>(sizeof(detail::Instance)), 0,
                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return PyType_FromSpec(&spec);
}

std::string repr_optional_text(const std::optional<std::string>& text) {
  return text ? "Some(" + debug_quote(*text) + ")" : "None";
}

}  // namespace vardex::py
