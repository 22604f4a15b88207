// Where core errors and C++ exceptions become Python exceptions: VardexError and binding
// validation failures as ValueError, InternalFault as the module's internal-fault type
// (derived from BaseException), std::bad_alloc as MemoryError.
#pragma once

#include <Python.h>

#include <string_view>

#include "error.h"

namespace vardex::py {

// The internal-fault exception type, created once per process; null with an exception set
// if it cannot be created.
PyObject* internal_fault_type();

// Raise ValueError(message) for a core error; returns null for the caller to return.
PyObject* raise_error(const VardexError& error);

// Raise ValueError(message) for a validation failure of the binding itself.
PyObject* raise_value_error(std::string_view message);

// Raise `type(message)`; returns null.
PyObject* raise(PyObject* type, std::string_view message);

// Translate the C++ exception being handled (call only inside a catch block); returns null.
PyObject* raise_current_exception() noexcept;

}  // namespace vardex::py
