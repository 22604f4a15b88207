"""The module surface: registration, the argument frame, result conventions."""

import inspect

import pytest

import vardex_core as vc

FUNCTIONS = [
    "is_valid_private_key", "derive_public_key", "generate_keypair", "load_agent", "sign_log_tool_call",
    "sign_judge_action", "verify_signature", "normalize_for_matching", "contains_evasion_characters",
    "redact_secrets", "contains_secret", "create_memory_snapshot", "diff_memory_snapshots", "derive_memory_key",
    "encrypt_memory_content", "decrypt_memory_content", "classify_memory_write", "classify_memory_read",
    "build_scan_request", "format_entry_for_scan", "map_verdict", "parse_score_from_reason",
    "default_score_for_verdict", "encrypt_for_org", "decrypt_for_org", "encrypted_length",
    "verify_judge_response_signature", "build_add_agent_memory_args", "build_rollback_agent_memory_args",
    "validate_score", "validate_agent_pubkey_hex", "validate_memory_id", "validate_rollback_reason",
    "validate_memory_nonce", "build_get_active_memory_id_query", "build_get_recent_agent_memory_query",
    "build_get_active_agent_memory_query", "build_get_agent_memory_history_query",
    "build_get_agent_memory_rollback_history_query", "build_get_agent_memory_by_id_query", "validate_file_path",
    "parse_byte_array_field", "parse_memory_row", "parse_memory_rows", "parse_rollback_row",
    "parse_rollback_rows", "parse_active_memory_id", "normalize_action_for_hash", "compute_action_hash",
    "compute_claim_hash", "build_encrypted_toolcall_args", "sign_encrypted_tool_call",
]
CLASSES = [
    "EncryptedMemory", "ScanRequest", "ParsedScore", "JudgeSignatureCheck", "AddAgentMemoryArgs",
    "RollbackAgentMemoryArgs", "AgentPubkeyOnlyQuery", "MemoryByIdQuery", "RawMemoryRow", "RawRollbackRow",
    "ToolCallPlaintext", "EncryptedToolCallArgs", "KeyPair", "AgentAuth", "SecretMatch", "RedactResult",
    "MemoryEntry", "MemorySnapshot", "ModifiedEntry", "MemoryAnomaly", "MemoryDiffResult",
]
CONSTANTS = {
    "DEFAULT_BLOCKCHAIN_RID": str, "DEFAULT_PRIVATE_BLOCKCHAIN_RID": str, "DEFAULT_ENDPOINT": str,
    "DEFAULT_TALVORA_NODE_URLS": list, "DEFAULT_PRIVATE_NODE_URLS": list,
    "DEFAULT_MEMORY_WRITE_TOOL_NAMES": ["write", "edit", "multiedit"],
    "DEFAULT_MEMORY_PATH_PATTERNS": ["/.openclaw/workspace/", "/.openclaw/memory/", "/.claude/projects/",
                                     "/memory/", "memory/", "Memory.md", "DREAMS.md", "CLAUDE.md", "AGENTS.md"],
    "DEFAULT_MEMORY_READ_TOOL_NAMES": ["memory_search", "memory_get"],
    "MEMORY_SCAN_CONTEXT": str, "ECIES_FORMAT_VERSION": 1, "OP_ADD_AGENT_MEMORY": "add_agent_memory",
    "OP_ROLLBACK_AGENT_MEMORY": "rollback_agent_memory", "OP_LOG_TOOL_CALL": "log_tool_call",
    "QUERY_GET_ACTIVE_MEMORY_ID": "get_active_memory_id", "QUERY_GET_RECENT_AGENT_MEMORY": "get_recent_agent_memory",
    "QUERY_GET_ACTIVE_AGENT_MEMORY": "get_active_agent_memory",
    "QUERY_GET_AGENT_MEMORY_HISTORY": "get_agent_memory_history",
    "QUERY_GET_AGENT_MEMORY_BY_ID": "get_agent_memory_by_id",
    "QUERY_GET_AGENT_MEMORY_ROLLBACK_HISTORY": "get_agent_memory_rollback_history",
    "ARG_AGENT_PUBKEY": "agent_pubkey", "ARG_ID": "id", "ARG_FILE_PATH": "file_path", "SCORE_MIN": 1,
    "SCORE_MAX": 10, "AGENT_PUBKEY_HEX_LEN": 66, "MEMORY_NONCE_LEN": 12, "MAX_FILE_PATH_SIZE": 512,
}


def test_all_lists_registered_names_in_order():
    assert vc.__all__ == FUNCTIONS + CLASSES + list(CONSTANTS)
    assert len(vc.__all__) == 100
    assert vc.__doc__ == ""


def test_constants_have_their_types_and_values():
    for name, expected in CONSTANTS.items():
        value = getattr(vc, name)
        if isinstance(expected, type):
            assert type(value) is expected, name
        else:
            assert value == expected and type(value) is type(expected), name
    assert len(vc.DEFAULT_TALVORA_NODE_URLS) == 2 and len(vc.DEFAULT_PRIVATE_NODE_URLS) == 3
    for url in vc.DEFAULT_TALVORA_NODE_URLS + vc.DEFAULT_PRIVATE_NODE_URLS:
        assert url.startswith("https://") and url.endswith(":7740") and url.count("/") == 2
    for rid in (vc.DEFAULT_BLOCKCHAIN_RID, vc.DEFAULT_PRIVATE_BLOCKCHAIN_RID):
        assert len(rid) == 64 and rid == rid.upper() and int(rid, 16) >= 0
    assert vc.DEFAULT_ENDPOINT.startswith("https://") and vc.DEFAULT_ENDPOINT.count("/") == 2
    assert not vc.DEFAULT_ENDPOINT.endswith("/") and ":" not in vc.DEFAULT_ENDPOINT[6:]


def test_scan_context_text():
    text = vc.MEMORY_SCAN_CONTEXT
    assert len(text.encode()) == 4558 and len(text) == 4520 and text.count("\n") == 50
    assert {c for c in text if ord(c) > 127} == {"\u2014", "\u2192"}
    assert text.startswith("You are a security scanner") and text.endswith("drives downstream policy.")


def test_functions_carry_text_signatures_and_no_docstring():
    f = vc.normalize_for_matching
    assert str(inspect.signature(f)) == "(s)"
    assert f.__doc__ is None and f.__module__ == "vardex_core" and f.__self__ is vc


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: vc.normalize_for_matching(), "normalize_for_matching() missing 1 required positional argument: 's'"),
        (lambda: vc.normalize_for_matching(text="x"),
         "normalize_for_matching() got an unexpected keyword argument 'text'"),
        (lambda: vc.normalize_for_matching("x", s="y"),
         "normalize_for_matching() got multiple values for argument 's'"),
        (lambda: vc.normalize_for_matching("x", "y"),
         "normalize_for_matching() takes 1 positional arguments but 2 were given"),
    ],
)
def test_binding_errors_use_the_interpreter_wording(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "value, error, message",
    [
        (b"x", TypeError, "'bytes' object is not an instance of 'str'"),
        (1, TypeError, "'int' object is not an instance of 'str'"),
        (None, TypeError, "'None' is not an instance of 'str'"),
        ("\ud800", UnicodeEncodeError, None),
    ],
)
def test_conversion_errors_name_the_parameter(value, error, message):
    with pytest.raises(error) as info:
        vc.normalize_for_matching(s=value)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 's'"]


def test_str_subclasses_are_accepted():
    class Text(str):
        pass

    assert vc.normalize_for_matching(Text("p\u0430y")) == "pay"


@pytest.mark.parametrize("name", CLASSES)
def test_result_classes_are_read_only_records(name):
    cls = getattr(vc, name)
    assert cls.__module__ == "builtins"
    with pytest.raises(TypeError, match=rf"^cannot create 'builtins\.{name}' instances$"):
        cls()
    doc = "Columns of `log_tool_call` — `tool_name` stays readable for filtering."
    assert cls.__doc__ == (doc if name == "EncryptedToolCallArgs" else None)


def test_result_instances_have_fresh_read_only_attributes():
    result = vc.redact_secrets("key sk-ant-" + "a" * 30)
    with pytest.raises(AttributeError):
        result.redacted = "x"
    assert not hasattr(result, "__dict__")
    assert result.found is not result.found and result.found[0].kind == "anthropic"
    assert hash(result) == hash(result)  # identity hash: only the key classes define equality
    with pytest.raises(TypeError):
        hash(vc.generate_keypair())


def test_signatures_show_defaults():
    assert str(inspect.signature(vc.decrypt_for_org)) == "(payload, org_priv_key_hex, aad, domain='raw')"
    assert str(inspect.signature(vc.generate_keypair)) == "()"
    assert str(inspect.signature(vc.classify_memory_write)) == "(event, ctx, patterns=None, tool_names=None)"
    for name in FUNCTIONS:
        assert getattr(vc, name).__doc__ is None, name


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: vc.generate_keypair(1), TypeError, "generate_keypair() takes 0 positional arguments but 1 was given"),
        (lambda: vc.encrypt_for_org("a", "b", "c", "raw", 5), TypeError,
         "encrypt_for_org() takes from 3 to 4 positional arguments but 5 were given"),
        (lambda: vc.encrypt_for_org("a", "b", "c", None), TypeError, "'None' is not an instance of 'str'"),
        (lambda: vc.sign_judge_action(), TypeError,
         "sign_judge_action() missing 6 required positional arguments: 'judgment_id', 'action', 'context', 'extra', "
         "'privkey', and 'blockchain_rid'"),
        (lambda: vc.verify_signature(b""), TypeError,
         "verify_signature() missing 2 required positional arguments: 'signature_hex' and 'pubkey_hex'"),
        (lambda: vc.format_entry_for_scan({"key": "k", "value": "v"}, 1), TypeError,
         "'int' object is not an instance of 'bool'"),
        (lambda: vc.encrypted_length(-1), OverflowError, None),
        (lambda: vc.map_verdict("ALLOW", "high", 0.5), TypeError, None),
    ],
)
def test_frame_errors_across_kinds(call, error, message):
    with pytest.raises(error) as info:
        call()
    if message is not None:
        assert str(info.value) == message


def test_value_errors_carry_one_argument_and_are_exceptions():
    with pytest.raises(ValueError) as info:
        vc.sign_log_tool_call("id", "a", "c", "t", "{}", "11" * 32, "abcd")
    assert info.value.args == ("invalid blockchain RID: must be 64 hex characters",)
    assert isinstance(info.value, Exception)
