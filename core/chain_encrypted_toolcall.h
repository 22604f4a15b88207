// Encrypted tool-call claims: the action normalised for hashing, the claim hash over the
// plaintext columns, and the "log_tool_call" columns with action, context and tool
// arguments encrypted to an organisation key.
#pragma once

#include <string>
#include <string_view>

namespace vardex {

// The action with surrounding Unicode white space removed; when that text is a JSON object
// holding "args" and one of the per-call identifier keys, the compact JSON
// {"tool_name":<its tool_name or null>,"args":<its args>} instead, so that identifier values
// do not change the hash. Never fails.
std::string normalize_action_for_hash(std::string_view action);

}  // namespace vardex
