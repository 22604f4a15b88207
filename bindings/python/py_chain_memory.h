// Bindings of the ledger's memory records: the checks and builders of the memory operation
// arguments, the memory query builders and the parsing of returned rows, with their result
// classes. The score and nonce checks are shared with the scoring and memory-encryption
// bindings.
#pragma once

#include <cstdint>
#include <span>

#include "error.h"

namespace vardex::py {

inline constexpr std::int64_t kScoreMin = 1;
inline constexpr std::int64_t kScoreMax = 10;
inline constexpr std::size_t kMemoryNonceLen = 12;

// Passes when kScoreMin <= score <= kScoreMax. Errors: ChainSchema.
Status validate_score(std::int64_t score);

// Passes when `nonce` is exactly kMemoryNonceLen bytes. Errors: ChainSchema.
Status validate_memory_nonce(std::span<const std::uint8_t> nonce);

}  // namespace vardex::py
