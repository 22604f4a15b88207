// The one conversion of an arbitrary Python object into the core's JSON value: None, bool,
// int (up to 128 bits, exact), float, str, list/tuple, dict, set/frozenset, any Sequence or
// Mapping, and dataclass instances, tested in that fixed order. Structures nested deeper
// than kMaxJsonDepth are refused, so the native stack is never at risk.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>

#include "json.h"

namespace vardex::py {

// Containers nested deeper than this are refused with a ValueError.
inline constexpr std::size_t kMaxJsonDepth = 1000;

// The JSON value of `obj`; on failure nullopt with a ValueError set whose message describes
// the first problem met. May run user code (__len__, __getitem__, __iter__, keys()).
std::optional<json::Value> to_json(PyObject* obj);

}  // namespace vardex::py
