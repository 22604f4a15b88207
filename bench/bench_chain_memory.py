"""parse_memory_rows on 10,000 rows as a chain client delivers them (content as lists of
ints, hex strings and {"data": [...]} objects, in turn), beside json.dumps of the same rows."""

import json
import random

import vardex_core as vc
from common import compare


def rows(count: int) -> list[dict]:
    rng = random.Random(3)
    out = []
    for i in range(count):
        cipher = rng.randbytes(rng.randrange(48, 160))
        nonce = rng.randbytes(12)
        shape = i % 3
        if shape == 0:
            content, nonce_cell = list(cipher), list(nonce)
        elif shape == 1:
            content, nonce_cell = cipher.hex(), "0x" + nonce.hex()
        else:
            content, nonce_cell = {"data": list(cipher)}, {"data": list(nonce)}
        created = 1_700_000_000_000 + i * 1000
        out.append({
            "id": i + 1,
            "file_path": f"/home/agent/.claude/projects/app/memory/notes-{i % 40}.md",
            "content_cipher": content,
            "nonce": nonce_cell,
            "score": rng.randrange(1, 11),
            "is_active": i % 7 != 0,
            "created_at": created,
            "updated_at": created + rng.randrange(0, 5000),
        })
    return out


def run():
    data = rows(10_000)
    parsed = vc.parse_memory_rows(data)
    assert len(parsed) == len(data) and parsed[1].content_cipher == bytes.fromhex(data[1]["content_cipher"])
    size = len(json.dumps(data))
    return [
        compare("parse_memory_rows, 10,000 rows", lambda: vc.parse_memory_rows(data), lambda: json.dumps(data),
                "json.dumps", size),
    ]
