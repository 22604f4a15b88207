#include "errors.h"

#include <exception>
#include <new>
#include <string>

namespace vardex::py {

PyObject* internal_fault_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "vardex_core.InternalFault",
        "A broken invariant inside vardex_core (an embedded table that does not build, an aborted search). "
        "Derives from BaseException so that handlers for Exception do not swallow it.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

PyObject* raise(PyObject* type, std::string_view message) {
  PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
  if (text == nullptr) return nullptr;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
  return nullptr;
}

PyObject* raise_value_error(std::string_view message) { return raise(PyExc_ValueError, message); }

PyObject* raise_error(const VardexError& error) { return raise_value_error(error.message()); }

PyObject* raise_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    try {
      PyObject* type = internal_fault_type();
      return type == nullptr ? nullptr : raise(type, e.what());
    } catch (...) {
      return PyErr_NoMemory();
    }
  } catch (...) {
    PyObject* type = internal_fault_type();
    if (type != nullptr) PyErr_SetString(type, "unknown internal fault");
    return nullptr;
  }
}

}  // namespace vardex::py
