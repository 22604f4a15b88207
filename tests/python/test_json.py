"""The JSON reader and compact writer, seen through normalize_action_for_hash: a JSON value
placed under "args" of an action with an identifier comes back in compact form when it is
read, and the whole action comes back unchanged (trimmed) when it is not."""

import json

import pytest
from hypothesis import given, settings, strategies as st

import vardex_core as vc


def wrap(args_text: str) -> str:
    return '{"task_id":7,"args":' + args_text + "}"


def normalised_args(args_text: str) -> str | None:
    """The compact args text, or None when the reader refused the document."""
    action = wrap(args_text)
    out = vc.normalize_action_for_hash(action)
    if out == action:
        return None
    prefix = '{"tool_name":null,"args":'
    assert out.startswith(prefix) and out.endswith("}")
    return out[len(prefix):-1]


def python_compact(value) -> str:
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"), sort_keys=True)


@pytest.mark.parametrize("text, expected", [
    ("1.50", "1.50"), ("2e3", "2e3"), ("1E+5", "1E+5"), ("-0.0", "-0.0"), ("-0", "0"), ("-0e0", "-0e0"),
    ("0", "0"), ("1e400", "1e400"), ("123456789012345678901234567890", "123456789012345678901234567890"),
    ("[1.0, -2.50e-3]", "[1.0,-2.50e-3]"),
    ('"\\u00e9\\/\\ud83d\\ude00"', '"é/😀"'),
    ('"\\b\\f\\n\\r\\t\\"\\\\\\u0001\\u001F\\u007f"', '"\\b\\f\\n\\r\\t\\"\\\\\\u0001\\u001f\x7f"'),
    ('"\u2028 \U0001F600"', '"\u2028 \U0001F600"'),
    ('{"b": 1, "a": 2, "b": 3}', '{"a":2,"b":3}'),
    ('{"é": 1, "z": 2, "Z": 3, "": 4, "ab": 5, "a": 6}', '{"":4,"Z":3,"a":6,"ab":5,"z":2,"é":1}'),
    ('{"\\u0061": 1, "a": 2}', '{"a":2}'),
    (" [ true ,\tfalse ,\r\nnull ] ", "[true,false,null]"),
    ("[[], {}, [[]], {\"x\": {}}]", '[[],{},[[]],{"x":{}}]'),
])
def test_values_are_read_and_written_compactly(text, expected):
    assert normalised_args(text) == expected


@pytest.mark.parametrize("text", [
    # number grammar
    "01", "-01", "1.", ".5", "1e", "1e+", "-", "+1", "1.5.5", "1e5e5", "0x10", "NaN", "Infinity", "-Infinity",
    # literals
    "tru", "truex", "nul", "nullx", "True", "[falsey]",
    # strings
    '"\\ud800"', '"\\udc00x"', '"\\x"', '"\\u12"', '"a\x01b"', '"a\tb"', '"a\nb"', '"unterminated',
    # structure
    "[1,]", "[,1]", "[1 2]", '{"a" 1}', "{1:2}", '{"a":1,}', "[", "]", "",
    # white space other than space, tab, line feed and carriage return between tokens
    "[1,\x0c2]", "[1,\u00a02]", "[1,\u20282]", "[1\x0b]",
])
def test_malformed_documents_are_refused(text):
    assert normalised_args(text) is None


@pytest.mark.parametrize("action", [
    '{"task_id":1,"args":1} x', '{"task_id":1,"args":1}{}', '{"task_id":1,"args":1}}', '{"task_id":1,"args":1} 2',
])
def test_nothing_may_follow_the_value(action):
    assert vc.normalize_action_for_hash(action) == action


@pytest.mark.parametrize("levels, accepted", [(127, True), (128, False), (5000, False)])
def test_nesting_limit(levels, accepted):
    # The action object is the first level.
    inner = "[" * (levels - 1) + "]" * (levels - 1)
    assert (normalised_args(inner) is not None) == accepted
    inner = '{"k":' * (levels - 1) + "1" + "}" * (levels - 1)
    assert (normalised_args(inner) is not None) == accepted


json_values = st.recursive(
    st.none() | st.booleans() | st.integers(min_value=-(10**30), max_value=10**30) | st.text(),
    lambda children: st.lists(children, max_size=4) | st.dictionaries(st.text(max_size=6), children, max_size=4),
    max_leaves=20,
)


@settings(max_examples=300, deadline=None)
@given(json_values, st.sampled_from([None, 0, 2]))
def test_compact_writer_agrees_with_python_json(value, indent):
    text = json.dumps(value, indent=indent, ensure_ascii=bool(indent))
    assert normalised_args(text) == python_compact(value)
