#include "py_chain.h"

namespace vardex::py {

std::string Record<JudgeSignatureCheck>::repr(const JudgeSignatureCheck& c) {
  return std::string("JudgeSignatureCheck(ok=") + repr_bool(c.ok) + ", reason=" + repr_optional_text(c.reason) + ")";
}

PyObject* sign_log_tool_call(const Args& a) {
  return ret(sign_op(kOpLogToolCall,
                     {std::string(a.str(0)), std::string(a.str(1)), std::string(a.str(2)), std::string(a.str(3)),
                      std::string(a.str(4))},
                     a.str(5), a.str(6)));
}

PyObject* sign_judge_action(const Args& a) {
  return ret(sign_op(kOpJudgeAction,
                     {std::string(a.str(0)), std::string(a.str(1)), std::string(a.str(2)), std::string(a.str(3))},
                     a.str(4), a.str(5)));
}

}  // namespace vardex::py
