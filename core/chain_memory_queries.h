// Arguments of the memory queries: the normalised agent public key and the optional file path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "error.h"

namespace vardex {

struct AgentPubkeyOnlyQuery {
  std::string agent_pubkey_hex;            ///< 66 lower-case hex digits
  std::optional<std::string> file_path;    ///< trimmed; absent when none was given
};

// The 66 hex digits of an agent public key text (see agent_pubkey_digits), lower-cased.
// Errors: ChainSchema.
Result<std::string> normalize_and_validate_pubkey_hex(std::string_view agent_pubkey_hex);

// The path (when given) checked and trimmed first, then the key normalised. Shared by every
// query that takes a key and an optional path. Errors: ChainSchema.
Result<AgentPubkeyOnlyQuery> build_get_active_memory_id_query(std::string_view agent_pubkey_hex,
                                                              std::optional<std::string_view> file_path);

}  // namespace vardex
