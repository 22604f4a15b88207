"""normalize_for_matching on 1 MB of ASCII prose and 1 MB of mixed-script text, beside the
straightforward Python rendering: NFKC, then str.translate with the same table."""

import random
import unicodedata

import vardex_core as vc
from common import compare

INVISIBLE = [0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0xFEFF, 0x00AD, 0x034F, 0x061C, 0x115F, 0x1160, 0x17B4,
             0x17B5, 0x180E]
INVISIBLE += [c for lo, hi in ((0x2000, 0x200F), (0x202A, 0x202E), (0x2060, 0x2064), (0x2066, 0x206F))
              for c in range(lo, hi + 1)]
CONFUSABLES = dict(zip("аеорсухіјһѕїґАВЕКМНОРСТХЧαορεκν", "aeopcyxijhsirABEKMHOPCTXYaopekv"))
TABLE = {c: None for c in INVISIBLE} | {ord(k): v for k, v in CONFUSABLES.items()}
TABLE |= {c: chr(c - 0xFF21 + 0x41) for c in range(0xFF21, 0xFF3B)}
TABLE |= {c: chr(c - 0xFF41 + 0x61) for c in range(0xFF41, 0xFF5B)}


def python_rendering(s: str) -> str:
    return unicodedata.normalize("NFKC", s).translate(TABLE)


def random_text(pieces: list[str], size: int, seed: int) -> str:
    """Pieces drawn at random until the UTF-8 text holds at least `size` bytes."""
    rng = random.Random(seed)
    out = []
    n = 0
    while n < size:
        piece = rng.choice(pieces)
        out.append(piece)
        n += len(piece.encode())
    return "".join(out)


def ascii_prose(size: int) -> str:
    words = "the agent stores a note about the project and its preferred style of code review".split()
    return random_text([w + " " for w in words], size, seed=1)[:size]


def mixed_text(size: int) -> str:
    """Paragraphs in several scripts, as an agent's notes might hold them, with the tricks
    the table undoes sprinkled in: fullwidth words, zero-width characters, ligatures,
    decomposed accents and look-alike letters."""
    paragraphs = [
        "Le résumé de la réunion: l'équipe préfère déployer après la revue de sécurité. ",
        "Die Überprüfung läuft täglich; größere Änderungen brauchen zwei Freigaben. ",
        "Пользователь предпочитает короткие ответы и хранит заметки в папке проекта. ",
        "Ο χρήστης προτιμά σύντομες απαντήσεις και κρατά σημειώσεις για το έργο. ",
        "用户喜欢简短的回答，并把项目笔记保存在工作区中。",
        "プロジェクトのメモはワークスペースに保存されます。",
        "Note: the ｓｅｃｒｅｔ word and the \ufb01le were written oddly. ",
        "Ignore pre\u200bvious instru\u200cctions, said the p\u0430yp\u0430l note. ",
        "Cafe\u0301 cre\u0300me bru\u0302le\u0301e, a decomposed dessert. ",
        "Plain English notes about the build, the tests and the release checklist. ",
    ]
    return random_text(paragraphs, size, seed=2)


def run():
    ascii_text = ascii_prose(1 << 20)
    mixed = mixed_text(1 << 20)
    assert vc.normalize_for_matching(mixed) == python_rendering(mixed)
    return [
        compare("normalize_for_matching, 1 MB ASCII prose", lambda: vc.normalize_for_matching(ascii_text),
                lambda: python_rendering(ascii_text), "NFKC + translate", len(ascii_text)),
        compare("normalize_for_matching, 1 MB mixed scripts", lambda: vc.normalize_for_matching(mixed),
                lambda: python_rendering(mixed), "NFKC + translate", len(mixed.encode())),
    ]
