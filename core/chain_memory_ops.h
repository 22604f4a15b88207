// The agent public key and file path checks of the memory operations ("add_agent_memory",
// "rollback_agent_memory"); the memory queries apply the same checks.
#pragma once

#include <cstddef>
#include <string_view>

#include "error.h"

namespace vardex {

inline constexpr std::size_t kAgentPubkeyHexLen = 66;  ///< hex digits of a compressed public key
inline constexpr std::size_t kMaxFilePathSize = 512;   ///< UTF-8 bytes of a trimmed file path

// The 66 hex digits of an agent public key text: surrounding Unicode white space and one
// "0x" or "0X" removed. The digits are checked, not decoded; neither the leading byte nor
// the point is checked. Errors: ChainSchema.
Result<std::string_view> agent_pubkey_digits(std::string_view pubkey_hex);

// The 33 bytes of an agent public key text (the form of agent_pubkey_digits). Errors: ChainSchema.
Result<Bytes> validate_agent_pubkey_hex(std::string_view pubkey_hex);

// The path without surrounding Unicode white space, at most kMaxFilePathSize bytes; the
// empty path passes. Errors: ChainSchema.
Result<std::string_view> validate_file_path(std::string_view file_path);

}  // namespace vardex
