#include "chain_encrypted_toolcall.h"

#include <array>

#include "crypto.h"
#include "crypto_ecies.h"
#include "crypto_envelope.h"
#include "hex.h"
#include "json.h"
#include "text.h"

namespace vardex {
namespace {

// Keys whose values differ from call to call for the same action.
constexpr std::array<std::string_view, 5> kIdentifierKeys = {"session_id", "task_id", "tool_call_id", "turn_id",
                                                              "api_request_id"};

constexpr std::size_t kFingerprintChars = 16;

// The first label of every envelope: the organisation key text trimmed, without its "0x"
// and then "0X" prefixes, lower-cased and cut to 16 characters. For a well-formed key these
// are the first 16 digits of the compressed public key.
std::string fingerprint(std::string_view org_key) {
  const std::string lower = to_lower(strip_leading(strip_leading(trim(org_key), "0x"), "0X"));
  std::size_t end = 0;
  for (std::size_t n = 0; n < kFingerprintChars && end < lower.size(); ++n) next_code_point(lower, end);
  return lower.substr(0, end);
}

// The envelope text of one column: encrypted for the organisation in the tool-call domain
// with the associated data "<tool_call_id>:<column>", then packed with the two labels.
Result<std::string> encrypt_column(std::string_view plaintext, std::string_view org_key, std::string_view tool_call_id,
                                   std::string_view column, std::string_view fingerprint,
                                   std::string_view second_label) {
  std::string aad;
  aad.reserve(tool_call_id.size() + 1 + column.size());
  aad.append(tool_call_id).append(":").append(column);
  VARDEX_ASSIGN_OR_RETURN(const Bytes envelope, encrypt_for_org(as_bytes(plaintext), org_key, aad, EciesDomain::Toolcall));
  return pack_envelope(envelope, fingerprint, second_label);
}

}  // namespace

std::string normalize_action_for_hash(std::string_view action) {
  const std::string_view text = trim(action);
  auto parsed = json::parse(text);
  if (!parsed.ok()) return std::string(text);
  const json::Value& value = parsed.value();
  const json::Value* args = value.find("args");
  if (args == nullptr) return std::string(text);
  bool has_identifier = false;
  for (std::string_view key : kIdentifierKeys) has_identifier = has_identifier || value.find(key) != nullptr;
  if (!has_identifier) return std::string(text);

  std::string out = "{\"tool_name\":";
  const json::Value* tool_name = value.find("tool_name");
  json::write_compact(tool_name != nullptr ? *tool_name : json::Value(), out);
  out.append(",\"args\":");
  json::write_compact(*args, out);
  out.push_back('}');
  return out;
}

std::string compute_claim_hash(std::string_view tool_name, std::string_view action, std::string_view context,
                               std::string_view tool_args_json) {
  const std::string normalized = normalize_action_for_hash(action);
  std::string claim = "[";
  json::write_string(trim(tool_name), claim);
  claim.push_back(',');
  json::write_string(normalized, claim);
  claim.push_back(',');
  json::write_string(trim(context), claim);
  claim.push_back(',');
  json::write_string(trim(tool_args_json), claim);
  claim.push_back(']');
  return hex_encode(sha256(as_bytes(claim)));
}

Result<EncryptedToolCallArgs> build_encrypted_toolcall_args(std::string_view tool_call_id, std::string_view action,
                                                            std::string_view context, std::string_view tool_name,
                                                            std::string_view tool_args_json,
                                                            std::string_view org_encryption_pub_key_hex) {
  if (tool_call_id.empty()) return VardexError::chain_schema("tool_call_id must not be empty");
  const std::string fp = fingerprint(org_encryption_pub_key_hex);
  const std::string_view key = org_encryption_pub_key_hex;
  EncryptedToolCallArgs out;
  // The action is encrypted even when empty; the other two columns only when they hold text.
  VARDEX_ASSIGN_OR_RETURN(out.action_text,
                          encrypt_column(action, key, tool_call_id, "action", fp,
                                         compute_claim_hash(tool_name, action, context, tool_args_json)));
  if (!context.empty()) {
    VARDEX_ASSIGN_OR_RETURN(out.action_context, encrypt_column(context, key, tool_call_id, "context", fp, ""));
  }
  if (!tool_args_json.empty()) {
    VARDEX_ASSIGN_OR_RETURN(out.tool_args_json, encrypt_column(tool_args_json, key, tool_call_id, "tool_args", fp, ""));
  }
  out.tool_call_id = tool_call_id;
  out.tool_name = tool_name;
  return out;
}

}  // namespace vardex
