"""Memory records on the ledger: operation arguments, query arguments and row parsing."""

import inspect

import coincurve
import pytest
from hypothesis import given
from hypothesis import strategies as st

import vardex_core as vc

SCHEMA = "chain schema error: "
BAD_KEY = SCHEMA + "agent pubkey must be 66 hex chars (33-byte compressed secp256k1)"
KEY_BYTES = coincurve.PrivateKey(b"\x01" * 32).public_key.format(compressed=True)
KEY = KEY_BYTES.hex()
NONCE = bytes(range(12))
WS = "\u3000\u2003\t\n "  # Unicode white space, ASCII and beyond


def schema_error(call, *args, **kwargs):
    with pytest.raises(ValueError) as info:
        call(*args, **kwargs)
    assert len(info.value.args) == 1
    return str(info.value)


# ---------------------------------------------------------------- operation arguments


@pytest.mark.parametrize(
    "text",
    [KEY, KEY.upper(), "0x" + KEY, "0X" + KEY.upper(), WS + KEY + WS, " 0x" + KEY + "\n",
     "05" + KEY[2:]],  # the leading byte is not checked
)
def test_agent_key_forms_decode_to_33_bytes(text):
    assert vc.validate_agent_pubkey_hex(text) == bytes.fromhex(text.strip(WS)[-66:])


@pytest.mark.parametrize(
    "text",
    ["", KEY[:-1], KEY + "0", KEY[:-2], "0x0x" + KEY[:64], "0x" + KEY[:64], "0x" + KEY + "00", KEY[:-1] + "g",
     "x" + KEY, KEY[:33] + " " + KEY[33:-1], "\u00e9" * 33, "0x"],
)
def test_malformed_agent_keys_are_refused(text):
    assert schema_error(vc.validate_agent_pubkey_hex, text) == BAD_KEY


@pytest.mark.parametrize(
    "path, expected",
    [
        ("a" * 512, "a" * 512),
        ("\u20ac" * 170 + "ab", "\u20ac" * 170 + "ab"),  # 512 bytes
        (WS + "a" * 512 + WS, "a" * 512),  # surrounding white space does not count
        (WS, ""),
        ("", ""),
        (" notes/MEMORY.md ", "notes/MEMORY.md"),
    ],
)
def test_file_paths_up_to_512_bytes_pass_trimmed(path, expected):
    assert vc.validate_file_path(path) == expected


@pytest.mark.parametrize("path, size", [("a" * 513, 513), ("\u20ac" * 171, 513), (" " + "\U0001f600" * 150, 600)])
def test_file_paths_are_measured_in_utf8_bytes(path, size):
    assert schema_error(vc.validate_file_path, path) == SCHEMA + f"file_path too long ({size} > 512 bytes)"


@pytest.mark.parametrize("score, ok", [(1, True), (10, True), (True, True), (0, False), (11, False), (-1, False),
                                       (-(2**63), False)])
def test_validate_score(score, ok):
    if ok:
        assert vc.validate_score(score) is None
    else:
        assert schema_error(vc.validate_score, score) == SCHEMA + f"score must be an integer in [1, 10], got {int(score)}"


@pytest.mark.parametrize("size", [0, 11, 13, 32])
def test_validate_memory_nonce(size):
    assert vc.validate_memory_nonce(NONCE) is None
    assert schema_error(vc.validate_memory_nonce, bytes(size)) == SCHEMA + f"memory nonce must be 12 bytes, got {size}"


@pytest.mark.parametrize("memory_id", [0, -1, -(2**63)])
def test_validate_memory_id(memory_id):
    assert vc.validate_memory_id(1) is None and vc.validate_memory_id(2**63 - 1) is None
    assert schema_error(vc.validate_memory_id, memory_id) == SCHEMA + f"memory id must be a positive integer, got {memory_id}"


@pytest.mark.parametrize("reason", ["", "   ", WS])
def test_validate_rollback_reason(reason):
    assert vc.validate_rollback_reason(" x ") is None
    assert schema_error(vc.validate_rollback_reason, reason) == SCHEMA + "rollback reason is required"


def test_build_add_agent_memory_args():
    args = vc.build_add_agent_memory_args(" 0x" + KEY, b"\x00cipher", NONCE, 7, "  memory/notes.md\n")
    assert (args.agent_pubkey, args.content_cipher, args.nonce, args.score, args.file_path) == (
        KEY_BYTES, b"\x00cipher", NONCE, 7, "memory/notes.md")
    assert repr(args) == ('AddAgentMemoryArgs(agent_pubkey=<33 bytes>, content_cipher=<7 bytes>, nonce=<12 bytes>, '
                          'score=7, file_path="memory/notes.md")')


@pytest.mark.parametrize(
    "cipher",
    [b"\x01\xff", bytearray(b"\x01\xff"), [1, 255], (1, 255), memoryview(b"\x01\xff")],
)
def test_byte_sequences_are_accepted_for_cipher_and_nonce(cipher):
    args = vc.build_add_agent_memory_args(KEY, cipher, list(NONCE), 1, "")
    assert args.content_cipher == b"\x01\xff" and args.nonce == NONCE


@pytest.mark.parametrize(
    "cipher, error, message",
    [
        ([1, 256], OverflowError, "out of range integral type conversion attempted"),
        ([-1], OverflowError, "out of range integral type conversion attempted"),
        ("0102", TypeError, "Can't extract `str` to `Vec`"),
        ([1, "2"], TypeError, None),
        ([1.0], TypeError, None),
        (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    ],
)
def test_byte_sequence_conversion_errors(cipher, error, message):
    with pytest.raises(error) as info:
        vc.build_add_agent_memory_args("not a key", cipher, NONCE, 0, "")
    assert message is None or str(info.value) == message
    assert info.value.__notes__ == ["while processing 'content_cipher'"]


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: vc.validate_score(2**63), OverflowError),
        (lambda: vc.validate_memory_id(-(2**63) - 1), OverflowError),
        (lambda: vc.build_rollback_agent_memory_args(KEY, 2**64, "r"), OverflowError),
        (lambda: vc.validate_score(5.0), TypeError),
        (lambda: vc.validate_score("5"), TypeError),
        (lambda: vc.validate_memory_nonce(bytearray(12)), TypeError),
    ],
)
def test_integer_and_bytes_argument_errors(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.skipif(not hasattr(vc, "encrypted_length"), reason="needs the organisation encryption functions")
@pytest.mark.parametrize("value", [-1, 2**64])
def test_unsigned_integers_out_of_range(value):
    with pytest.raises(OverflowError):
        vc.encrypted_length(value)


LONG_PATH = "p" * 513
# (key, cipher, nonce, score, path) with several faults: only the first in check order is reported.
ADD_CASES = [
    (("bad", b"", b"", 0, LONG_PATH), BAD_KEY),
    ((KEY, b"", b"", 0, LONG_PATH), SCHEMA + "score must be an integer in [1, 10], got 0"),
    ((KEY, b"", b"\x00" * 11, 5, LONG_PATH), SCHEMA + "memory nonce must be 12 bytes, got 11"),
    ((KEY, b"", NONCE, 5, LONG_PATH), SCHEMA + "content_cipher must not be empty"),
    ((KEY, b"c", NONCE, 5, LONG_PATH), SCHEMA + "file_path too long (513 > 512 bytes)"),
]


@pytest.mark.parametrize("args, message", ADD_CASES)
def test_add_args_report_the_first_failing_check(args, message):
    assert schema_error(vc.build_add_agent_memory_args, *args) == message


def test_build_rollback_agent_memory_args():
    args = vc.build_rollback_agent_memory_args(agent_pubkey_hex=KEY.upper(), to_id=3, reason="  undo\n")
    assert (args.agent_pubkey, args.to_id, args.reason) == (KEY_BYTES, 3, "  undo\n")
    assert repr(args) == 'RollbackAgentMemoryArgs(agent_pubkey=<33 bytes>, to_id=3, reason="  undo\\n")'


@pytest.mark.parametrize(
    "args, message",
    [
        (("0x0x" + KEY[:64], 0, " "), BAD_KEY),
        ((KEY, 0, " "), SCHEMA + "memory id must be a positive integer, got 0"),
        ((KEY, -4, ""), SCHEMA + "memory id must be a positive integer, got -4"),
        ((KEY, 1, WS), SCHEMA + "rollback reason is required"),
    ],
)
def test_rollback_args_report_the_first_failing_check(args, message):
    assert schema_error(vc.build_rollback_agent_memory_args, *args) == message


# ---------------------------------------------------------------- queries

PATH_QUERIES = [
    vc.build_get_active_memory_id_query,
    vc.build_get_recent_agent_memory_query,
    vc.build_get_active_agent_memory_query,
    vc.build_get_agent_memory_history_query,
    vc.build_get_agent_memory_rollback_history_query,
]


@pytest.mark.parametrize("build", PATH_QUERIES)
def test_key_and_path_queries(build):
    query = build(WS + "0X" + KEY.upper() + " ")
    assert (query.agent_pubkey_hex, query.file_path) == (KEY, None)
    assert repr(query) == f'AgentPubkeyOnlyQuery(agent_pubkey_hex="{KEY}", file_path=None)'
    assert build(KEY, file_path=None).file_path is None
    blank = build(KEY, "   ")
    assert blank.file_path == "" and repr(blank).endswith(', file_path=Some(""))')
    assert build(KEY, " memory/a.md\t").file_path == "memory/a.md"
    assert schema_error(build, "zz", "x" * 600) == SCHEMA + "file_path too long (600 > 512 bytes)"
    assert schema_error(build, "zz", "x" * 512) == BAD_KEY


def test_memory_by_id_query():
    query = vc.build_get_agent_memory_by_id_query("0x" + KEY.upper(), id=42)
    assert (query.agent_pubkey_hex, query.id) == (KEY, 42)
    assert repr(query) == f'MemoryByIdQuery(agent_pubkey_hex="{KEY}", id=42)'
    assert schema_error(vc.build_get_agent_memory_by_id_query, "zz", 0) == (
        SCHEMA + "memory id must be a positive integer, got 0")
    assert schema_error(vc.build_get_agent_memory_by_id_query, "zz", 1) == BAD_KEY


def test_query_signatures_show_the_optional_path():
    assert str(inspect.signature(vc.build_get_recent_agent_memory_query)) == "(agent_pubkey_hex, file_path=None)"
    assert str(inspect.signature(vc.build_get_agent_memory_by_id_query)) == "(agent_pubkey_hex, id)"


# ---------------------------------------------------------------- row parsing


def memory_row(**fields):
    row = {"id": 1, "content_cipher": [1, 2, 3, 255], "nonce": NONCE.hex(), "score": 7, "created_at": 1000}
    row.update(fields)
    return {k: v for k, v in row.items() if v is not MISSING}


MISSING = object()


def test_minimal_memory_row():
    row = vc.parse_memory_row(memory_row())
    assert (row.id, row.file_path, row.content_cipher, row.nonce, row.score, row.is_active, row.created_at,
            row.updated_at) == (1, "", b"\x01\x02\x03\xff", NONCE, 7, True, 1000, 1000)
    assert repr(row) == 'RawMemoryRow(id=1, file_path="", score=7, is_active=true, created_at=1000, updated_at=1000)'


@pytest.mark.parametrize(
    "cell",
    ["0X010203FF", " 010203ff ", "\u3000" + "0x010203Ff", [1, 2, 3, 255], (1, 2, 3, 255), {"data": [1, 2, 3, 255]},
     {"data": [1, 2, 3, 255], "type": "Buffer"}],
)
def test_byte_array_shapes(cell):
    assert vc.parse_byte_array_field(cell) == b"\x01\x02\x03\xff"
    assert vc.parse_memory_row(memory_row(content_cipher=cell)).content_cipher == b"\x01\x02\x03\xff"


@given(st.binary(max_size=64))
def test_byte_array_shapes_agree_with_python(data):
    for cell in (data.hex(), "0x" + data.hex().upper(), list(data), {"data": list(data)}):
        assert vc.parse_byte_array_field(cell) == data


@pytest.mark.parametrize(
    "cell, message",
    [
        ("", None),
        ("0x", None),
        ([], None),
        ({"data": []}, None),
        ("abc", "byte_array hex decode: Odd number of digits"),
        ("zz", "byte_array hex decode: Invalid character 'z' at position 0"),
        (" 0x0g ", "byte_array hex decode: Invalid character 'g' at position 1"),
        ("0x0x00", "byte_array hex decode: Invalid character 'x' at position 1"),
        (None, "byte_array field is null"),
        (True, "byte_array field: unsupported shape"),
        (7, "byte_array field: unsupported shape"),
        (7.5, "byte_array field: unsupported shape"),
        ({"data": "00"}, "byte_array object shape: expected {data: [...]} with an array"),
        ({"bytes": [0]}, "byte_array object shape: expected {data: [...]} with an array"),
        ([256], "byte_array element is not a u8"),
        ([-1], "byte_array element is not a u8"),
        ([1.0], "byte_array element is not a u8"),
        ([True], "byte_array element is not a u8"),
        (["1"], "byte_array element is not a u8"),
        ([[1]], "byte_array element is not a u8"),
        ([2**70], "byte_array element is not a u8"),
    ],
)
def test_byte_array_edge_cases(cell, message):
    if message is None:
        assert vc.parse_byte_array_field(cell) == b""
    else:
        assert schema_error(vc.parse_byte_array_field, cell) == SCHEMA + message


@pytest.mark.parametrize(
    "value, expected",
    [(7, 7), (7.0, 7), (-3.0, -3), (2**63 - 1, 2**63 - 1), (-(2**63), -(2**63)), (2.0**53, 2**53),
     (7.5, None), ("7", None), (None, None), (True, None), ([7], None), (2**63, None), (2.0**53 * 2, None),
     (MISSING, None)],
)
def test_integer_fields(value, expected):
    if expected is None:
        assert schema_error(vc.parse_memory_row, memory_row(score=value)) == (
            SCHEMA + "missing or non-integer field `score`")
    else:
        assert vc.parse_memory_row(memory_row(score=value)).score == expected


@pytest.mark.parametrize(
    "value, expected",
    [(MISSING, True), (True, True), (False, False), (0, False), (0.0, False), (-0.0, False), (2, True),
     (0.5, True), (-1, True), (2**100, True), ("false", True), (None, True), ([], True), ({}, True)],
)
def test_is_active(value, expected):
    assert vc.parse_memory_row(memory_row(is_active=value)).is_active is expected


@pytest.mark.parametrize(
    "value, expected",
    [(5, 5), (-5, -5), (MISSING, 1000), (None, 1000), (1.5, 1000), (5.0, 1000), ("5", 1000), (2**63, 1000),
     (False, 1000)],
)
def test_updated_at_falls_back_to_created_at(value, expected):
    assert vc.parse_memory_row(memory_row(updated_at=value)).updated_at == expected


@pytest.mark.parametrize(
    "fields, message",
    [
        ({"id": MISSING, "nonce": MISSING}, "missing or non-integer field `id`"),
        ({"file_path": 5, "content_cipher": MISSING}, "missing field `content_cipher`"),
        ({"nonce": MISSING, "score": "x"}, "missing field `nonce`"),
        ({"nonce": None}, "byte_array field is null"),
        ({"score": 7.5, "created_at": MISSING}, "missing or non-integer field `score`"),
        ({"is_active": "x", "created_at": 1.5}, "missing or non-integer field `created_at`"),
    ],
)
def test_memory_row_reports_the_first_bad_field(fields, message):
    assert schema_error(vc.parse_memory_row, memory_row(**fields)) == SCHEMA + message


def rollback_row(**fields):
    row = {"from_id": 5, "to_id": 2, "file_path": "m.md", "reason": " bad write ", "signer": KEY, "created_at": 9}
    row.update(fields)
    return {k: v for k, v in row.items() if v is not MISSING}


def test_rollback_row():
    row = vc.parse_rollback_row(rollback_row())
    assert (row.from_id, row.to_id, row.file_path, row.reason, row.signer, row.created_at) == (
        5, 2, "m.md", " bad write ", KEY_BYTES, 9)
    assert repr(row) == 'RawRollbackRow(from_id=5, to_id=2, file_path="m.md", reason=" bad write ", created_at=9)'
    assert vc.parse_rollback_row(rollback_row(file_path=MISSING)).file_path == ""
    assert vc.parse_rollback_row(rollback_row(file_path=[1])).file_path == ""


@pytest.mark.parametrize(
    "fields, message",
    [
        ({"from_id": 1.5, "to_id": MISSING}, "missing or non-integer field `from_id`"),
        ({"to_id": "2"}, "missing or non-integer field `to_id`"),
        ({"reason": MISSING}, "missing or non-string field `reason`"),
        ({"reason": 5, "signer": MISSING}, "missing or non-string field `reason`"),
        ({"signer": MISSING}, "missing field `signer`"),
        ({"signer": "0"}, "byte_array hex decode: Odd number of digits"),
        ({"created_at": None}, "missing or non-integer field `created_at`"),
    ],
)
def test_rollback_row_reports_the_first_bad_field(fields, message):
    assert schema_error(vc.parse_rollback_row, rollback_row(**fields)) == SCHEMA + message


@pytest.mark.parametrize(
    "parse_one, parse_many, good, bad, kind",
    [
        (vc.parse_memory_row, vc.parse_memory_rows, memory_row(), memory_row(nonce=MISSING), "memory"),
        (vc.parse_rollback_row, vc.parse_rollback_rows, rollback_row(), rollback_row(reason=None), "rollback"),
    ],
)
def test_row_lists(parse_one, parse_many, good, bad, kind):
    assert parse_many([]) == []
    rows = parse_many((good, dict(good, created_at=11)))
    assert [r.created_at for r in rows] == [parse_one(good).created_at, 11]
    assert schema_error(parse_many, [good, bad, "not a row"]) == schema_error(parse_one, bad)
    assert schema_error(parse_many, [good, "not a row", bad]) == SCHEMA + f"{kind} row: expected object"
    for value in (good, "rows", None, 5):
        assert schema_error(parse_many, value) == SCHEMA + f"{kind} rows: expected array"
    for value in ([good], None, "x"):
        assert schema_error(parse_one, value) == SCHEMA + f"{kind} row: expected object"


@pytest.mark.parametrize("value, expected", [(None, None), (42, 42), (-(2**63), -(2**63))])
def test_active_memory_id(value, expected):
    assert vc.parse_active_memory_id(value=value) == expected


@pytest.mark.parametrize("value", [42.0, "42", True, memory_row(), [42]])
def test_active_memory_id_refuses_other_values(value):
    assert schema_error(vc.parse_active_memory_id, value) == SCHEMA + "active memory id: expected integer or null"


@pytest.mark.parametrize(
    "cls", ["AddAgentMemoryArgs", "RollbackAgentMemoryArgs", "AgentPubkeyOnlyQuery", "MemoryByIdQuery",
            "RawMemoryRow", "RawRollbackRow"],
)
def test_record_classes_cannot_be_created_from_python(cls):
    with pytest.raises(TypeError, match=f"cannot create 'builtins.{cls}' instances"):
        getattr(vc, cls)()


def test_record_attributes_are_read_only_and_texts_are_debug_quoted():
    row = vc.parse_memory_row(memory_row(file_path="a\u200bb\n"))
    with pytest.raises(AttributeError):
        row.score = 1
    assert repr(row).startswith('RawMemoryRow(id=1, file_path="a\\u{200b}b\\n", ')
