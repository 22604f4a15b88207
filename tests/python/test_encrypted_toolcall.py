"""Encrypted tool-call claims: action normalisation, action and claim hashes (checked with
hashlib and json), the encrypted columns (opened with the `cryptography` package) and the
signed "log_tool_call" transaction that carries them."""

import base64
import hashlib
import json

import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

import vardex_core as vc
from chain_oracle import encode, signed_transaction

KEY = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
RID = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
ORG_PRIV = ec.derive_private_key(0x5EC2E7, ec.SECP256K1())
ORG_PUB = ORG_PRIV.public_key().public_bytes(Encoding.X962, PublicFormat.CompressedPoint).hex()
DOMAIN = b"vardex:chain-encryption:v1:toolcall"
# Unicode White_Space, which Python's str.strip() does not match exactly.
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


def open_column(text: str, tool_call_id: str, column: str) -> tuple[str, str, str]:
    """(first label, second label, plaintext) of an envelope text."""
    prefix, first, second, b64 = text.split(".")
    assert prefix == "vdx1"
    envelope = base64.b64decode(b64, validate=True)
    assert envelope[0] == 1
    eph, nonce, sealed = envelope[1:34], envelope[34:46], envelope[46:]
    shared = ORG_PRIV.exchange(ec.ECDH(), ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256K1(), eph))
    key = HKDF(hashes.SHA256(), 32, salt=eph, info=DOMAIN).derive(shared)
    aad = DOMAIN + b"|" + f"{tool_call_id}:{column}".encode()
    return first, second, AESGCM(key).decrypt(nonce, sealed, aad).decode()


def claim_hash(tool_name, action, context, tool_args_json) -> str:
    items = [tool_name.strip(WHITE_SPACE), vc.normalize_action_for_hash(action), context.strip(WHITE_SPACE),
             tool_args_json.strip(WHITE_SPACE)]
    text = json.dumps(items, ensure_ascii=False, separators=(",", ":"))
    return hashlib.sha256(text.encode()).hexdigest()


@pytest.mark.parametrize("action, expected", [
    ("  hello  ", "hello"),
    ("\u3000 [1, 2] \n", "[1, 2]"),
    (' "text" ', '"text"'),
    (" 1.50 ", "1.50"),
    ("{not json", "{not json"),
    ('{"tool_call_id":"t1","tool_name":"read","args":{"b":1,"a":"x"}}', '{"tool_name":"read","args":{"a":"x","b":1}}'),
    ('{"args":{"a":"x","b":1},"session_id":"s9","tool_name":"read","extra":true}',
     '{"tool_name":"read","args":{"a":"x","b":1}}'),
    ('{"args": {"a": 1}}', '{"args": {"a": 1}}'),
    ('{"tool_call_id": "t1"}', '{"tool_call_id": "t1"}'),
    ('{"turn_id":1,"args":[1.50,2e3]}', '{"tool_name":null,"args":[1.50,2e3]}'),
    ('{"api_request_id":null,"args":null,"tool_name":{"z":[],"y":"\\u00e9"}}',
     '{"tool_name":{"y":"\u00e9","z":[]},"args":null}'),
    ('{"task_id":1,"args":"a\\/b\\u0007"}', '{"tool_name":null,"args":"a/b\\u0007"}'),
    ('[{"task_id":1,"args":2}]', '[{"task_id":1,"args":2}]'),
])
def test_normalize_action_for_hash(action, expected):
    assert vc.normalize_action_for_hash(action) == expected
    assert vc.compute_action_hash(action) == hashlib.sha256(expected.encode()).hexdigest()


@pytest.mark.parametrize("identifier", ["session_id", "task_id", "tool_call_id", "turn_id", "api_request_id"])
def test_identifier_values_do_not_change_the_hashes(identifier):
    actions = [json.dumps({identifier: value, "tool_name": "read", "args": {"p": "/x"}}) for value in ("a", 2, None)]
    actions.append('{"args":{"p":"/x"},"tool_name":"read","tool_call_id":"other"}')
    assert len({vc.compute_action_hash(a) for a in actions}) == 1
    assert len({vc.compute_claim_hash("read", a, "", "{}") for a in actions}) == 1


def test_claim_hash():
    assert vc.compute_claim_hash("read", "x", "", "{}") == hashlib.sha256(b'["read","x","","{}"]').hexdigest()
    assert vc.compute_claim_hash("\u2003read\n", "x", " ", " {} ") == vc.compute_claim_hash("read", "x", "", "{}")
    for args in [("t\x1f", ' {"a" : 1} ', "ctx\u00a0", "\"quoted\"\\"), ("", "", "", ""), ("\x85a", "\u00e9", "\x7f", "\n")]:
        assert vc.compute_claim_hash(*args) == claim_hash(*args)


def test_encrypted_columns_open_with_the_organisation_key():
    action = '{"tool_call_id":"t1","args":{"path":"/etc/hosts"}}'
    out = vc.build_encrypted_toolcall_args("call-7", action, "because", " read ", '{"path":"/etc/hosts"}', ORG_PUB)
    assert (out.tool_call_id, out.tool_name) == ("call-7", " read ")
    fingerprint = ORG_PUB[:16]
    assert open_column(out.action_text, "call-7", "action") == (
        fingerprint, claim_hash(" read ", action, "because", '{"path":"/etc/hosts"}'), action)
    assert open_column(out.action_context, "call-7", "context") == (fingerprint, "", "because")
    assert open_column(out.tool_args_json, "call-7", "tool_args") == (fingerprint, "", '{"path":"/etc/hosts"}')
    assert out.action_context.startswith(f"vdx1.{fingerprint}..")
    assert repr(out) == (f'EncryptedToolCallArgs(tool_call_id="call-7", tool_name=" read ", action_text=<'
                         f"{len(out.action_text)} chars>, action_context=<{len(out.action_context)} chars>, "
                         f"tool_args_json=<{len(out.tool_args_json)} chars>)")


def test_empty_columns():
    out = vc.build_encrypted_toolcall_args(" ", "", "", "", "", ORG_PUB)
    assert (out.action_context, out.tool_args_json) == ("", "")
    assert open_column(out.action_text, " ", "action") == (ORG_PUB[:16], claim_hash("", "", "", ""), "")


@pytest.mark.parametrize("key_text", [ORG_PUB.upper(), "0x" + ORG_PUB, "  0X" + ORG_PUB.upper() + "\t"])
def test_key_spellings_give_the_same_fingerprint(key_text):
    out = vc.build_encrypted_toolcall_args("id", "a", "c", "t", "{}", key_text)
    for text, column in [(out.action_text, "action"), (out.action_context, "context"), (out.tool_args_json, "tool_args")]:
        assert open_column(text, "id", column)[0] == ORG_PUB[:16]


def test_encryption_is_randomised_but_the_claim_is_stable():
    one = vc.build_encrypted_toolcall_args("id", "a", "c", "t", "{}", ORG_PUB)
    two = vc.build_encrypted_toolcall_args("id", "a", "c", "t", "{}", ORG_PUB)
    assert one.action_text != two.action_text and one.action_context != two.action_context
    assert one.action_text.split(".")[2] == two.action_text.split(".")[2]


@pytest.mark.parametrize("tool_call_id, org_key, message", [
    ("", ORG_PUB, "chain schema error: tool_call_id must not be empty"),
    ("", "bad", "chain schema error: tool_call_id must not be empty"),
    ("id", "0x0x" + ORG_PUB, "ecies error: org public key hex decode: Invalid character 'x' at position 1"),
    ("id", "04" + "11" * 64, "ecies error: invalid org public key: expected 33 bytes (compressed secp256k1), got 65"),
    ("id", "05" + ORG_PUB[2:], "ecies error: org public key: malformed public key"),
])
def test_column_errors(tool_call_id, org_key, message):
    with pytest.raises(ValueError) as info:
        vc.build_encrypted_toolcall_args(tool_call_id, "a", "c", "t", "{}", org_key)
    assert info.value.args == (message,)


def read_element(buf: bytes, pos: int) -> tuple[int, bytes, int]:
    tag, length = buf[pos], buf[pos + 1]
    pos += 2
    if length & 0x80:
        n = length & 0x7F
        length, pos = int.from_bytes(buf[pos:pos + n], "big"), pos + n
    return tag, buf[pos:pos + length], pos + length


def decode(buf: bytes):
    """The chain value encoded in `buf` (strings, byte arrays and arrays only)."""
    tag, inner, end = read_element(buf, 0)
    inner_tag, content, inner_end = read_element(inner, 0)
    assert end == len(buf) and inner_end == len(inner)
    if tag == 0xA1:
        return content
    if tag == 0xA2:
        return content.decode()
    assert (tag, inner_tag) == (0xA5, 0x30)
    items, pos = [], 0
    while pos < len(content):
        end = read_element(content, pos)[2]
        items.append(decode(content[pos:end]))
        pos = end
    return items


def test_signed_encrypted_tool_call():
    action = '{"session_id":"s","args":{"q":1}}'
    tx_hex = vc.sign_encrypted_tool_call("call-9", action, "ctx", "search", '{"q":1}', ORG_PUB, KEY, RID)
    tx = bytes.fromhex(tx_hex)
    (rid, [[name, args]], signers), signatures = decode(tx)
    assert (rid.hex(), name, len(signers), len(signatures)) == (RID, "log_tool_call", 1, 1)
    tool_call_id, action_text, action_context, tool_name, tool_args_json = args
    assert (tool_call_id, tool_name) == ("call-9", "search")
    assert open_column(action_text, "call-9", "action")[1:] == (claim_hash("search", action, "ctx", '{"q":1}'), action)
    assert open_column(action_context, "call-9", "context")[2] == "ctx"
    assert open_column(tool_args_json, "call-9", "tool_args")[2] == '{"q":1}'
    assert tx == signed_transaction("log_tool_call", args, KEY, RID)
    assert encode(decode(tx)) == tx
    assert vc.sign_encrypted_tool_call("call-9", action, "ctx", "search", '{"q":1}', ORG_PUB, KEY, RID) != tx_hex


@pytest.mark.parametrize("tool_call_id, org_key, privkey, rid, message", [
    ("", ORG_PUB, KEY[:-1], RID, "invalid private key: must be 64 hex characters (secp256k1)"),
    ("", "bad", KEY, RID[:-1], "hex decode failed: Odd number of digits"),
    ("", ORG_PUB, KEY, RID[:-2], "invalid blockchain RID: must be 64 hex characters"),
    ("", ORG_PUB, "0" * 64, RID, "chain schema error: tool_call_id must not be empty"),
    ("id", "", "0" * 64, RID, "ecies error: invalid org public key: expected 33 bytes (compressed secp256k1), got 0"),
    ("id", ORG_PUB, "0" * 64, RID, "signing failed: malformed or out-of-range secret key"),
])
def test_signing_errors_in_check_order(tool_call_id, org_key, privkey, rid, message):
    with pytest.raises(ValueError) as info:
        vc.sign_encrypted_tool_call(tool_call_id, "a", "c", "t", "{}", org_key, privkey, rid)
    assert info.value.args == (message,)


def test_classes():
    assert vc.EncryptedToolCallArgs.__doc__ == "Columns of `log_tool_call` \u2014 `tool_name` stays readable for filtering."
    assert vc.ToolCallPlaintext.__doc__ is None
    for cls in (vc.EncryptedToolCallArgs, vc.ToolCallPlaintext):
        with pytest.raises(TypeError, match=f"cannot create 'builtins.{cls.__name__}' instances"):
            cls()
    assert {"tool_name", "action", "context", "tool_args_json"} <= set(dir(vc.ToolCallPlaintext))
    with pytest.raises(TypeError):
        vc.compute_claim_hash("a", "b", "c", None)
