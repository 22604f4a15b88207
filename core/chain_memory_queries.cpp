#include "chain_memory_queries.h"

#include "chain_memory_ops.h"

namespace vardex {

Result<std::string> normalize_and_validate_pubkey_hex(std::string_view agent_pubkey_hex) {
  VARDEX_ASSIGN_OR_RETURN(const std::string_view digits, agent_pubkey_digits(agent_pubkey_hex));
  std::string out(digits);
  for (char& c : out) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

Result<AgentPubkeyOnlyQuery> build_get_active_memory_id_query(std::string_view agent_pubkey_hex,
                                                              std::optional<std::string_view> file_path) {
  AgentPubkeyOnlyQuery query;
  if (file_path) {
    VARDEX_ASSIGN_OR_RETURN(const std::string_view trimmed, validate_file_path(*file_path));
    query.file_path.emplace(trimmed);
  }
  VARDEX_ASSIGN_OR_RETURN(query.agent_pubkey_hex, normalize_and_validate_pubkey_hex(agent_pubkey_hex));
  return query;
}

}  // namespace vardex
