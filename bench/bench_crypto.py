"""Keys, organisation encryption and memory encryption beside the libraries a Python host
would otherwise use: coincurve for keys, eciespy (set to a compressed ephemeral key and a
12-byte nonce, like our envelope) for organisation encryption, cryptography's AESGCM for
memory content. Inputs and outputs are given to each side in its own natural form."""

import os

import coincurve
import ecies
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from ecies.config import Config

import vardex_core as vc
from common import compare

ECIES_CONFIG = Config(is_ephemeral_key_compressed=True, symmetric_nonce_length=12)


def text_of(size: int) -> str:
    return ("memory note: the agent prefers short answers. " * (size // 46 + 1))[:size]


def coincurve_keypair() -> tuple[str, str]:
    key = coincurve.PrivateKey()
    return key.to_hex(), key.public_key.format().hex()


def run():
    priv_hex = vc.generate_keypair().priv_key
    org = vc.generate_keypair()
    org_pub = bytes.fromhex(org.pub_key)
    org_secret = bytes.fromhex(org.priv_key)
    rows = [
        compare("derive_public_key", lambda: vc.derive_public_key(priv_hex),
                lambda: coincurve.PublicKey.from_secret(bytes.fromhex(priv_hex)).format().hex(), "coincurve"),
        compare("generate_keypair", vc.generate_keypair, coincurve_keypair, "coincurve"),
    ]
    for size, label in [(1 << 10, "1 KB"), (1 << 20, "1 MB")]:
        text = text_of(size)
        data = text.encode()
        ours = vc.encrypt_for_org(text, org.pub_key, "t1:action", "toolcall")
        theirs = ecies.encrypt(org_pub, data, ECIES_CONFIG)
        assert vc.decrypt_for_org(ours, org.priv_key, "t1:action", "toolcall") == text
        assert ecies.decrypt(org_secret, theirs, ECIES_CONFIG) == data
        rows.append(compare(f"encrypt_for_org, {label}", lambda: vc.encrypt_for_org(text, org.pub_key, "t1:action",
                                                                                     "toolcall"),
                            lambda: ecies.encrypt(org_pub, data, ECIES_CONFIG), "eciespy", size))
        rows.append(compare(f"decrypt_for_org, {label}", lambda: vc.decrypt_for_org(ours, org.priv_key, "t1:action",
                                                                                     "toolcall"),
                            lambda: ecies.decrypt(org_secret, theirs, ECIES_CONFIG), "eciespy", size))

    key = vc.derive_memory_key(priv_hex)
    text = text_of(1 << 20)
    data = text.encode()
    sealed = vc.encrypt_memory_content(text, key)
    nonce = os.urandom(12)
    theirs = AESGCM(key).encrypt(nonce, data, None)
    rows.append(compare("encrypt_memory_content, 1 MB", lambda: vc.encrypt_memory_content(text, key),
                        lambda: AESGCM(key).encrypt(os.urandom(12), data, None), "cryptography AESGCM", len(data)))
    rows.append(compare("decrypt_memory_content, 1 MB",
                        lambda: vc.decrypt_memory_content(sealed.ciphertext, sealed.nonce, key),
                        lambda: AESGCM(key).decrypt(nonce, theirs, None), "cryptography AESGCM", len(data)))
    rows.append(compare("decrypt_memory_content, 1 MB (peer also decodes to str)",
                        lambda: vc.decrypt_memory_content(sealed.ciphertext, sealed.nonce, key),
                        lambda: AESGCM(key).decrypt(nonce, theirs, None).decode(), "cryptography AESGCM + decode",
                        len(data)))
    return rows
