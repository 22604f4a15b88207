// Encrypted tool-call claims: the action normalised for hashing, the claim hash over the
// plaintext columns, and the "log_tool_call" columns with action, context and tool
// arguments encrypted to an organisation key.
#pragma once

#include <string>
#include <string_view>

#include "error.h"

namespace vardex {

// The columns of "log_tool_call" with action, context and tool arguments as envelope texts.
struct EncryptedToolCallArgs {
  std::string tool_call_id;    ///< unchanged
  std::string action_text;     ///< envelope of the action; second label the claim hash
  std::string action_context;  ///< envelope of the context, or empty for an empty context
  std::string tool_name;       ///< unchanged, readable for filtering
  std::string tool_args_json;  ///< envelope of the tool arguments, or empty when they are empty
};

// The plaintext view of the same columns.
struct ToolCallPlaintext {
  std::string tool_name;
  std::string action;
  std::string context;
  std::string tool_args_json;
};

// The action with surrounding Unicode white space removed; when that text is a JSON object
// holding "args" and one of the per-call identifier keys, the compact JSON
// {"tool_name":<its tool_name or null>,"args":<its args>} instead, so that identifier values
// do not change the hash. Never fails.
std::string normalize_action_for_hash(std::string_view action);

// Returns the 64 lower-case hex digits of SHA-256 over the compact JSON array
// [tool name, normalised action, context, tool arguments], each text trimmed of surrounding
// Unicode white space. Never fails.
std::string compute_claim_hash(std::string_view tool_name, std::string_view action, std::string_view context,
                               std::string_view tool_args_json);

// Returns the columns with action, context and tool arguments encrypted for the
// organisation key (domain "toolcall", associated data "<tool_call_id>:<column>") and
// packed with the key's fingerprint as first label.
// Errors: ChainSchema for an empty tool-call id; Ecies for an unusable organisation key.
Result<EncryptedToolCallArgs> build_encrypted_toolcall_args(std::string_view tool_call_id, std::string_view action,
                                                            std::string_view context, std::string_view tool_name,
                                                            std::string_view tool_args_json,
                                                            std::string_view org_encryption_pub_key_hex);

}  // namespace vardex
