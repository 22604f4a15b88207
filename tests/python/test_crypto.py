"""Organisation encryption and memory content encryption, checked against the
`cryptography` package (ECDH on secp256k1, HKDF-SHA-256, AES-GCM) and Wycheproof vectors."""

import json
import os
import secrets

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

import vardex_core as vc

N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
DOMAINS = ["toolcall", "verdict", "note", "policy", "raw"]
AEAD_ECIES = "ecies error: aes-gcm decrypt: aead::Error"
AEAD_MEMORY = "memory-crypto error: aes-gcm decrypt: aead::Error"
# Texts that stop being valid UTF-8 in each way the decoder distinguishes.
INVALID_UTF8 = [b"\xff", b"ab\x80", b"ok\xc3", b"\xc0\xaf", b"\xe0\x80\x80", b"\xed\xa0\x80", b"\xe2\x82(",
                b"x\xe2\x82", b"\xf0\x9f\x98", b"\xf0\x9f(\x80", b"\xf0\x9f\x98(", b"\xf4\x90\x80\x80", b"\xf5"]


def tag(domain: str) -> bytes:
    return b"vardex:chain-encryption:v1:" + domain.encode()


def org_keys() -> tuple[ec.EllipticCurvePrivateKey, str, str]:
    key = ec.generate_private_key(ec.SECP256K1())
    priv_hex = f"{key.private_numbers().private_value:064x}"
    pub_hex = key.public_key().public_bytes(serialization.Encoding.X962,
                                            serialization.PublicFormat.CompressedPoint).hex()
    return key, priv_hex, pub_hex


def hkdf(ikm: bytes, salt: bytes | None, info: bytes) -> bytes:
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=salt, info=info).derive(ikm)


def oracle_open(envelope: bytes, org: ec.EllipticCurvePrivateKey, aad: str, domain: str) -> bytes:
    assert envelope[0] == 1
    ephemeral = envelope[1:34]
    point = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256K1(), ephemeral)
    key = hkdf(org.exchange(ec.ECDH(), point), ephemeral, tag(domain))
    return AESGCM(key).decrypt(envelope[34:46], envelope[46:], tag(domain) + b"|" + aad.encode())


def oracle_seal(plaintext: bytes, shared_x: bytes, ephemeral: bytes, aad: str, domain: str) -> bytes:
    nonce = os.urandom(12)
    key = hkdf(shared_x, ephemeral, tag(domain))
    return b"\x01" + ephemeral + nonce + AESGCM(key).encrypt(nonce, plaintext, tag(domain) + b"|" + aad.encode())


def oracle_seal_for(plaintext: bytes, org_pub_hex: str, aad: str, domain: str) -> bytes:
    eph = ec.generate_private_key(ec.SECP256K1())
    org_point = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256K1(), bytes.fromhex(org_pub_hex))
    ephemeral = eph.public_key().public_bytes(serialization.Encoding.X962,
                                              serialization.PublicFormat.CompressedPoint)
    return oracle_seal(plaintext, eph.exchange(ec.ECDH(), org_point), ephemeral, aad, domain)


def utf8_error_text(data: bytes) -> str:
    """The error text the module gives, computed from Python's own decoder."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        if e.reason == "unexpected end of data":
            return f"decrypted bytes not utf-8: incomplete utf-8 byte sequence from index {e.start}"
        return f"decrypted bytes not utf-8: invalid utf-8 sequence of {e.end - e.start} bytes from index {e.start}"
    raise AssertionError("valid UTF-8")


def raises(message: str, fn, *args):
    with pytest.raises(ValueError) as info:
        fn(*args)
    assert info.value.args == (message,)


@pytest.fixture(scope="module")
def org():
    return org_keys()


# ---------------------------------------------------------------- organisation envelope


@pytest.mark.parametrize("domain", DOMAINS)
@pytest.mark.parametrize("text, aad", [("", ""), ("tool call args {\"a\": 1}", "t1:action"),
                                       ("h\u00e9llo \u2713 \U0001F600", "\u00e9t\u00e9|x")])
def test_envelope_opens_with_the_oracle_and_the_oracle_envelope_opens(org, domain, text, aad):
    key, priv_hex, pub_hex = org
    envelope = vc.encrypt_for_org(text, pub_hex, aad, domain)
    assert len(envelope) == vc.encrypted_length(len(text.encode())) == len(text.encode()) + 62
    assert envelope[1] in (2, 3)
    assert oracle_open(envelope, key, aad, domain) == text.encode()
    assert vc.decrypt_for_org(envelope, priv_hex, aad, domain) == text
    assert vc.decrypt_for_org(oracle_seal_for(text.encode(), pub_hex, aad, domain), priv_hex, aad, domain) == text


def test_domain_defaults_to_raw_and_none_is_a_type_error(org):
    key, priv_hex, pub_hex = org
    envelope = vc.encrypt_for_org("x", pub_hex, "a")
    assert oracle_open(envelope, key, "a", "raw") == b"x"
    assert vc.decrypt_for_org(payload=envelope, org_priv_key_hex=priv_hex, aad="a") == "x"
    for call in (lambda: vc.encrypt_for_org("x", pub_hex, "a", None),
                 lambda: vc.decrypt_for_org(envelope, priv_hex, "a", None)):
        with pytest.raises(TypeError):
            call()


def test_encryptions_are_fresh(org):
    _, priv_hex, pub_hex = org
    a, b = (vc.encrypt_for_org("same", pub_hex, "aad", "note") for _ in range(2))
    assert a[1:34] != b[1:34] and a[34:46] != b[34:46] and a[46:] != b[46:]
    assert vc.decrypt_for_org(a, priv_hex, "aad", "note") == vc.decrypt_for_org(b, priv_hex, "aad", "note") == "same"


def test_a_large_plaintext_round_trips(org):
    key, priv_hex, pub_hex = org
    text = "x\u00e9" * 300_000
    envelope = vc.encrypt_for_org(text, pub_hex, "", "policy")
    assert oracle_open(envelope, key, "", "policy") == text.encode()
    assert vc.decrypt_for_org(envelope, priv_hex, "", "policy") == text


def flip(data: bytes, index: int) -> bytes:
    return data[:index] + bytes([data[index] ^ 0x01]) + data[index + 1:]


@pytest.mark.parametrize(
    "change",
    [
        lambda env, priv: (env, priv, "ctx", "verdict"),  # another domain
        lambda env, priv: (env, priv, "ctx ", "note"),  # another aad
        lambda env, priv: (env, org_keys()[1], "ctx", "note"),  # another private key
        lambda env, priv: (flip(env, 34), priv, "ctx", "note"),  # nonce
        lambda env, priv: (flip(env, 45), priv, "ctx", "note"),
        lambda env, priv: (flip(env, 46), priv, "ctx", "note"),  # ciphertext
        lambda env, priv: (flip(env, len(env) - 17), priv, "ctx", "note"),
        lambda env, priv: (flip(env, len(env) - 1), priv, "ctx", "note"),  # tag
        lambda env, priv: (env[:-1], priv, "ctx", "note"),  # truncated tag
        lambda env, priv: (env + b"\0", priv, "ctx", "note"),
    ],
)
def test_any_change_fails_authentication(org, change):
    _, priv_hex, pub_hex = org
    envelope = vc.encrypt_for_org("secret note", pub_hex, "ctx", "note")
    raises(AEAD_ECIES, vc.decrypt_for_org, *change(envelope, priv_hex))


def test_a_changed_ephemeral_key_fails_parsing_or_authentication(org):
    _, priv_hex, pub_hex = org
    envelope = vc.encrypt_for_org("m", pub_hex, "", "raw")
    outcomes = set()
    for index in range(1, 34):
        with pytest.raises(ValueError) as info:
            vc.decrypt_for_org(flip(envelope, index), priv_hex, "", "raw")
        outcomes.add(str(info.value))
    assert outcomes <= {AEAD_ECIES, "ecies error: ephemeral pubkey: malformed public key"}
    assert AEAD_ECIES in outcomes


@pytest.mark.parametrize(
    "payload, priv, message",
    [
        (bytes(61), "zz", "malformed encrypted payload: too short"),  # length before version and key
        (b"\x02" + bytes(61), "zz", "unsupported encrypted payload version: 2 (expected 1)"),
        (b"\x00" + bytes(100), "zz", "unsupported encrypted payload version: 0 (expected 1)"),
        (b"\xff" + bytes(61), "zz", "unsupported encrypted payload version: 255 (expected 1)"),
        (b"\x01\x05" + bytes(60), "zz", "ephemeral pubkey: malformed public key"),  # before the key
        (b"\x01\x04" + bytes(60), "", "ephemeral pubkey: malformed public key"),
        (None, "zz", "privkey hex decode: Invalid character 'z' at position 0"),
        (None, "abc", "privkey hex decode: Odd number of digits"),
        (None, "0x0x" + "11" * 32, "privkey hex decode: Invalid character 'x' at position 1"),
        (None, "11" * 31 + "G1", "privkey hex decode: Invalid character 'g' at position 62"),
        (None, "11" * 31, "invalid privkey: expected 32 bytes, got 31"),
        (None, "11" * 33, "invalid privkey: expected 32 bytes, got 33"),
        (None, "", "invalid privkey: expected 32 bytes, got 0"),
        (None, "00" * 32, "privkey: malformed or out-of-range secret key"),
        (None, f"{N:064x}", "privkey: malformed or out-of-range secret key"),
    ],
)
def test_decrypt_errors_in_check_order(org, payload, priv, message):
    if payload is None:
        payload = vc.encrypt_for_org("x", org[2], "", "raw")
    raises("ecies error: " + message, vc.decrypt_for_org, payload, priv, "", "raw")


def test_private_key_text_is_normalised_for_decryption(org):
    _, priv_hex, pub_hex = org
    envelope = vc.encrypt_for_org("x", pub_hex, "", "raw")
    for text in (priv_hex.upper(), " 0X" + priv_hex.upper() + "\n", "\u20030x" + priv_hex):
        assert vc.decrypt_for_org(envelope, text, "", "raw") == "x"


def test_org_public_key_forms(org):
    key, _, pub_hex = org
    uncompressed = key.public_key().public_bytes(serialization.Encoding.X962,
                                                 serialization.PublicFormat.UncompressedPoint).hex()
    for text in ("  0X" + pub_hex.upper() + " ", "0x" + pub_hex, "\t" + pub_hex + "\u2028"):
        assert oracle_open(vc.encrypt_for_org("x", text, "", "raw"), key, "", "raw") == b"x"
    not_on_curve = "02" + "00" * 31 + "05"  # x = 5 has no point on the curve
    for text, message in [
        ("0x0x" + pub_hex, "org public key hex decode: Invalid character 'x' at position 1"),
        (pub_hex[:-1], "org public key hex decode: Odd number of digits"),
        ("zz" + pub_hex[2:], "org public key hex decode: Invalid character 'z' at position 0"),
        (uncompressed, "invalid org public key: expected 33 bytes (compressed secp256k1), got 65"),
        ("", "invalid org public key: expected 33 bytes (compressed secp256k1), got 0"),
        ("04" + pub_hex[2:], "org public key: malformed public key"),
        (not_on_curve, "org public key: malformed public key"),
    ]:
        raises("ecies error: " + message, vc.encrypt_for_org, "x", text, "", "raw")


@pytest.mark.parametrize(
    "domain, shown",
    [("Raw", '"Raw"'), ("", '""'), (" raw", '" raw"'), ('a"b\\c\n\t', '"a\\"b\\\\c\\n\\t"'), ("\u00e9", '"\u00e9"')],
)
def test_unknown_domain_is_refused_before_the_keys(domain, shown):
    message = f"unknown ECIES domain: {shown} (expected 'toolcall' | 'verdict' | 'note' | 'policy' | 'raw')"
    raises(message, vc.encrypt_for_org, "x", "not a key", "", domain)
    raises(message, vc.decrypt_for_org, b"", "not a key", "", domain)
    # Every argument is converted before the domain is looked at.
    with pytest.raises(TypeError):
        vc.encrypt_for_org(None, "not a key", "", domain)
    with pytest.raises(TypeError):
        vc.decrypt_for_org("", "not a key", "", domain)


@pytest.mark.parametrize("plaintext", INVALID_UTF8)
def test_decrypted_bytes_that_are_not_utf8(org, plaintext):
    _, priv_hex, pub_hex = org
    envelope = oracle_seal_for(plaintext, pub_hex, "a", "toolcall")
    raises("ecies error: " + utf8_error_text(plaintext), vc.decrypt_for_org, envelope, priv_hex, "a", "toolcall")


def test_encrypted_length():
    assert vc.encrypted_length(0) == 62 and vc.encrypted_length(1000) == 1062
    assert vc.encrypted_length(2**64 - 63) == 2**64 - 1
    for bad in (-1, 2**64):
        with pytest.raises(OverflowError):
            vc.encrypted_length(bad)
    with pytest.raises(TypeError):
        vc.encrypted_length(1.0)


def spki_point(der_hex: str) -> bytes:
    key = serialization.load_der_public_key(bytes.fromhex(der_hex))
    return key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.CompressedPoint)


def test_wycheproof_ecdh_shared_secrets_open_envelopes(vectors):
    """Each valid exchange becomes an envelope whose ephemeral key is the vector's public
    point and whose AES key comes from the vector's shared secret; the private key opens it."""
    data = json.loads((vectors / "wycheproof" / "ecdh_secp256k1_test.json").read_text())
    tests = [t for g in data["testGroups"] for t in g["tests"] if t["result"] == "valid"]
    assert len(tests) == 473
    for t in tests:
        private = int(t["private"], 16)
        assert 0 < private < N
        ephemeral = spki_point(t["public"])
        envelope = oracle_seal(b"wycheproof", bytes.fromhex(t["shared"]), ephemeral, "", "raw")
        assert vc.decrypt_for_org(envelope, f"{private:064x}", "", "raw") == "wycheproof", t["tcId"]
    # A compressed point whose x has no curve point is refused as an ephemeral key.
    bad = [t for g in data["testGroups"] for t in g["tests"] if "InvalidCompressedPublic" in t["flags"]]
    assert bad
    for t in bad:
        envelope = b"\x01" + bytes.fromhex(t["public"])[-33:] + bytes(28)
        raises("ecies error: ephemeral pubkey: malformed public key", vc.decrypt_for_org, envelope,
               f"{int(t['private'], 16):064x}", "", "raw")


# ---------------------------------------------------------------- memory encryption

PRIV = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
KEY_TEXT_ERROR = "memory-crypto error: deriveMemoryKey: privkey must be 32 bytes (64 hex chars)"


def memory_oracle(priv_hex: str) -> bytes:
    return hkdf(bytes.fromhex(priv_hex), None, b"vardex:memory-encryption")


def test_derive_memory_key_matches_hkdf_without_salt():
    keys = [secrets.token_hex(32) for _ in range(100)] + ["00" * 32, "ff" * 32, f"{N:064x}"]
    for priv in keys:
        assert vc.derive_memory_key(priv) == memory_oracle(priv)
    key = vc.derive_memory_key(PRIV)
    assert len(key) == 32 and key != bytes.fromhex(PRIV)
    # Not any key of the organisation envelope: another info and no salt.
    assert key not in {hkdf(bytes.fromhex(PRIV), None, tag(d)) for d in DOMAINS}


@pytest.mark.parametrize(
    "text",
    [PRIV.upper(), "0x" + PRIV, "0X" + PRIV, " \t" + PRIV + "\n", "\u3000 0x0x0X0X" + PRIV.upper() + " "],
)
def test_derive_memory_key_accepts_key_spellings(text):
    assert vc.derive_memory_key(text) == memory_oracle(PRIV)


@pytest.mark.parametrize(
    "text",
    [PRIV[:63], PRIV + "0", "", "0x", "0X0x" + PRIV, "0x " + PRIV, PRIV[:62] + "zz", "x" + PRIV[1:]],
)
def test_derive_memory_key_errors(text):
    raises(KEY_TEXT_ERROR, vc.derive_memory_key, text)


@pytest.mark.parametrize("text", ["", "hello", "h\u00e9llo \u2713 \U0001F600", "x" * 100_000])
def test_memory_encryption_agrees_with_aesgcm(text):
    key = vc.derive_memory_key(PRIV)
    sealed = vc.encrypt_memory_content(text, key)
    assert len(sealed.nonce) == vc.MEMORY_NONCE_LEN == 12
    assert len(sealed.ciphertext) == len(text.encode()) + 16
    assert AESGCM(key).decrypt(sealed.nonce, sealed.ciphertext, None) == text.encode()
    assert vc.decrypt_memory_content(sealed.ciphertext, sealed.nonce, key) == text
    nonce = os.urandom(12)
    assert vc.decrypt_memory_content(AESGCM(key).encrypt(nonce, text.encode(), None), nonce, key) == text


def test_memory_encryptions_are_fresh_and_the_repr_shows_sizes():
    key = os.urandom(32)
    a, b = (vc.encrypt_memory_content("hello", key) for _ in range(2))
    assert a.nonce != b.nonce and a.ciphertext != b.ciphertext
    assert repr(a) == "EncryptedMemory(ciphertext=<21 bytes>, nonce=<12 bytes>)"
    assert a.ciphertext is not a.ciphertext and a.ciphertext == a.ciphertext  # a fresh bytes object per read
    with pytest.raises(AttributeError):
        a.nonce = b""


@pytest.mark.parametrize(
    "ciphertext, nonce, key, message",
    [
        (b"", b"", bytes(31), "decryptMemoryContent: key must be 32 bytes"),  # key first
        (bytes(32), bytes(12), bytes(33), "decryptMemoryContent: key must be 32 bytes"),
        (b"", bytes(11), bytes(32), "decryptMemoryContent: nonce must be 12 bytes"),  # then nonce
        (bytes(32), bytes(13), bytes(32), "decryptMemoryContent: nonce must be 12 bytes"),
        (bytes(15), bytes(12), bytes(32), "decryptMemoryContent: ciphertext too short to contain auth tag"),
        (b"", bytes(12), bytes(32), "decryptMemoryContent: ciphertext too short to contain auth tag"),
        (os.urandom(16), bytes(12), bytes(32), "aes-gcm decrypt: aead::Error"),
    ],
)
def test_memory_decrypt_errors_in_check_order(ciphertext, nonce, key, message):
    raises("memory-crypto error: " + message, vc.decrypt_memory_content, ciphertext, nonce, key)


def test_memory_tampering_and_key_errors():
    key = os.urandom(32)
    sealed = vc.encrypt_memory_content("memory entry", key)
    ct, nonce = sealed.ciphertext, sealed.nonce
    for args in [(flip(ct, 0), nonce, key), (flip(ct, len(ct) - 1), nonce, key), (ct, flip(nonce, 11), key),
                 (ct, nonce, os.urandom(32)), (ct[:-1], nonce, key)]:
        raises(AEAD_MEMORY, vc.decrypt_memory_content, *args)
    for bad in (bytes(31), b"", bytes(64)):
        raises("memory-crypto error: encryptMemoryContent: key must be 32 bytes", vc.encrypt_memory_content, "x",
               bad)
    for call in (lambda: vc.encrypt_memory_content("x", bytearray(32)),
                 lambda: vc.decrypt_memory_content(list(ct), nonce, key),
                 lambda: vc.decrypt_memory_content(ct, memoryview(nonce), key)):
        with pytest.raises(TypeError):
            call()


@pytest.mark.parametrize("plaintext", INVALID_UTF8)
def test_memory_plaintext_that_is_not_utf8(plaintext):
    key, nonce = os.urandom(32), os.urandom(12)
    raises("memory-crypto error: " + utf8_error_text(plaintext), vc.decrypt_memory_content,
           AESGCM(key).encrypt(nonce, plaintext, None), nonce, key)


def test_wycheproof_aes_gcm_through_memory_decryption(vectors):
    data = json.loads((vectors / "wycheproof" / "aes_gcm_test.json").read_text())
    tests = [t for g in data["testGroups"] if (g["keySize"], g["ivSize"], g["tagSize"]) == (256, 96, 128)
             for t in g["tests"] if t["aad"] == ""]
    assert len(tests) == 48
    for t in tests:
        key, iv = bytes.fromhex(t["key"]), bytes.fromhex(t["iv"])
        sealed = bytes.fromhex(t["ct"] + t["tag"])
        msg = bytes.fromhex(t["msg"])
        if t["result"] == "invalid":
            expected = AEAD_MEMORY
        else:
            try:
                expected = msg.decode("utf-8")
            except UnicodeDecodeError:
                expected = "memory-crypto error: " + utf8_error_text(msg)
        try:
            got = vc.decrypt_memory_content(sealed, iv, key)
        except ValueError as e:
            got = str(e)
        assert got == expected, t["tcId"]
