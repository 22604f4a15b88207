#include "py_chain_memory.h"

#include <string>

namespace vardex::py {

Status validate_score(std::int64_t score) {
  if (score >= kScoreMin && score <= kScoreMax) return {};
  return VardexError::chain_schema("score must be an integer in [" + std::to_string(kScoreMin) + ", " +
                                   std::to_string(kScoreMax) + "], got " + std::to_string(score));
}

Status validate_memory_nonce(std::span<const std::uint8_t> nonce) {
  if (nonce.size() == kMemoryNonceLen) return {};
  return VardexError::chain_schema("memory nonce must be " + std::to_string(kMemoryNonceLen) + " bytes, got " +
                                   std::to_string(nonce.size()));
}

}  // namespace vardex::py
