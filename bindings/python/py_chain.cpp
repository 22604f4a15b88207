#include "py_chain.h"

#include "crypto.h"
#include "hex.h"
#include "identity.h"
#include "text.h"

namespace vardex::py {
namespace {

std::string chars(std::size_t n) { return "<" + std::to_string(n) + " chars>"; }

}  // namespace

std::string Record<JudgeSignatureCheck>::repr(const JudgeSignatureCheck& c) {
  return std::string("JudgeSignatureCheck(ok=") + repr_bool(c.ok) + ", reason=" + repr_optional_text(c.reason) + ")";
}

std::string Record<ToolCallPlaintext>::repr(const ToolCallPlaintext& p) {
  return "ToolCallPlaintext(tool_name=" + debug_quote(p.tool_name) + ", action=" + debug_quote(p.action) +
         ", context=" + chars(p.context.size()) + ", tool_args_json=" + chars(p.tool_args_json.size()) + ")";
}

std::string Record<EncryptedToolCallArgs>::repr(const EncryptedToolCallArgs& a) {
  return "EncryptedToolCallArgs(tool_call_id=" + debug_quote(a.tool_call_id) + ", tool_name=" +
         debug_quote(a.tool_name) + ", action_text=" + chars(a.action_text.size()) +
         ", action_context=" + chars(a.action_context.size()) + ", tool_args_json=" +
         chars(a.tool_args_json.size()) + ")";
}

PyObject* py_sign_log_tool_call(const Args& a) {
  return ret(sign_op(kOpLogToolCall,
                     {std::string(a.str(0)), std::string(a.str(1)), std::string(a.str(2)), std::string(a.str(3)),
                      std::string(a.str(4))},
                     a.str(5), a.str(6)));
}

PyObject* py_sign_judge_action(const Args& a) {
  return ret(sign_op(kOpJudgeAction,
                     {std::string(a.str(0)), std::string(a.str(1)), std::string(a.str(2)), std::string(a.str(3))},
                     a.str(4), a.str(5)));
}

PyObject* py_compute_action_hash(const Args& a) {
  return to_py(hex_encode(sha256(as_bytes(normalize_action_for_hash(a.str(0))))));
}

PyObject* py_sign_encrypted_tool_call(const Args& a) {
  const std::string_view privkey = a.str(6);
  if (!is_valid_private_key(privkey)) return raise_error(VardexError::invalid_private_key());
  auto rid = parse_blockchain_rid(a.str(7));
  if (!rid.ok()) return raise_error(rid.error());
  auto columns = build_encrypted_toolcall_args(a.str(0), a.str(1), a.str(2), a.str(3), a.str(4), a.str(5));
  if (!columns.ok()) return raise_error(columns.error());
  EncryptedToolCallArgs& c = columns.value();
  return ret(sign_transaction_hex(rid.value(), kOpLogToolCall,
                                  {std::move(c.tool_call_id), std::move(c.action_text), std::move(c.action_context),
                                   std::move(c.tool_name), std::move(c.tool_args_json)},
                                  privkey));
}

}  // namespace vardex::py
