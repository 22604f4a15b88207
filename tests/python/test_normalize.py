import unicodedata

import pytest
from hypothesis import given, strategies as st

import vardex_core as vc

CYRILLIC_A = "\u0430"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ""),
        ("ABC", "ABC"),
        ("p" + CYRILLIC_A + "ypal", "paypal"),
        ("pass\u200bword", "password"),
        ("\uff53\uff45\uff43\uff52\uff45\uff54", "secret"),
        ("e\u0301", "\u00e9"),
        ("\u2003", " "),
        ("a\u00adb", "ab"),
        ("\u3164", ""),
        ("\uffa0", ""),
        ("\ufb01", "fi"),
        ("\u2460", "1"),
        ("\u212a", "K"),
        ("\u0427", "Y"),
        ("\u0434", "\u0434"),
        ("\u03b1", "a"),
        ("\u0391", "\u0391"),
        ("\u0457", "i"),
        ("\u0491", "r"),
        ("a\u200d\u0301", "a\u0301"),
        ("\u00a0x\u2009", " x "),
        ("\u202ebidi\u2066iso\u2069", "bidiiso"),
        ("\u180e\u034f\u061c\u17b4\u17b5\u115f\u1160\ufeff\u200e\u200f\u200c", ""),
        ("😀 stays", "😀 stays"),
    ],
)
def test_matching_form(text, expected):
    assert vc.normalize_for_matching(text) == expected
    assert vc.contains_evasion_characters(text) is (expected != text)


def test_every_mapped_letter_folds_to_ascii():
    mapped = "аеорсухіјһѕїґАВЕКМНОРСТХЧαορεκν"
    assert vc.normalize_for_matching(mapped) == "aeopcyxijhsirABEKMHOPCTXYaopekv"


def _table_characters() -> set[str]:
    chars = set("аеорсухіјһѕїґАВЕКМНОРСТХЧαορεκν")
    chars |= {chr(c) for c in (0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0xFEFF, 0x00AD, 0x034F, 0x061C,
                               0x115F, 0x1160, 0x17B4, 0x17B5, 0x180E)}
    for lo, hi in ((0x2000, 0x200F), (0x202A, 0x202E), (0x2060, 0x2064), (0x2066, 0x206F)):
        chars |= {chr(c) for c in range(lo, hi + 1)}
    return chars


def test_nfkc_conformance_vectors(vectors):
    """Every NFKC column of the Unicode 15 conformance file, where no table entry applies."""
    table = _table_characters()
    checked = 0
    for line in (vectors / "unicode" / "NormalizationTest.txt").read_text(encoding="utf-8").splitlines():
        if not line or line[0] in "#@":
            continue
        columns = ["".join(chr(int(cp, 16)) for cp in col.split()) for col in line.split(";")[:5]]
        expected = columns[3]
        if table & set(expected):
            continue
        for source in columns:
            assert vc.normalize_for_matching(source) == expected, line
        checked += 1
    assert checked > 18000


@given(st.text(alphabet=st.characters(blacklist_categories=("Cs", "Cn")), max_size=40))
def test_agrees_with_python_nfkc_and_the_table(text):
    # Python's unicodedata is Unicode 14: the strategy draws only characters it knows.
    table = _table_characters()
    folds = dict(zip("аеорсухіјһѕїґАВЕКМНОРСТХЧαορεκν", "aeopcyxijhsirABEKMHOPCTXYaopekv"))
    nfkc = unicodedata.normalize("NFKC", text)
    expected = "".join(folds.get(c, c) for c in nfkc if c not in table or c in folds)
    assert vc.normalize_for_matching(text) == expected


@given(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=60))
def test_output_holds_no_table_character(text):
    assert not set(vc.normalize_for_matching(text)) & _table_characters()
