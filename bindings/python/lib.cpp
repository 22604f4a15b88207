// The vardex_core module: the function table, the class table and the constants, in
// registration order, and the execution step that adds them (multi-phase init, one slot).
#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "chain_encrypted_toolcall.h"
#include "chain_memory_ops.h"
#include "classes.h"
#include "errors.h"
#include "frame.h"
#include "memory_scan_context.h"
#include "normalize.h"
#include "py_chain.h"
#include "py_chain_memory.h"
#include "py_crypto.h"
#include "py_identity.h"
#include "py_memory.h"
#include "py_memory_classifier.h"
#include "py_memory_scan.h"
#include "py_redaction.h"

namespace vardex::py {
namespace {

constexpr Param kS{"s", Kind::Str};
constexpr Param kAgentPubkeyHex{"agent_pubkey_hex", Kind::Str};
constexpr Param kOptFilePath{"file_path", Kind::OptStr, "None"};
constexpr Param kId{"id", Kind::Int};
constexpr Param kValue{"value", Kind::Object};

// The exported functions, in registration order.
constexpr Function kFunctions[] = {
    {"is_valid_private_key", {kS}, [](const Args& a) { return to_py(is_valid_private_key(a.str(0))); }},
    {"derive_public_key", {kS}, [](const Args& a) { return ret(derive_public_key(a.str(0))); }},
    {"generate_keypair", {}, [](const Args&) { return to_py(generate_keypair()); }},
    {"load_agent", {{"privkey", Kind::Str}}, [](const Args& a) { return ret(load_agent(a.str(0))); }},
    {"sign_log_tool_call",
     {{"tool_call_id", Kind::Str}, {"action", Kind::Str}, {"context", Kind::Str}, {"tool_name", Kind::Str},
      {"tool_args_json", Kind::Str}, {"privkey", Kind::Str}, {"blockchain_rid", Kind::Str}},
     py_sign_log_tool_call},
    {"sign_judge_action",
     {{"judgment_id", Kind::Str}, {"action", Kind::Str}, {"context", Kind::Str}, {"extra", Kind::Str},
      {"privkey", Kind::Str}, {"blockchain_rid", Kind::Str}},
     py_sign_judge_action},
    {"verify_signature", {{"body", Kind::Bytes}, {"signature_hex", Kind::Str}, {"pubkey_hex", Kind::Str}},
     [](const Args& a) { return ret(verify_signature(a.bytes(0), a.str(1), a.str(2))); }},
    {"normalize_for_matching", {kS}, [](const Args& a) { return to_py(normalize_for_matching(a.str(0))); }},
    {"contains_evasion_characters", {kS},
     [](const Args& a) { return to_py(contains_evasion_characters(a.str(0))); }},
    {"redact_secrets", {kS}, [](const Args& a) { return to_py(redact_secrets(a.str(0))); }},
    {"contains_secret", {kS}, [](const Args& a) { return to_py(contains_secret(a.str(0))); }},
    {"create_memory_snapshot", {{"entries", Kind::Object}, {"taken_at", Kind::UInt}}, &py_create_memory_snapshot},
    {"diff_memory_snapshots", {{"before", Kind::Object}, {"after", Kind::Object}}, &py_diff_memory_snapshots},
    {"derive_memory_key", {{"privkey_hex", Kind::Str}}, py_derive_memory_key},
    {"encrypt_memory_content", {{"plaintext", Kind::Str}, {"key", Kind::Bytes}},
     [](const Args& a) { return ret(encrypt_memory_content(as_bytes(a.str(0)), a.bytes(1))); }},
    {"decrypt_memory_content", {{"ciphertext", Kind::Bytes}, {"nonce", Kind::Bytes}, {"key", Kind::Bytes}},
     [](const Args& a) { return ret(decrypt_memory_content(a.bytes(0), a.bytes(1), a.bytes(2))); }},
    {"classify_memory_write",
     {{"event", Kind::Object}, {"ctx", Kind::Object}, {"patterns", Kind::OptStrList, "None"},
      {"tool_names", Kind::OptStrList, "None"}},
     &py_classify_memory_write},
    {"classify_memory_read",
     {{"event", Kind::Object}, {"ctx", Kind::Object}, {"read_tool_names", Kind::OptStrList, "None"},
      {"patterns", Kind::OptStrList, "None"}, {"generic_read_tool_names", Kind::OptStrList, "None"}},
     &py_classify_memory_read},
    {"build_scan_request", {{"entry", Kind::Object}}, &py_build_scan_request},
    {"format_entry_for_scan", {{"entry", Kind::Object}, {"has_evasion", Kind::Bool}}, &py_format_entry_for_scan},
    {"map_verdict", {{"action_type", Kind::Str}, {"confidence", Kind::Float}, {"threshold", Kind::Float}},
     [](const Args& a) { return to_py(map_verdict(a.str(0), a.float64(1), a.float64(2))); }},
    {"parse_score_from_reason", {{"reason", Kind::Str}},
     [](const Args& a) { return to_py(parse_score_from_reason(a.str(0))); }},
    {"default_score_for_verdict", {{"verdict", Kind::Str}}, &py_default_score_for_verdict},
    {"encrypt_for_org",
     {{"plaintext", Kind::Str}, {"org_pub_key_hex", Kind::Str}, {"aad", Kind::Str}, {"domain", Kind::Str, "\"raw\""}},
     py_encrypt_for_org},
    {"decrypt_for_org",
     {{"payload", Kind::Bytes}, {"org_priv_key_hex", Kind::Str}, {"aad", Kind::Str}, {"domain", Kind::Str, "\"raw\""}},
     py_decrypt_for_org},
    {"encrypted_length", {{"plaintext_byte_length", Kind::UInt}}, py_encrypted_length},
    {"verify_judge_response_signature",
     {{"body", Kind::Bytes}, {"signature_hex", Kind::OptStr}, {"pubkey_hex", Kind::Str}},
     [](const Args& a) { return to_py(verify_judge_response_signature(a.bytes(0), a.opt_str(1), a.str(2))); }},
    {"build_add_agent_memory_args",
     {kAgentPubkeyHex, {"content_cipher", Kind::ByteSeq}, {"nonce", Kind::ByteSeq}, {"score", Kind::Int},
      {"file_path", Kind::Str}},
     [](const Args& a) {
       return ret(build_add_agent_memory_args(a.str(0), a.bytes(1), a.bytes(2), a.int64(3), a.str(4)));
     }},
    {"build_rollback_agent_memory_args", {kAgentPubkeyHex, {"to_id", Kind::Int}, {"reason", Kind::Str}},
     [](const Args& a) { return ret(build_rollback_agent_memory_args(a.str(0), a.int64(1), a.str(2))); }},
    {"validate_score", {{"score", Kind::Int}}, [](const Args& a) { return ret(validate_score(a.int64(0))); }},
    {"validate_agent_pubkey_hex", {{"pubkey_hex", Kind::Str}},
     [](const Args& a) { return ret(validate_agent_pubkey_hex(a.str(0))); }},
    {"validate_memory_id", {kId}, [](const Args& a) { return ret(validate_memory_id(a.int64(0))); }},
    {"validate_rollback_reason", {{"reason", Kind::Str}},
     [](const Args& a) { return ret(validate_rollback_reason(a.str(0))); }},
    {"validate_memory_nonce", {{"nonce", Kind::Bytes}},
     [](const Args& a) { return ret(validate_memory_nonce(a.bytes(0))); }},
    {"build_get_active_memory_id_query", {kAgentPubkeyHex, kOptFilePath}, &pubkey_only_query},
    {"build_get_recent_agent_memory_query", {kAgentPubkeyHex, kOptFilePath}, &pubkey_only_query},
    {"build_get_active_agent_memory_query", {kAgentPubkeyHex, kOptFilePath}, &pubkey_only_query},
    {"build_get_agent_memory_history_query", {kAgentPubkeyHex, kOptFilePath}, &pubkey_only_query},
    {"build_get_agent_memory_rollback_history_query", {kAgentPubkeyHex, kOptFilePath}, &pubkey_only_query},
    {"build_get_agent_memory_by_id_query", {kAgentPubkeyHex, kId},
     [](const Args& a) { return ret(build_get_agent_memory_by_id_query(a.str(0), a.int64(1))); }},
    {"validate_file_path", {{"file_path", Kind::Str}}, [](const Args& a) { return ret(validate_file_path(a.str(0))); }},
    {"parse_byte_array_field", {kValue}, &parse_value<parse_byte_array_field>},
    {"parse_memory_row", {kValue}, &parse_value<parse_memory_row>},
    {"parse_memory_rows", {kValue}, &parse_value<parse_memory_rows>},
    {"parse_rollback_row", {kValue}, &parse_value<parse_rollback_row>},
    {"parse_rollback_rows", {kValue}, &parse_value<parse_rollback_rows>},
    {"parse_active_memory_id", {kValue}, &parse_value<parse_active_memory_id>},
    {"normalize_action_for_hash", {{"action", Kind::Str}},
     [](const Args& a) { return to_py(normalize_action_for_hash(a.str(0))); }},
    {"compute_action_hash", {{"action", Kind::Str}}, py_compute_action_hash},
    {"compute_claim_hash",
     {{"tool_name", Kind::Str}, {"action", Kind::Str}, {"context", Kind::Str}, {"tool_args_json", Kind::Str}},
     [](const Args& a) { return to_py(compute_claim_hash(a.str(0), a.str(1), a.str(2), a.str(3))); }},
    {"build_encrypted_toolcall_args",
     {{"tool_call_id", Kind::Str}, {"action", Kind::Str}, {"context", Kind::Str}, {"tool_name", Kind::Str},
      {"tool_args_json", Kind::Str}, {"org_encryption_pub_key_hex", Kind::Str}},
     [](const Args& a) {
       return ret(build_encrypted_toolcall_args(a.str(0), a.str(1), a.str(2), a.str(3), a.str(4), a.str(5)));
     }},
    {"sign_encrypted_tool_call",
     {{"tool_call_id", Kind::Str}, {"action", Kind::Str}, {"context", Kind::Str}, {"tool_name", Kind::Str},
      {"tool_args_json", Kind::Str}, {"org_encryption_pub_key_hex", Kind::Str}, {"privkey_hex", Kind::Str},
      {"blockchain_rid_hex", Kind::Str}},
     py_sign_encrypted_tool_call},
};

// The result classes, in registration order.
struct ClassEntry {
  const char* name;
  PyObject* (*type)();
};
constexpr ClassEntry kClasses[] = {
    {"EncryptedMemory", &type_object<EncryptedMemory>},
    {"ScanRequest", &type_object<ScanRequest>},
    {"ParsedScore", &type_object<ParsedScore>},
    {"JudgeSignatureCheck", &type_object<JudgeSignatureCheck>},
    {"AddAgentMemoryArgs", &type_object<AddAgentMemoryArgs>},
    {"RollbackAgentMemoryArgs", &type_object<RollbackAgentMemoryArgs>},
    {"AgentPubkeyOnlyQuery", &type_object<AgentPubkeyOnlyQuery>},
    {"MemoryByIdQuery", &type_object<MemoryByIdQuery>},
    {"RawMemoryRow", &type_object<RawMemoryRow>},
    {"RawRollbackRow", &type_object<RawRollbackRow>},
    {"ToolCallPlaintext", &type_object<ToolCallPlaintext>},
    {"EncryptedToolCallArgs", &type_object<EncryptedToolCallArgs>},
    {"KeyPair", &type_object<KeyPair>},
    {"AgentAuth", &type_object<AgentAuth>},
    {"SecretMatch", &type_object<SecretMatch>},
    {"RedactResult", &type_object<RedactResult>},
    {"MemoryEntry", &type_object<MemoryEntry>},
    {"MemorySnapshot", &type_object<MemorySnapshot>},
    {"ModifiedEntry", &type_object<ModifiedEntry>},
    {"MemoryAnomaly", &type_object<MemoryAnomaly>},
    {"MemoryDiffResult", &type_object<MemoryDiffResult>},
};

// The module constants, in registration order.
using ConstantValue = std::variant<const char*, std::int64_t, std::vector<const char*>>;
struct Constant {
  const char* name;
  ConstantValue value;
};
const Constant kConstants[] = {
    {"DEFAULT_BLOCKCHAIN_RID", "7B3A8F0E6C1D4B2A9E5F8C7D6B1A0E3F2C4D5B6A7E8F9C0D1B2A3E4F5C6D7B8A"},
    {"DEFAULT_PRIVATE_BLOCKCHAIN_RID", "A1C3E5F7092B4D6F8E0A2C4E6F8091B3D5F7E9A0C2E4F6081A3C5E7F9B1D3F50"},
    {"DEFAULT_ENDPOINT", "https://api.vardex.ai"},
    {"DEFAULT_TALVORA_NODE_URLS",
     std::vector<const char*>{"https://node0.testnet.talvora.net:7740",
                                        "https://node1.testnet.talvora.net:7740"}},
    {"DEFAULT_PRIVATE_NODE_URLS",
     std::vector<const char*>{"https://node0.private.vardex.ai:7740", "https://node1.private.vardex.ai:7740",
                                        "https://node2.private.vardex.ai:7740"}},
    {"DEFAULT_MEMORY_WRITE_TOOL_NAMES", std::vector<const char*>{"write", "edit", "multiedit"}},
    {"DEFAULT_MEMORY_PATH_PATTERNS",
     std::vector<const char*>{"/.openclaw/workspace/", "/.openclaw/memory/", "/.claude/projects/", "/memory/",
                                        "memory/", "Memory.md", "DREAMS.md", "CLAUDE.md", "AGENTS.md"}},
    {"DEFAULT_MEMORY_READ_TOOL_NAMES", std::vector<const char*>{"memory_search", "memory_get"}},
    {"MEMORY_SCAN_CONTEXT", MEMORY_SCAN_CONTEXT.data()},
    {"ECIES_FORMAT_VERSION", std::int64_t{1}},
    {"OP_ADD_AGENT_MEMORY", "add_agent_memory"},
    {"OP_ROLLBACK_AGENT_MEMORY", "rollback_agent_memory"},
    {"OP_LOG_TOOL_CALL", "log_tool_call"},
    {"QUERY_GET_ACTIVE_MEMORY_ID", "get_active_memory_id"},
    {"QUERY_GET_RECENT_AGENT_MEMORY", "get_recent_agent_memory"},
    {"QUERY_GET_ACTIVE_AGENT_MEMORY", "get_active_agent_memory"},
    {"QUERY_GET_AGENT_MEMORY_HISTORY", "get_agent_memory_history"},
    {"QUERY_GET_AGENT_MEMORY_BY_ID", "get_agent_memory_by_id"},
    {"QUERY_GET_AGENT_MEMORY_ROLLBACK_HISTORY", "get_agent_memory_rollback_history"},
    {"ARG_AGENT_PUBKEY", "agent_pubkey"},
    {"ARG_ID", "id"},
    {"ARG_FILE_PATH", "file_path"},
    {"SCORE_MIN", std::int64_t{1}},
    {"SCORE_MAX", std::int64_t{10}},
    {"AGENT_PUBKEY_HEX_LEN", std::int64_t{66}},
    {"MEMORY_NONCE_LEN", std::int64_t{12}},
    {"MAX_FILE_PATH_SIZE", std::int64_t{512}},
};

constexpr std::size_t kFunctionCount = std::size(kFunctions);

template <std::size_t I>
PyObject* trampoline(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call(kFunctions[I], args, nargs, kwnames);
}

// Method definitions with their stored text signatures; built once, kept for the process.
PyMethodDef* method_defs() {
  static std::array<std::string, kFunctionCount> docs;
  static std::array<PyMethodDef, kFunctionCount> defs = []<std::size_t... I>(std::index_sequence<I...>) {
    ((docs[I] = text_signature(kFunctions[I])), ...);
    return std::array<PyMethodDef, kFunctionCount>{
        PyMethodDef{kFunctions[I].name, reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&trampoline<I>)),
                    METH_FASTCALL | METH_KEYWORDS, docs[I].c_str()}...};
  }(std::make_index_sequence<kFunctionCount>{});
  return defs.data();
}

// Appends `name` to __all__ (creating it when missing), then sets the attribute; steals `value`.
int add(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return -1;
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      Py_DECREF(value);
      return -1;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  const int appended = text == nullptr ? -1 : PyList_Append(all, text);
  Py_XDECREF(text);
  Py_DECREF(all);
  if (appended < 0) {
    Py_DECREF(value);
    return -1;
  }
  const int r = PyModule_AddObjectRef(module, name, value);
  Py_DECREF(value);
  return r;
}

PyObject* constant_value(const ConstantValue& value) {
  if (const auto* text = std::get_if<const char*>(&value)) return PyUnicode_FromString(*text);
  if (const auto* number = std::get_if<std::int64_t>(&value)) return PyLong_FromLongLong(*number);
  const auto& items = std::get<std::vector<const char*>>(value);
  PyObject* list = PyList_New(0);
  for (const char* item : items) {
    PyObject* text = list == nullptr ? nullptr : PyUnicode_FromString(item);
    if (text == nullptr || PyList_Append(list, text) < 0) {
      Py_XDECREF(text);
      Py_XDECREF(list);
      return nullptr;
    }
    Py_DECREF(text);
  }
  return list;
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "vardex_core: expected a module object");
    return -1;
  }
  if (internal_fault_type() == nullptr) return -1;
  PyObject* module_name = PyUnicode_FromString("vardex_core");
  if (module_name == nullptr) return -1;
  PyMethodDef* defs = method_defs();
  for (std::size_t i = 0; i < kFunctionCount; ++i) {
    if (add(module, defs[i].ml_name, PyCFunction_NewEx(&defs[i], module, module_name)) < 0) {
      Py_DECREF(module_name);
      return -1;
    }
  }
  Py_DECREF(module_name);
  for (const ClassEntry& c : kClasses) {
    if (c.name == nullptr) continue;
    PyObject* type = c.type();
    if (type == nullptr) return -1;
    Py_INCREF(type);
    if (add(module, c.name, type) < 0) return -1;
  }
  for (const Constant& c : kConstants) {
    if (add(module, c.name, constant_value(c.value)) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "vardex_core", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vardex::py

PyMODINIT_FUNC PyInit_vardex_core() { return PyModuleDef_Init(&vardex::py::kModule); }
