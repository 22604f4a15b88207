"""An independent rendering of the ledger transaction format for the tests: the chain
value encoding, the Merkle hash and signed transactions, written from the format's
description with Python's hashlib and the `ecdsa` package."""

from __future__ import annotations

import hashlib

from ecdsa import SECP256k1, SigningKey
from ecdsa.util import sigencode_string_canonize

N = SECP256k1.order
Z = bytes(32)


class Big(int):
    """A value of the big-integer kind (a plain int is the 64-bit integer kind)."""


def sha(data: bytes) -> bytes:
    return hashlib.sha256(data).digest()


def der_length(n: int) -> bytes:
    if n < 0x80:
        return bytes([n])
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 + len(size)]) + size


def element(tag: int, content: bytes) -> bytes:
    return bytes([tag]) + der_length(len(content)) + content


def twos_complement(n: int) -> bytes:
    magnitude = n if n >= 0 else ~n
    return n.to_bytes(magnitude.bit_length() // 8 + 1, "big", signed=True)


def encode(v) -> bytes:
    if v is None:
        return element(0xA0, element(0x05, b""))
    if isinstance(v, bytes):
        return element(0xA1, element(0x04, v))
    if isinstance(v, str):
        return element(0xA2, element(0x0C, v.encode()))
    if isinstance(v, Big):
        return element(0xA6, element(0x02, twos_complement(v)))
    if isinstance(v, int):
        return element(0xA3, element(0x02, twos_complement(v)))
    if isinstance(v, dict):
        entries = sorted(v.items(), key=lambda kv: kv[0].encode())
        return element(0xA4, element(0x30, b"".join(
            element(0x30, element(0x0C, k.encode()) + encode(x)) for k, x in entries)))
    return element(0xA5, element(0x30, b"".join(encode(e) for e in v)))


def tree(head: int, items: list[bytes]) -> bytes:
    """Pair layers over item hashes: neighbours pair up left to right, an odd last item moves
    up as it is; the last pair is joined under `head`."""
    if not items:
        return sha(bytes([head]) + Z + Z)
    if len(items) == 1:
        return sha(bytes([head]) + items[0] + Z)
    layer: list = list(items)
    while len(layer) > 1:
        nxt = [(layer[i], layer[i + 1]) for i in range(0, len(layer) - 1, 2)]
        if len(layer) % 2:
            nxt.append(layer[-1])
        layer = nxt

    def h(node) -> bytes:
        return node if isinstance(node, bytes) else sha(b"\x00" + h(node[0]) + h(node[1]))

    a, b = layer[0]
    return sha(bytes([head]) + h(a) + h(b))


def merkle(v) -> bytes:
    if isinstance(v, list):
        return tree(0x07, [merkle(e) for e in v])
    if isinstance(v, dict):
        items = []
        for k, x in sorted(v.items(), key=lambda kv: kv[0].encode()):
            items += [merkle(k), merkle(x)]
        return tree(0x08, items)
    return sha(b"\x01" + encode(v))


def public_key(key_hex: str) -> bytes:
    return SigningKey.from_string(bytes.fromhex(key_hex), curve=SECP256k1).get_verifying_key().to_string("compressed")


def rfc6979_signature(key_hex: str, digest: bytes) -> bytes:
    """The deterministic low-S signature r || s of a 32-byte digest."""
    sk = SigningKey.from_string(bytes.fromhex(key_hex), curve=SECP256k1)
    return sk.sign_digest_deterministic(digest, hashfunc=hashlib.sha256, sigencode=sigencode_string_canonize)


def body(name: str, args: list[str], key_hex: str, rid_hex: str) -> list:
    return [bytes.fromhex(rid_hex), [[name, list(args)]], [public_key(key_hex)]]


def signed_transaction(name: str, args: list[str], key_hex: str, rid_hex: str) -> bytes:
    b = body(name, args, key_hex, rid_hex)
    return encode([b, [rfc6979_signature(key_hex, merkle(b))]])
