// Bindings of the ledger transaction area: operation signing, signature verification and
// encrypted tool-call claims, with their result classes.
#pragma once

#include <Python.h>

#include <string>

#include "classes.h"
#include "frame.h"

namespace vardex::py {

}  // namespace vardex::py
