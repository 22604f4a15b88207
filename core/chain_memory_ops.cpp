#include "chain_memory_ops.h"

#include <string>

#include "hex.h"
#include "text.h"

namespace vardex {

Result<std::string_view> agent_pubkey_digits(std::string_view pubkey_hex) {
  std::string_view digits = trim(pubkey_hex);
  // One prefix at most: any other "x" is not a digit and fails below.
  const bool prefixed = digits.starts_with("0x") || digits.starts_with("0X");
  if (prefixed && digits.size() == kAgentPubkeyHexLen + 2) digits.remove_prefix(2);
  const bool all_hex = digits.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
  if (digits.size() != kAgentPubkeyHexLen || !all_hex) {
    return VardexError::chain_schema("agent pubkey must be " + std::to_string(kAgentPubkeyHexLen) +
                                     " hex chars (33-byte compressed secp256k1)");
  }
  return digits;
}

Result<Bytes> validate_agent_pubkey_hex(std::string_view pubkey_hex) {
  VARDEX_ASSIGN_OR_RETURN(const std::string_view digits, agent_pubkey_digits(pubkey_hex));
  return hex_decode(digits);
}

Result<std::string_view> validate_file_path(std::string_view file_path) {
  const std::string_view trimmed = trim(file_path);
  if (trimmed.size() > kMaxFilePathSize) {
    return VardexError::chain_schema("file_path too long (" + std::to_string(trimmed.size()) + " > " +
                                     std::to_string(kMaxFilePathSize) + " bytes)");
  }
  return trimmed;
}

}  // namespace vardex
