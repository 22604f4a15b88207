"""Chain value encoding, Merkle hash and transaction layout, compared with the independent
rendering of chain_oracle. Kinds and shapes that no exported function produces (null,
integers, dictionaries, big integers, empty arrays) are reached through the
chain_value_probe program that the build makes beside the module."""

import hashlib
import json
import pathlib
import random
import subprocess

import coincurve
import pytest

import vardex_core as vc
from chain_oracle import Big, encode, merkle, sha, signed_transaction, Z

KEY = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
RID = "0f" * 32


def probe_path() -> pathlib.Path | None:
    """The probe beside the module (development build), else the newest one in a build
    folder of this checkout (an installed wheel's build)."""
    beside = pathlib.Path(vc.__file__).parent / "chain_value_probe"
    if beside.exists():
        return beside
    built = list((pathlib.Path(__file__).resolve().parents[2] / "build").glob("*/chain_value_probe"))
    return max(built, key=lambda p: p.stat().st_mtime) if built else None


@pytest.fixture(scope="module")
def probe():
    path = probe_path()
    if path is None:
        pytest.skip("chain_value_probe is not built")

    def run(requests: list) -> list[str]:
        text = "".join(json.dumps(r) + "\n" for r in requests)
        out = subprocess.run([str(path)], input=text, capture_output=True, text=True, check=True).stdout
        return out.splitlines()

    return run


def notation(v):
    """The probe's JSON notation of a chain value."""
    if isinstance(v, bytes):
        return {"bytes": v.hex()}
    if isinstance(v, Big):
        return {"big": v.to_bytes(64, "big", signed=True).hex()}
    if isinstance(v, dict):
        return {"dict": [[k, notation(x)] for k, x in v.items()]}
    if isinstance(v, list):
        return [notation(e) for e in v]
    return v


def probe_values(probe, values):
    lines = probe([{"value": notation(v)} for v in values])
    return [(bytes.fromhex(line.split()[0]), bytes.fromhex(line.split()[1])) for line in lines]


@pytest.mark.parametrize("value, expected_hex", [
    (None, "a0020500"),
    ("abc", "a2050c03616263"),
    ("", "a2020c00"),
    ("a" * 126, "a281800c7e"),
    ("a" * 127, "a281810c7f"),
    ("a" * 128, "a281830c8180"),
    ("a" * 200, "a281cb0c81c8"),
    ("a" * 300, "a28201300c82012c"),
    (b"\x07" * 32, "a1220420"),
    (b"\x02" * 33, "a1230421"),
    (b"\x01" * 64, "a1420440"),
    (0, "a303020100"), (127, "a30302017f"), (128, "a30402020080"), (-1, "a3030201ff"),
    (-128, "a303020180"), (-129, "a3040202ff7f"), (2**63 - 1, "a30a02087fffffffffffffff"),
    (-(2**63), "a30a02088000000000000000"),
    (Big(0), "a603020100"), (Big(-1), "a6030201ff"), (Big(2**64), "a60b0209010000000000000000"),
    ([], "a5023000"),
    (["abc"], "a50930" + "07a2050c03616263"),
    ({}, "a4023000"),
    ({"b": None, "a": 1}, "a415301330080c0161a30302010130070c0162a0020500"),
])
def test_worked_encodings(probe, value, expected_hex):
    encoding, _ = probe_values(probe, [value])[0]
    assert encoding.hex().startswith(expected_hex)
    assert encoding == encode(value)


def test_merkle_shapes(probe):
    a, b, c, d, e = ("a", b"b", None, 4, "e")
    H = [merkle(x) for x in (a, b, c, d, e)]
    shapes = {
        0: sha(b"\x07" + Z + Z),
        1: sha(b"\x07" + H[0] + Z),
        2: sha(b"\x07" + H[0] + H[1]),
        3: sha(b"\x07" + sha(b"\x00" + H[0] + H[1]) + H[2]),
        5: sha(b"\x07" + sha(b"\x00" + sha(b"\x00" + H[0] + H[1]) + sha(b"\x00" + H[2] + H[3])) + H[4]),
    }
    values = [[a, b, c, d, e][:n] for n in shapes]
    got = probe_values(probe, values)
    for (n, expected), (_, digest) in zip(shapes.items(), got):
        assert digest == expected, n
    # Dictionaries: key leaves and values in key order under the head 0x08.
    key = sha(b"\x01" + encode("k"))
    dicts = {
        0: ({}, sha(b"\x08" + Z + Z)),
        1: ({"k": "v"}, sha(b"\x08" + key + merkle("v"))),
        2: ({"z": 1, "k": "v"}, sha(b"\x08" + sha(b"\x00" + key + merkle("v")) + sha(b"\x00" + merkle("z") + merkle(1)))),
    }
    got = probe_values(probe, [v for v, _ in dicts.values()])
    for (n, (_, expected)), (_, digest) in zip(dicts.items(), got):
        assert digest == expected, n


def random_value(rng: random.Random, depth: int = 0):
    kind = rng.randrange(7 if depth < 4 else 5)
    if kind == 0:
        return None
    if kind == 1:
        return rng.randbytes(rng.choice([0, 1, 32, 127, 128, 300]))
    if kind == 2:
        return "".join(rng.choice("az\u00e9\u4e2d\U0001F600") for _ in range(rng.choice([0, 3, 60, 130])))
    if kind == 3:
        return rng.randint(-(2**63), 2**63 - 1) >> rng.randrange(64)
    if kind == 4:
        return Big(rng.randint(-(2**300), 2**300) >> rng.randrange(300))
    if kind == 5:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(10))]
    return {rng.choice(["", "a", "b", "ab", "\u00e9", "Z"]): random_value(rng, depth + 1) for _ in range(rng.randrange(6))}


def test_random_values_agree_with_the_rendering(probe):
    rng = random.Random(8)
    values = [random_value(rng) for _ in range(400)]
    for value, (encoding, digest) in zip(values, probe_values(probe, values)):
        assert encoding == encode(value)
        assert digest == merkle(value)


def test_dictionary_keys_repeat_last_wins_and_sort_by_bytes(probe):
    # "\uffff" (EF BF BF) sorts before "\U00010000" (F0 90 80 80) by bytes.
    lines = probe([{"value": {"dict": [["\U00010000", 1], ["\uffff", 2], ["a", 3], ["a", 4]]}}])
    encoding = bytes.fromhex(lines[0].split()[0])
    assert encoding == encode({"a": 4, "\uffff": 2, "\U00010000": 1})


def test_the_184_byte_transaction(probe):
    rid = bytes(range(32))
    line = probe([{"sign": {"rid": rid.hex(), "name": "op", "args": ["abc"], "key": KEY}}])[0]
    tx = bytes.fromhex(line)
    assert len(tx) == 184
    pub = coincurve.PrivateKey(bytes.fromhex(KEY)).public_key.format()
    layout = [
        "a581b53081b2", "a5683066", "a1220420" + rid.hex(), "a5173015", "a5133011", "a2040c026f70",
        "a5093007a2050c03616263", "a5273025a1230421" + pub.hex(), "a5463044a1420440",
    ]
    assert tx[:-64].hex() == "".join(layout)
    assert tx == signed_transaction("op", ["abc"], KEY, rid.hex())


def test_signing_errors_through_the_probe(probe):
    zero = "0" * 64
    lines = probe([{"sign": {"rid": RID, "name": "op", "args": [], "key": zero}},
                   {"sign": {"rid": RID, "name": "op", "args": [], "key": "f" * 64}}])
    assert lines == ["error: signing failed: malformed or out-of-range secret key"] * 2


def test_strings_are_hashed_as_their_exact_bytes():
    # Composed and decomposed forms of é are different arguments.
    one = vc.sign_judge_action("\u00e9", "", "", "", KEY, RID)
    two = vc.sign_judge_action("e\u0301", "", "", "", KEY, RID)
    assert one != two
    assert bytes.fromhex(one) == signed_transaction("judge_action", ["\u00e9", "", "", ""], KEY, RID)
    assert bytes.fromhex(two) == signed_transaction("judge_action", ["e\u0301", "", "", ""], KEY, RID)
    assert hashlib.sha256(bytes.fromhex(one)).digest() != hashlib.sha256(bytes.fromhex(two)).digest()
