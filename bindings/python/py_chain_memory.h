// Bindings of the ledger's memory records: the checks and builders of the memory operation
// arguments, the memory query builders and the parsing of returned rows, with their result
// classes. The score and nonce checks are shared with the scoring and memory-encryption
// bindings.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chain_memory_parse.h"
#include "chain_memory_queries.h"
#include "classes.h"
#include "error.h"
#include "frame.h"
#include "json_convert.h"

namespace vardex::py {

inline constexpr std::int64_t kScoreMin = 1;
inline constexpr std::int64_t kScoreMax = 10;
inline constexpr std::size_t kMemoryNonceLen = 12;

// Arguments of the ledger operation "add_agent_memory".
struct AddAgentMemoryArgs {
  Bytes agent_pubkey;    ///< 33-byte compressed key
  Bytes content_cipher;  ///< never empty
  Bytes nonce;           ///< kMemoryNonceLen bytes
  std::int64_t score;
  std::string file_path;  ///< trimmed
};

// Arguments of the ledger operation "rollback_agent_memory".
struct RollbackAgentMemoryArgs {
  Bytes agent_pubkey;
  std::int64_t to_id;
  std::string reason;  ///< as given, untrimmed
};

struct MemoryByIdQuery {
  std::string agent_pubkey_hex;  ///< 66 lower-case hex digits
  std::int64_t id;
};

// Passes when kScoreMin <= score <= kScoreMax. Errors: ChainSchema.
Status validate_score(std::int64_t score);

// Passes when `nonce` is exactly kMemoryNonceLen bytes. Errors: ChainSchema.
Status validate_memory_nonce(std::span<const std::uint8_t> nonce);

// Passes when id >= 1. Errors: ChainSchema.
Status validate_memory_id(std::int64_t id);

// Passes when `reason` holds a character other than Unicode white space. Errors: ChainSchema.
Status validate_rollback_reason(std::string_view reason);

// Checks, in order: key, score, nonce, non-empty content, path. Errors: ChainSchema.
Result<AddAgentMemoryArgs> build_add_agent_memory_args(std::string_view agent_pubkey_hex,
                                                       std::span<const std::uint8_t> content_cipher,
                                                       std::span<const std::uint8_t> nonce, std::int64_t score,
                                                       std::string_view file_path);

// Checks, in order: key, id, reason. Errors: ChainSchema.
Result<RollbackAgentMemoryArgs> build_rollback_agent_memory_args(std::string_view agent_pubkey_hex,
                                                                 std::int64_t to_id, std::string_view reason);

// Checks, in order: id, key. Errors: ChainSchema.
Result<MemoryByIdQuery> build_get_agent_memory_by_id_query(std::string_view agent_pubkey_hex, std::int64_t id);

// The five queries that take a key and an optional path (agent_pubkey_hex, file_path=None).
PyObject* pubkey_only_query(const Args& a);

// Converts the one argument `value` into a JSON value and parses it with `Parse`.
template <auto Parse>
PyObject* parse_value(const Args& a) {
  const std::optional<json::Value> value = to_json(a.object(0));
  if (!value) return nullptr;
  return ret(Parse(*value));
}

template <>
struct Record<AddAgentMemoryArgs> {
  static constexpr const char* name = "AddAgentMemoryArgs";
  static constexpr Field fields[] = {
      field<&AddAgentMemoryArgs::agent_pubkey>("agent_pubkey"),
      field<&AddAgentMemoryArgs::content_cipher>("content_cipher"),
      field<&AddAgentMemoryArgs::nonce>("nonce"),
      field<&AddAgentMemoryArgs::score>("score"),
      field<&AddAgentMemoryArgs::file_path>("file_path"),
  };
  static std::string repr(const AddAgentMemoryArgs& r);
};

template <>
struct Record<RollbackAgentMemoryArgs> {
  static constexpr const char* name = "RollbackAgentMemoryArgs";
  static constexpr Field fields[] = {
      field<&RollbackAgentMemoryArgs::agent_pubkey>("agent_pubkey"),
      field<&RollbackAgentMemoryArgs::to_id>("to_id"),
      field<&RollbackAgentMemoryArgs::reason>("reason"),
  };
  static std::string repr(const RollbackAgentMemoryArgs& r);
};

template <>
struct Record<AgentPubkeyOnlyQuery> {
  static constexpr const char* name = "AgentPubkeyOnlyQuery";
  static constexpr Field fields[] = {
      field<&AgentPubkeyOnlyQuery::agent_pubkey_hex>("agent_pubkey_hex"),
      field<&AgentPubkeyOnlyQuery::file_path>("file_path"),
  };
  static std::string repr(const AgentPubkeyOnlyQuery& r);
};

template <>
struct Record<MemoryByIdQuery> {
  static constexpr const char* name = "MemoryByIdQuery";
  static constexpr Field fields[] = {
      field<&MemoryByIdQuery::agent_pubkey_hex>("agent_pubkey_hex"),
      field<&MemoryByIdQuery::id>("id"),
  };
  static std::string repr(const MemoryByIdQuery& r);
};

template <>
struct Record<RawMemoryRow> {
  static constexpr const char* name = "RawMemoryRow";
  static constexpr Field fields[] = {
      field<&RawMemoryRow::id>("id"),
      field<&RawMemoryRow::file_path>("file_path"),
      field<&RawMemoryRow::content_cipher>("content_cipher"),
      field<&RawMemoryRow::nonce>("nonce"),
      field<&RawMemoryRow::score>("score"),
      field<&RawMemoryRow::is_active>("is_active"),
      field<&RawMemoryRow::created_at>("created_at"),
      field<&RawMemoryRow::updated_at>("updated_at"),
  };
  static std::string repr(const RawMemoryRow& r);
};

template <>
struct Record<RawRollbackRow> {
  static constexpr const char* name = "RawRollbackRow";
  static constexpr Field fields[] = {
      field<&RawRollbackRow::from_id>("from_id"),
      field<&RawRollbackRow::to_id>("to_id"),
      field<&RawRollbackRow::file_path>("file_path"),
      field<&RawRollbackRow::reason>("reason"),
      field<&RawRollbackRow::signer>("signer"),
      field<&RawRollbackRow::created_at>("created_at"),
  };
  static std::string repr(const RawRollbackRow& r);
};

}  // namespace vardex::py
