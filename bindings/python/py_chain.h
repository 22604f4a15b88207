// Bindings of the ledger transaction area: operation signing, signature verification and
// encrypted tool-call claims, with their result classes.
#pragma once

#include <Python.h>

#include <string>

#include "chain_encrypted_toolcall.h"
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

template <>
struct Record<ToolCallPlaintext> {
  static constexpr const char* name = "ToolCallPlaintext";
  static constexpr Field fields[] = {
      field<&ToolCallPlaintext::tool_name>("tool_name"), field<&ToolCallPlaintext::action>("action"),
      field<&ToolCallPlaintext::context>("context"), field<&ToolCallPlaintext::tool_args_json>("tool_args_json")};
  static std::string repr(const ToolCallPlaintext& p);
};

template <>
struct Record<EncryptedToolCallArgs> {
  static constexpr const char* name = "EncryptedToolCallArgs";
  static constexpr const char* doc = "Columns of `log_tool_call` \u2014 `tool_name` stays readable for filtering.";
  static constexpr Field fields[] = {field<&EncryptedToolCallArgs::tool_call_id>("tool_call_id"),
                                     field<&EncryptedToolCallArgs::action_text>("action_text"),
                                     field<&EncryptedToolCallArgs::action_context>("action_context"),
                                     field<&EncryptedToolCallArgs::tool_name>("tool_name"),
                                     field<&EncryptedToolCallArgs::tool_args_json>("tool_args_json")};
  static std::string repr(const EncryptedToolCallArgs& a);
};

// sign_log_tool_call(tool_call_id, action, context, tool_name, tool_args_json, privkey, blockchain_rid)
PyObject* py_sign_log_tool_call(const Args& a);
// sign_judge_action(judgment_id, action, context, extra, privkey, blockchain_rid)
PyObject* py_sign_judge_action(const Args& a);
// compute_action_hash(action): SHA-256 hex of the normalised action.
PyObject* py_compute_action_hash(const Args& a);
// sign_encrypted_tool_call(tool_call_id, action, context, tool_name, tool_args_json,
//                          org_encryption_pub_key_hex, privkey_hex, blockchain_rid_hex)
PyObject* py_sign_encrypted_tool_call(const Args& a);

}  // namespace vardex::py
