"""Operation signing (sign_log_tool_call, sign_judge_action) checked byte for byte against
the independent rendering with an RFC 6979 signature from `ecdsa`, and signature
verification (verify_signature, verify_judge_response_signature) against signatures made
by coincurve and the Wycheproof vectors."""

import hashlib
import json

import coincurve
import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils
from ecdsa.util import sigdecode_der, sigdecode_string, sigencode_der, sigencode_string

import vardex_core as vc
from chain_oracle import N, body, merkle, public_key, signed_transaction

KEY = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
RID = "7b3a8f0e6c1d4b2a9e5f8c7d6b1a0e3f2c4d5b6a7e8f9c0d1b2a3e4f5c6d7b8a"
ORDER_HEX = f"{N:064x}"


def check_signature(tx_hex: str, name: str, args: list[str], key: str = KEY, rid: str = RID) -> None:
    """The signature verifies over the recomputed body hash, has low S and equals the RFC 6979
    signature; the whole transaction equals the independent rendering."""
    tx = bytes.fromhex(tx_hex)
    signature = tx[-64:]
    r, s = sigdecode_string(signature, N)
    assert s <= N // 2
    digest = merkle(body(name, args, key, rid))
    pub = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256K1(), public_key(key))
    pub.verify(utils.encode_dss_signature(r, s), digest, ec.ECDSA(utils.Prehashed(hashes.SHA256())))
    assert tx == signed_transaction(name, args, key, rid)
    assert tx_hex == tx.hex()


LOG_ARGS = [
    ["call-1", '{"tool":"read"}', "ctx", "read", '{"path":"/tmp/x"}'],
    ["", "", "", "", ""],
    ["t" * 126, "a" * 127, "c" * 128, "n" * 200, "{}" * 40_000],
    [" padded ", "\u00e9\u4e2d\U0001F600", "line\nbreak", "\x00", "not json {"],
]


@pytest.mark.parametrize("args", LOG_ARGS)
def test_sign_log_tool_call(args):
    check_signature(vc.sign_log_tool_call(*args, KEY, RID), "log_tool_call", args)


@pytest.mark.parametrize("args", [a[:4] for a in LOG_ARGS])
def test_sign_judge_action(args):
    check_signature(vc.sign_judge_action(*args, KEY, RID), "judge_action", args)


@pytest.mark.parametrize("key", ["00" * 31 + "01", ORDER_HEX[:-1] + "0", "7f" * 32])
def test_signing_with_edge_keys(key):
    check_signature(vc.sign_judge_action("j", "a", "c", "e", key, RID), "judge_action", ["j", "a", "c", "e"], key)


def test_signing_is_deterministic_and_case_blind():
    args = ["id", "act", "ctx", "tool", "{}"]
    out = vc.sign_log_tool_call(*args, KEY, RID)
    assert vc.sign_log_tool_call(*args, KEY, RID) == out
    assert vc.sign_log_tool_call(*args, KEY.upper(), RID.upper()) == out
    assert out == out.lower()


def test_signed_transactions_use_long_form_outer_lengths():
    tx = bytes.fromhex(vc.sign_judge_action("", "", "", "", KEY, RID))
    assert tx[:2] == b"\xa5\x81" and tx[3:5] == b"\x30\x81"
    assert tx[2] == len(tx) - 3 and tx[5] == len(tx) - 6


INVALID_KEY = "invalid private key: must be 64 hex characters (secp256k1)"
INVALID_RID = "invalid blockchain RID: must be 64 hex characters"
ODD = "hex decode failed: Odd number of digits"
OUT_OF_RANGE = "signing failed: malformed or out-of-range secret key"


@pytest.mark.parametrize("key, rid, message", [
    (KEY[:-1], RID, INVALID_KEY),
    (KEY + "0", RID, INVALID_KEY),
    ("0x" + KEY, RID, INVALID_KEY),
    (" " + KEY[1:], RID, INVALID_KEY),
    (KEY[:-1] + "g", RID, INVALID_KEY),
    ("", RID, INVALID_KEY),
    (KEY[:-2] + "\u00e9", RID, INVALID_KEY),
    (KEY[:-1], "zz", INVALID_KEY),
    (KEY, RID[:-1], ODD),
    (KEY, "abcg" + RID[4:-1], ODD),
    (KEY, "abcg" + RID[4:], "hex decode failed: Invalid character 'g' at position 3"),
    (KEY, RID[:-2] + "'0", "hex decode failed: Invalid character '\\'' at position 62"),
    (KEY, "\u00e9" + RID[2:], "hex decode failed: Invalid character '\u00c3' at position 0"),
    (KEY, RID[:-2], INVALID_RID),
    (KEY, RID + "00", INVALID_RID),
    (KEY, "", INVALID_RID),
    ("0" * 64, RID, OUT_OF_RANGE),
    (ORDER_HEX, RID, OUT_OF_RANGE),
    ("F" * 64, "zz", "hex decode failed: Invalid character 'z' at position 0"),
])
def test_signing_errors_in_check_order(key, rid, message):
    for call in (lambda: vc.sign_log_tool_call("a", "b", "c", "d", "e", key, rid),
                 lambda: vc.sign_judge_action("a", "b", "c", "d", key, rid)):
        with pytest.raises(ValueError) as info:
            call()
        assert info.value.args == (message,)


def test_signing_arguments_must_be_str():
    with pytest.raises(TypeError, match="'bytes' object is not an instance of 'str'"):
        vc.sign_log_tool_call("a", "b", "c", "d", b"e", KEY, RID)
    with pytest.raises(TypeError):
        vc.sign_judge_action("a", "b", "c", None, "0" * 64, "bad")


# Verification ---------------------------------------------------------------------------

PRIV = coincurve.PrivateKey(bytes.fromhex(KEY))
PUB = PRIV.public_key.format().hex()
PUB_FULL = PRIV.public_key.format(compressed=False).hex()
BODY = b'{"verdict":"allow","score":9}'
DER = PRIV.sign(BODY).hex()  # SHA-256 of the body, low S
COMPACT = sigencode_string(*sigdecode_der(bytes.fromhex(DER), N), N).hex()
R, S = sigdecode_der(bytes.fromhex(DER), N)
HIGH_S_COMPACT = sigencode_string(R, N - S, N).hex()
HIGH_S_DER = sigencode_der(R, N - S, N).hex()
HYBRID = ("07" if int(PUB_FULL[-2:], 16) & 1 else "06") + PUB_FULL[2:]


@pytest.mark.parametrize("signature", [
    DER, COMPACT, "0x" + DER, DER.upper(), COMPACT.upper(), "  " + COMPACT + "\n", "\u3000" + DER + "\u2003",
    "0x0x" + COMPACT, "0x0X" + DER, "0X0X" + COMPACT, "0x0x0X0X" + DER,
])
@pytest.mark.parametrize("pubkey", [PUB, PUB_FULL, "0x" + PUB, " 0x0x" + PUB_FULL.upper() + " ", HYBRID])
def test_valid_signatures_verify(signature, pubkey):
    assert vc.verify_signature(BODY, signature, pubkey) is True
    check = vc.verify_judge_response_signature(BODY, signature, pubkey)
    assert (check.ok, check.reason) == (True, None)
    assert repr(check) == "JudgeSignatureCheck(ok=true, reason=None)"


DOES_NOT_VERIFY = "signature does not verify against configured verifyPubKey"


@pytest.mark.parametrize("body, signature, pubkey", [
    (BODY + b" ", DER, PUB),
    (BODY[:-1], COMPACT, PUB),
    (BODY, HIGH_S_COMPACT, PUB),
    (BODY, HIGH_S_DER, PUB),
    (BODY, COMPACT, coincurve.PrivateKey().public_key.format().hex()),
    (BODY, "01" * 64, PUB),  # a 64-byte text is compact even when it is not DER
    (BODY, "00" * 64, PUB),
])
def test_signatures_that_do_not_verify(body, signature, pubkey):
    assert vc.verify_signature(body, signature, pubkey) is False
    check = vc.verify_judge_response_signature(body, signature, pubkey)
    assert (check.ok, check.reason) == (False, DOES_NOT_VERIFY)


NOT_HEX = "signature verification failed: signature is not hex"
LENGTH = "signature verification failed: signature length out of range"
COMPACT_PARSE = "signature verification failed: compact sig: malformed signature"
DER_PARSE = "signature verification failed: der sig: malformed signature"
PUBKEY_PARSE = "signature verification failed: pubkey: malformed public key"
MALFORMED = "malformed signature header"
THREW = "signature verification threw: "


@pytest.mark.parametrize("signature, pubkey, message, reason", [
    ("0X0x" + DER, PUB, NOT_HEX, MALFORMED),
    (DER[:-1] + "g", PUB, NOT_HEX, MALFORMED),
    ("0x 0x" + DER, PUB, NOT_HEX, MALFORMED),
    ("   ", PUB, LENGTH, MALFORMED),
    ("ab" * 31, PUB, LENGTH, MALFORMED),
    ("ab" * 129, PUB, LENGTH, MALFORMED),
    ("a" * 65, PUB, ODD, THREW + ODD),
    ("f" * 128, PUB, COMPACT_PARSE, THREW + COMPACT_PARSE),
    (ORDER_HEX + "01" * 32, PUB, COMPACT_PARSE, THREW + COMPACT_PARSE),
    ("30" + "ab" * 32, PUB, DER_PARSE, THREW + DER_PARSE),
    (DER + "00", PUB, DER_PARSE, THREW + DER_PARSE),
    (COMPACT, PUB[2:], PUBKEY_PARSE, THREW + PUBKEY_PARSE),
    (COMPACT, "05" + PUB_FULL[2:], PUBKEY_PARSE, THREW + PUBKEY_PARSE),
    (COMPACT, "04" + PUB[2:], PUBKEY_PARSE, THREW + PUBKEY_PARSE),
    (COMPACT, ("06" if HYBRID[:2] == "07" else "07") + PUB_FULL[2:], PUBKEY_PARSE, THREW + PUBKEY_PARSE),
    (COMPACT, "", PUBKEY_PARSE, THREW + PUBKEY_PARSE),
    (COMPACT, "zz", "hex decode failed: Invalid character 'z' at position 0",
     THREW + "hex decode failed: Invalid character 'z' at position 0"),
    (COMPACT, " 0x0x" + PUB[:-1] + "Z", "hex decode failed: Invalid character 'Z' at position 65",
     THREW + "hex decode failed: Invalid character 'Z' at position 65"),
    (COMPACT, "0X" + PUB, "hex decode failed: Invalid character 'X' at position 1",
     THREW + "hex decode failed: Invalid character 'X' at position 1"),
    (COMPACT, PUB[:-1], ODD, THREW + ODD),
    ("ab" * 31, "zz", LENGTH, MALFORMED),  # the signature is examined before the key
])
def test_verification_failures(signature, pubkey, message, reason):
    with pytest.raises(ValueError) as info:
        vc.verify_signature(BODY, signature, pubkey)
    assert info.value.args == (message,)
    check = vc.verify_judge_response_signature(BODY, signature, pubkey)
    assert (check.ok, check.reason) == (False, reason)


@pytest.mark.parametrize("signature", [None, ""])
def test_missing_header(signature):
    check = vc.verify_judge_response_signature(BODY, signature, "not even a key")
    assert (check.ok, check.reason) == (False, "missing X-Vardex-Signature header")
    assert repr(check) == 'JudgeSignatureCheck(ok=false, reason=Some("missing X-Vardex-Signature header"))'


def test_verification_argument_types():
    with pytest.raises(TypeError):
        vc.verify_signature(BODY, None, PUB)
    with pytest.raises(TypeError):
        vc.verify_judge_response_signature(bytearray(BODY), DER, PUB)
    with pytest.raises(TypeError):
        vc.verify_judge_response_signature(BODY, DER, None)
    with pytest.raises(TypeError):
        type(vc.verify_judge_response_signature(BODY, None, PUB))()


# Wycheproof ------------------------------------------------------------------------------

def wycheproof_cases(vectors, name: str):
    data = json.loads((vectors / "wycheproof" / name).read_text())
    for group in data["testGroups"]:
        full = bytes.fromhex(group["publicKey"]["uncompressed"])
        compressed = coincurve.PublicKey(full).format().hex()
        for case in group["tests"]:
            yield full.hex(), compressed, case


# Deliberate differences from Wycheproof's verdict: these valid DER signatures (small r and
# s) are shorter than 32 bytes, and a signature header of fewer than 64 hex digits is refused
# as malformed before any parsing.
SHORT_VALID = {
    "ecdsa_secp256k1_sha256_bitcoin_test.json": {346, 351, 352, 353, 354, 355, 356, 365},
    "ecdsa_secp256k1_sha256_test.json": {355, 356, 357, 358, 359, 360, 369},
    "ecdsa_secp256k1_sha256_p1363_test.json": set(),
}


def decode(sig: bytes, compact: bool):
    return sigdecode_string(sig, N) if compact else sigdecode_der(sig, N)


def expected_under_libsecp256k1(sig: bytes, case: dict, compact: bool, short_valid: set) -> bool:
    """libsecp256k1 accepts only low-S signatures; the plain files count high-S as valid."""
    if case["result"] != "valid" or case["tcId"] in short_valid:
        return False
    return decode(sig, compact)[1] <= N // 2


@pytest.mark.parametrize("name, compact, accepted", [
    ("ecdsa_secp256k1_sha256_bitcoin_test.json", False, 162 - 8),
    ("ecdsa_secp256k1_sha256_test.json", False, 168 - 72 - 7),
    ("ecdsa_secp256k1_sha256_p1363_test.json", True, 167 - 72),
])
def test_wycheproof(vectors, name, compact, accepted):
    short_valid = SHORT_VALID[name]
    mismatches, count, short = [], 0, set()
    for full, compressed, case in wycheproof_cases(vectors, name):
        msg, sig = bytes.fromhex(case["msg"]), bytes.fromhex(case["sig"])
        if case["result"] == "valid" and len(sig) < 32:
            short.add(case["tcId"])
        expected = expected_under_libsecp256k1(sig, case, compact, short_valid)
        for key in (full, compressed):
            try:
                got = vc.verify_signature(msg, case["sig"], key)
            except ValueError:
                got = False
            if got != expected:
                mismatches.append((case["tcId"], key[:2], expected, got))
        count += expected
        r, s = decode(sig, compact) if case["result"] == "valid" else (0, 0)
        twin = (sigencode_string if compact else sigencode_der)(r, N - s, N)
        if s > N // 2 and len(twin) >= 32:
            # The low-S twin of a valid high-S signature verifies (unless it is too short).
            assert vc.verify_signature(msg, twin.hex(), compressed) is True, case["tcId"]
    assert mismatches == []
    assert short == short_valid
    assert count == accepted
