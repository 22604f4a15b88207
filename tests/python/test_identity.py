"""secp256k1 keys and agent identity, checked against coincurve."""

import secrets

import coincurve
import pytest

import vardex_core as vc

N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
GX = "79be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798"
KEY = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
INVALID_KEY = "invalid private key: must be 64 hex characters (secp256k1)"
OUT_OF_RANGE = "secp256k1 operation failed: malformed or out-of-range secret key"


def hex32(value: int) -> str:
    return f"{value:064x}"


def coincurve_public(priv_hex: str) -> str:
    return coincurve.PrivateKey(bytes.fromhex(priv_hex)).public_key.format(compressed=True).hex()


@pytest.mark.parametrize(
    "text, valid",
    [
        ("f" * 64, True),
        ("F" * 64, True),
        ("0" * 64, True),  # the form only: the value is not checked
        (hex32(N), True),
        (KEY.upper(), True),
        (KEY[:63], False),
        (KEY + "a", False),
        ("0x" + KEY[2:], False),
        ("0x" + KEY, False),
        (KEY[:63] + "\n", False),
        (" " + KEY[1:], False),
        (KEY[:63] + "g", False),
        (KEY[:62] + "é", False),  # 64 bytes of UTF-8, but not hex
        ("é" * 32, False),
        ("", False),
    ],
)
def test_is_valid_private_key_checks_the_strict_form(text, valid):
    assert vc.is_valid_private_key(text) is valid


def test_derive_public_key_agrees_with_coincurve_on_random_keys():
    keys = [secrets.token_hex(32) for _ in range(300)] + [hex32(1), hex32(2), hex32(N - 1), hex32(N - 2)]
    for key in keys:
        if 0 < int(key, 16) < N:
            assert vc.derive_public_key(key) == coincurve_public(key), key


def test_derive_public_key_of_one_is_the_generator_and_ignores_case():
    assert vc.derive_public_key(hex32(1)) == "02" + GX
    assert vc.derive_public_key(KEY.upper()) == vc.derive_public_key(KEY) == coincurve_public(KEY)


@pytest.mark.parametrize(
    "text, message",
    [
        ("0" * 64, OUT_OF_RANGE),
        (hex32(N), OUT_OF_RANGE),
        (hex32(N + 1), OUT_OF_RANGE),
        ("f" * 64, OUT_OF_RANGE),
        ("0x" + KEY, INVALID_KEY),
        (" " + KEY, INVALID_KEY),
        (KEY[:63], INVALID_KEY),
        (KEY[:63] + "z", INVALID_KEY),
        ("", INVALID_KEY),
    ],
)
def test_derive_public_key_errors(text, message):
    with pytest.raises(ValueError) as info:
        vc.derive_public_key(text)
    assert info.value.args == (message,)


def test_generate_keypair_gives_matching_fresh_keys():
    pairs = [vc.generate_keypair() for _ in range(50)]
    for pair in pairs:
        assert len(pair.priv_key) == 64 and pair.priv_key == pair.priv_key.lower()
        assert 0 < int(pair.priv_key, 16) < N
        assert pair.pub_key == coincurve_public(pair.priv_key) == vc.derive_public_key(pair.priv_key)
    assert len({p.priv_key for p in pairs}) == len(pairs)
    with pytest.raises(TypeError):
        vc.generate_keypair(1)
    with pytest.raises(TypeError):
        vc.generate_keypair(seed=1)


@pytest.mark.parametrize(
    "text",
    [
        KEY,
        KEY.upper(),
        "  0x" + KEY.upper() + "  ",
        "0x0x" + KEY,  # every leading "0x" goes
        "\u2003\t0x" + KEY + "\n\u3000",  # Unicode white space
    ],
)
def test_load_agent_normalises_lenient_text(text):
    agent = vc.load_agent(text)
    assert agent.privkey == KEY
    assert agent.pubkey == coincurve_public(KEY)


@pytest.mark.parametrize(
    "text, message",
    [
        ("0X" + KEY, INVALID_KEY),  # only the lower-case prefix is removed
        ("0x 0x" + KEY, INVALID_KEY),
        ("x" + KEY, INVALID_KEY),
        ("", INVALID_KEY),
        ("   ", INVALID_KEY),
        ("0x", INVALID_KEY),
        (KEY[:63], INVALID_KEY),
        ("0x" + "0" * 64, OUT_OF_RANGE),
        (" " + hex32(N).upper(), OUT_OF_RANGE),
    ],
)
def test_load_agent_errors(text, message):
    with pytest.raises(ValueError) as info:
        vc.load_agent(text)
    assert info.value.args == (message,)


def test_reprs_never_show_the_private_key():
    pair = vc.generate_keypair()
    agent = vc.load_agent(KEY)
    assert repr(pair) == f"KeyPair(priv_key='<redacted>', pub_key='{pair.pub_key[:10]}\u2026')"
    assert repr(agent) == f"AgentAuth(privkey='<redacted>', pubkey='{agent.pubkey[:10]}\u2026')"
    assert pair.priv_key not in repr(pair) and KEY not in repr(agent) and KEY not in str(agent)


def test_equality_rules():
    agent = vc.load_agent(KEY)
    same = vc.load_agent("0x" + KEY.upper())
    other = vc.load_agent(hex32(1))
    pair = vc.generate_keypair()
    assert agent == same and not (agent != same)
    assert agent != other and not (agent == other)
    assert pair == pair and pair != vc.generate_keypair()
    # The same strings in the other class, and unrelated objects, compare unequal.
    twin = vc.load_agent(pair.priv_key)
    assert (twin.privkey, twin.pubkey) == (pair.priv_key, pair.pub_key)
    assert pair != twin and not (twin == pair)
    assert agent != (KEY, agent.pubkey) and agent != KEY
    for a, b in [(agent, same), (pair, pair)]:
        with pytest.raises(TypeError):
            a < b  # noqa: B015
        with pytest.raises(TypeError):
            a >= b  # noqa: B015


def test_key_classes_are_unhashable_read_only_records():
    agent = vc.load_agent(KEY)
    pair = vc.generate_keypair()
    for obj in (agent, pair):
        with pytest.raises(TypeError):
            hash(obj)
        with pytest.raises(TypeError):
            {obj}  # noqa: B018
        with pytest.raises(TypeError):
            type(obj)()
    with pytest.raises(AttributeError):
        agent.privkey = KEY
    with pytest.raises(AttributeError):
        pair.pub_key = ""
    assert type(pair).__module__ == "builtins" and not hasattr(agent, "__dict__")
