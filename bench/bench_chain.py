"""Ledger signing and verification beside coincurve (the same libsecp256k1 operations from
Python), and sign_encrypted_tool_call beside its parts called one after the other."""

import hashlib

import coincurve

import vardex_core as vc
from common import compare

KEY = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721"
RID = "7b3a8f0e6c1d4b2a9e5f8c7d6b1a0e3f2c4d5b6a7e8f9c0d1b2a3e4f5c6d7b8a"
ARGS = ("call-1", '{"tool_call_id":"call-1","tool_name":"read","args":{"path":"/repo/README.md"}}',
        "reading the project notes", "read", '{"path":"/repo/README.md"}')
BODY = b'{"verdict":"allow","score":9,"reason":"SCORE: 9 \xe2\x80\x94 benign"}' * 4


def run():
    secret = bytes.fromhex(KEY)
    digest = hashlib.sha256(b"transaction body").digest()
    priv = coincurve.PrivateKey(secret)
    pub = priv.public_key.format()
    signature = priv.sign(BODY)
    org = coincurve.PrivateKey().public_key.format().hex()
    assert vc.verify_signature(BODY, signature.hex(), pub.hex())

    def parts():
        cols = vc.build_encrypted_toolcall_args(*ARGS, org)
        return vc.sign_log_tool_call(cols.tool_call_id, cols.action_text, cols.action_context, cols.tool_name,
                                     cols.tool_args_json, KEY, RID)

    return [
        compare("sign_log_tool_call", lambda: vc.sign_log_tool_call(*ARGS, KEY, RID),
                lambda: coincurve.PrivateKey(secret).sign(digest, hasher=None), "coincurve key + sign"),
        compare("verify_signature (DER)", lambda: vc.verify_signature(BODY, signature.hex(), pub.hex()),
                lambda: coincurve.PublicKey(pub).verify(signature, BODY), "coincurve parse + verify"),
        compare("sign_encrypted_tool_call", lambda: vc.sign_encrypted_tool_call(*ARGS, org, KEY, RID), parts,
                "build columns + sign_log_tool_call"),
    ]
