// Python side of memory-event classification: classify_memory_write over the core
// classifier, and classify_memory_read, whose rules live here beside its wrapper.
#pragma once

#include <Python.h>

#include "frame.h"

namespace vardex::py {

// classify_memory_write(event, ctx, patterns=None, tool_names=None)
PyObject* py_classify_memory_write(const Args& a);
// classify_memory_read(event, ctx, read_tool_names=None, patterns=None, generic_read_tool_names=None)
PyObject* py_classify_memory_read(const Args& a);

}  // namespace vardex::py
