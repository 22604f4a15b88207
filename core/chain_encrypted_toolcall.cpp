#include "chain_encrypted_toolcall.h"

#include <array>

#include "json.h"
#include "text.h"

namespace vardex {
namespace {

// Keys whose values differ from call to call for the same action.
constexpr std::array<std::string_view, 5> kIdentifierKeys = {"session_id", "task_id", "tool_call_id", "turn_id",
                                                              "api_request_id"};

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

}  // namespace vardex
