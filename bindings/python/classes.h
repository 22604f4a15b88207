// The result classes: read-only heap types named "builtins.<Name>", each holding a copy of
// one C++ record, with getters that build fresh Python objects, and the conversion of
// every result value (text, bytes, numbers, optionals, lists, records) into Python.
//
// A result class is declared by specialising Record<T> beside its area's binding code:
//
//   template <> struct Record<RedactResult> {
//     static constexpr const char* name = "RedactResult";
//     static constexpr Field fields[] = {field<&RedactResult::redacted>("redacted"), ...};
//     static std::string repr(const RedactResult& r);
//     // optional: static constexpr const char* doc = "...";
//     // optional: static PyObject* richcompare(const RedactResult& a, PyObject* other, int op);
//   };
#pragma once

#include <Python.h>

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "errors.h"

namespace vardex::py {

template <class T>
struct Record;

template <class T>
concept RecordType = requires { Record<T>::name; };

// One read-only attribute: its name and how to build its value from the record.
struct Field {
  const char* name;
  PyObject* (*get)(const void* record);
};

// Conversions of result values into new Python objects (null with an exception set on failure).
PyObject* to_py(std::string_view text);  // valid UTF-8
PyObject* to_py(const char* text);
PyObject* to_py(const Bytes& bytes);
PyObject* to_py(bool value);
PyObject* to_py(std::int64_t value);
PyObject* to_py(std::uint64_t value);
inline PyObject* to_py(std::int32_t value) { return to_py(static_cast<std::int64_t>(value)); }
inline PyObject* to_py(std::uint32_t value) { return to_py(static_cast<std::uint64_t>(value)); }
template <class T>
PyObject* to_py(const std::optional<T>& value);
template <class T>
PyObject* to_py(const std::vector<T>& items);
template <RecordType T>
PyObject* to_py(T record);

template <class T>
PyObject* to_py(const std::optional<T>& value) {
  if (!value) Py_RETURN_NONE;
  return to_py(*value);
}

template <class T>
PyObject* to_py(const std::vector<T>& items) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_py(items[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

// Creates a result type; null with an exception set on failure. The field table must live
// for the process.
PyObject* create_type(const char* name, std::span<const Field> fields, reprfunc repr, destructor dealloc,
                      richcmpfunc richcompare, const char* doc);

namespace detail {

struct Instance {
  PyObject_HEAD
  void* record;
};

template <auto Member>
struct MemberOf;
template <class C, class M, M C::*P>
struct MemberOf<P> {
  using Class = C;
};

template <auto Member>
PyObject* get_member(const void* record) {
  using C = typename MemberOf<Member>::Class;
  try {
    return to_py(static_cast<const C*>(record)->*Member);
  } catch (...) {
    return raise_current_exception();
  }
}

template <RecordType T>
const T& record_of(PyObject* self) {
  return *static_cast<const T*>(reinterpret_cast<Instance*>(self)->record);
}

template <RecordType T>
PyObject* repr_slot(PyObject* self) {
  try {
    return to_py(std::string_view(Record<T>::repr(record_of<T>(self))));
  } catch (...) {
    return raise_current_exception();
  }
}

template <RecordType T>
void dealloc_slot(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete static_cast<T*>(reinterpret_cast<Instance*>(self)->record);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

template <RecordType T>
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
  try {
    return Record<T>::richcompare(record_of<T>(self), other, op);
  } catch (...) {
    return raise_current_exception();
  }
}

template <class T>
constexpr const char* doc_of() {
  if constexpr (requires { Record<T>::doc; }) {
    return Record<T>::doc;
  } else {
    return nullptr;
  }
}

}  // namespace detail

// The attribute `name` backed by the data member `Member`.
template <auto Member>
constexpr Field field(const char* name) {
  return {name, &detail::get_member<Member>};
}

// The type object of result class T, created on first use; null with an exception set if
// creation fails (it is tried again on the next use).
template <RecordType T>
PyObject* type_object() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    richcmpfunc compare = nullptr;
    if constexpr (requires { &Record<T>::richcompare; }) compare = &detail::richcompare_slot<T>;
    type = create_type(Record<T>::name, Record<T>::fields, &detail::repr_slot<T>, &detail::dealloc_slot<T>, compare,
                       detail::doc_of<T>());
  }
  return type;
}

// The record held by an instance of T's class, or null if `obj` is not one.
template <RecordType T>
const T* record_if(PyObject* obj) {
  PyObject* type = type_object<T>();
  if (type == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  if (Py_TYPE(obj) != reinterpret_cast<PyTypeObject*>(type)) return nullptr;
  return &detail::record_of<T>(obj);
}

template <RecordType T>
PyObject* to_py(T record) {
  PyObject* type = type_object<T>();
  if (type == nullptr) return nullptr;
  auto* tp = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
  PyObject* self = alloc(tp, 0);
  if (self == nullptr) return nullptr;
  try {
    reinterpret_cast<detail::Instance*>(self)->record = new T(std::move(record));
  } catch (...) {
    reinterpret_cast<detail::Instance*>(self)->record = nullptr;
    Py_DECREF(self);
    return raise_current_exception();
  }
  return self;
}

// Pieces of the fixed repr formats.
inline const char* repr_bool(bool value) { return value ? "true" : "false"; }
// "None", or "Some(" + the text in debug quoting + ")".
std::string repr_optional_text(const std::optional<std::string>& text);

}  // namespace vardex::py
