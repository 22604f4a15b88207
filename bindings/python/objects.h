// Helpers over Python objects shared by the binding layer: owned references, type names,
// the abstract collection types, and the pending exception as text.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

namespace vardex::py {

// An owned reference, released on every path out of a scope.
class Ref {
 public:
  explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(obj_); }
  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

 private:
  PyObject* obj_;
};

// The qualified name of a type ("int", "Outer.Inner"); "?" when it cannot be had.
std::string qualified_name(PyTypeObject* type);
inline std::string qualified_type_name(PyObject* obj) { return qualified_name(Py_TYPE(obj)); }

// collections.abc.Sequence and collections.abc.Mapping, imported once (borrowed); null with
// an exception set when the import fails.
PyObject* sequence_abc();
PyObject* mapping_abc();
// dataclasses.fields, imported once (borrowed); null with an exception set on failure.
PyObject* dataclass_fields_function();

// 1 when `obj` is an instance of `cls`, 0 when not, -1 with an exception set (also when
// `cls` is null because its import failed).
int is_instance(PyObject* obj, PyObject* cls);

// Takes the pending exception and returns it as "TypeName: text" ("<exception str()
// failed>" for the text when it cannot be had). Exceptions that are not Exception
// subclasses (KeyboardInterrupt, SystemExit) stay pending and nullopt is returned.
std::optional<std::string> take_exception_text();

}  // namespace vardex::py
