// Bindings of the ledger transaction area: operation signing, signature verification and
// encrypted tool-call claims, with their result classes.
#pragma once

#include <Python.h>

#include <string>

#include "classes.h"
#include "frame.h"
#include "signing.h"

namespace vardex::py {

template <>
struct Record<JudgeSignatureCheck> {
  static constexpr const char* name = "JudgeSignatureCheck";
  static constexpr Field fields[] = {field<&JudgeSignatureCheck::ok>("ok"),
                                     field<&JudgeSignatureCheck::reason>("reason")};
  static std::string repr(const JudgeSignatureCheck& c);
};

PyObject* sign_log_tool_call(const Args& a);
PyObject* sign_judge_action(const Args& a);

}  // namespace vardex::py
