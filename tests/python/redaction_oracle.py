"""The redaction table applied with Python's `re`: an independent engine for texts on which
its dialect and the module's agree (no \\x1c-\\x1f, no combining marks, no connector
punctuation other than "_", no numerals outside Nd, no dotless or dotted I). Used by the
tests as an oracle and by the benchmark as the Python peer."""

import json
import pathlib
import re

DOCUMENT = pathlib.Path(__file__).resolve().parents[2] / "core" / "redaction_patterns.json"


def load_patterns() -> list[tuple[str, re.Pattern, bool]]:
    """(kind, compiled pattern, group_only) in table order. "$" is the end of the text."""
    rows = json.loads(DOCUMENT.read_text())["patterns"]
    return [(r["kind"], re.compile(r["pattern"].replace("$", r"\Z"), re.I if "i" in r["flags"] else 0),
             r["group_only"]) for r in rows]


def utf16_length(s: str) -> int:
    return len(s.encode("utf-16-le")) // 2


def redact(text: str, patterns) -> tuple[str, list[tuple[str, int]]]:
    found = []
    for kind, rx, group_only in patterns:
        marker = f"[REDACTED:{kind}]"

        def replace(m: re.Match) -> str:
            if not group_only:
                found.append((kind, utf16_length(m.group(0))))
                return marker
            group = m.group(1)
            if not group:
                return m.group(0)
            found.append((kind, utf16_length(group)))
            return m.group(0).replace(group, marker, 1)

        text = rx.sub(replace, text)
    return text, found


def contains(text: str, patterns) -> bool:
    return any(rx.search(text) for _, rx, _ in patterns)
