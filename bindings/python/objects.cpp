#include "objects.h"

#include <string_view>

namespace vardex::py {
namespace {

std::string utf8_or(PyObject* text, std::string_view fallback) {
  Py_ssize_t size = 0;
  const char* data = text == nullptr ? nullptr : PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::string(fallback);
  }
  return std::string(data, static_cast<std::size_t>(size));
}

// `module`.`name`, imported into `cache` on first use.
PyObject* imported(const char* module, const char* name, PyObject*& cache) {
  if (cache == nullptr) {
    Ref m(PyImport_ImportModule(module));
    if (m) cache = PyObject_GetAttrString(m.get(), name);
  }
  return cache;
}

}  // namespace

std::string qualified_name(PyTypeObject* type) {
  Ref name(PyType_GetQualName(type));
  if (!name) PyErr_Clear();
  return utf8_or(name.get(), "?");
}

PyObject* sequence_abc() {
  static PyObject* cache = nullptr;
  return imported("collections.abc", "Sequence", cache);
}

PyObject* mapping_abc() {
  static PyObject* cache = nullptr;
  return imported("collections.abc", "Mapping", cache);
}

PyObject* dataclass_fields_function() {
  static PyObject* cache = nullptr;
  return imported("dataclasses", "fields", cache);
}

int is_instance(PyObject* obj, PyObject* cls) { return cls == nullptr ? -1 : PyObject_IsInstance(obj, cls); }

std::optional<std::string> take_exception_text() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return "SystemError: error return without exception set";
  PyErr_NormalizeException(&type, &value, &traceback);
  if (!PyErr_GivenExceptionMatches(type, PyExc_Exception)) {
    PyErr_Restore(type, value, traceback);
    return std::nullopt;
  }
  Ref owned_type(type), owned_value(value), owned_traceback(traceback);
  std::string message = qualified_name(reinterpret_cast<PyTypeObject*>(type));
  message += ": ";
  Ref text(value == nullptr ? nullptr : PyObject_Str(value));
  if (!text) PyErr_Clear();
  message += utf8_or(text.get(), "<exception str() failed>");
  return message;
}

}  // namespace vardex::py
