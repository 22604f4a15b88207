#include "py_chain_memory.h"

#include <utility>

#include "chain_memory_ops.h"
#include "text.h"

namespace vardex::py {
namespace {

// "<N bytes>": byte fields show only their size.
std::string bytes_size(const Bytes& bytes) {
  std::string out = std::to_string(bytes.size());
  out.insert(out.begin(), '<');
  out += " bytes>";
  return out;
}

}  // namespace

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

Status validate_memory_id(std::int64_t id) {
  if (id >= 1) return {};
  return VardexError::chain_schema("memory id must be a positive integer, got " + std::to_string(id));
}

Status validate_rollback_reason(std::string_view reason) {
  if (!trim(reason).empty()) return {};
  return VardexError::chain_schema("rollback reason is required");
}

Result<AddAgentMemoryArgs> build_add_agent_memory_args(std::string_view agent_pubkey_hex,
                                                       std::span<const std::uint8_t> content_cipher,
                                                       std::span<const std::uint8_t> nonce, std::int64_t score,
                                                       std::string_view file_path) {
  VARDEX_ASSIGN_OR_RETURN(Bytes agent_pubkey, validate_agent_pubkey_hex(agent_pubkey_hex));
  VARDEX_RETURN_IF_ERROR(validate_score(score));
  VARDEX_RETURN_IF_ERROR(validate_memory_nonce(nonce));
  if (content_cipher.empty()) return VardexError::chain_schema("content_cipher must not be empty");
  VARDEX_ASSIGN_OR_RETURN(const std::string_view path, validate_file_path(file_path));
  return AddAgentMemoryArgs{std::move(agent_pubkey), Bytes(content_cipher.begin(), content_cipher.end()),
                            Bytes(nonce.begin(), nonce.end()), score, std::string(path)};
}

Result<RollbackAgentMemoryArgs> build_rollback_agent_memory_args(std::string_view agent_pubkey_hex,
                                                                 std::int64_t to_id, std::string_view reason) {
  VARDEX_ASSIGN_OR_RETURN(Bytes agent_pubkey, validate_agent_pubkey_hex(agent_pubkey_hex));
  VARDEX_RETURN_IF_ERROR(validate_memory_id(to_id));
  VARDEX_RETURN_IF_ERROR(validate_rollback_reason(reason));
  return RollbackAgentMemoryArgs{std::move(agent_pubkey), to_id, std::string(reason)};
}

Result<MemoryByIdQuery> build_get_agent_memory_by_id_query(std::string_view agent_pubkey_hex, std::int64_t id) {
  VARDEX_RETURN_IF_ERROR(validate_memory_id(id));
  VARDEX_ASSIGN_OR_RETURN(std::string key, normalize_and_validate_pubkey_hex(agent_pubkey_hex));
  return MemoryByIdQuery{std::move(key), id};
}

PyObject* pubkey_only_query(const Args& a) { return ret(build_get_active_memory_id_query(a.str(0), a.opt_str(1))); }

std::string Record<AddAgentMemoryArgs>::repr(const AddAgentMemoryArgs& r) {
  return "AddAgentMemoryArgs(agent_pubkey=" + bytes_size(r.agent_pubkey) +
         ", content_cipher=" + bytes_size(r.content_cipher) + ", nonce=" + bytes_size(r.nonce) +
         ", score=" + std::to_string(r.score) + ", file_path=" + debug_quote(r.file_path) + ")";
}

std::string Record<RollbackAgentMemoryArgs>::repr(const RollbackAgentMemoryArgs& r) {
  return "RollbackAgentMemoryArgs(agent_pubkey=" + bytes_size(r.agent_pubkey) + ", to_id=" + std::to_string(r.to_id) +
         ", reason=" + debug_quote(r.reason) + ")";
}

std::string Record<AgentPubkeyOnlyQuery>::repr(const AgentPubkeyOnlyQuery& r) {
  return "AgentPubkeyOnlyQuery(agent_pubkey_hex=" + debug_quote(r.agent_pubkey_hex) +
         ", file_path=" + repr_optional_text(r.file_path) + ")";
}

std::string Record<MemoryByIdQuery>::repr(const MemoryByIdQuery& r) {
  return "MemoryByIdQuery(agent_pubkey_hex=" + debug_quote(r.agent_pubkey_hex) + ", id=" + std::to_string(r.id) + ")";
}

std::string Record<RawMemoryRow>::repr(const RawMemoryRow& r) {
  return "RawMemoryRow(id=" + std::to_string(r.id) + ", file_path=" + debug_quote(r.file_path) +
         ", score=" + std::to_string(r.score) + ", is_active=" + repr_bool(r.is_active) +
         ", created_at=" + std::to_string(r.created_at) + ", updated_at=" + std::to_string(r.updated_at) + ")";
}

std::string Record<RawRollbackRow>::repr(const RawRollbackRow& r) {
  return "RawRollbackRow(from_id=" + std::to_string(r.from_id) + ", to_id=" + std::to_string(r.to_id) +
         ", file_path=" + debug_quote(r.file_path) + ", reason=" + debug_quote(r.reason) +
         ", created_at=" + std::to_string(r.created_at) + ")";
}

}  // namespace vardex::py
