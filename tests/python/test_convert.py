"""Conversion of arbitrary Python values into the JSON value, observed through the row
parsers that take any Python value: parse_active_memory_id reads null and integers,
parse_byte_array_field reads strings, arrays of small ints and {"data": [...]} objects,
parse_memory_row reads every other field kind."""

import collections
import collections.abc
import dataclasses
import enum
import fractions
import math
import typing

import pytest

import vardex_core as vc

SCHEMA_ID = "chain schema error: active memory id: expected integer or null"
TOO_LARGE = "OverflowError: Python int too large to convert to C long"


class Color(enum.IntEnum):
    RED = 7


class Hexy(str, enum.Enum):
    FF = "ff"


class Pair(collections.namedtuple("Pair", "a b")):
    pass


class Bytes3(list):
    pass


class UserSequence:
    """A sequence by registration only: no list, tuple or abc base class."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


collections.abc.Sequence.register(UserSequence)


class UserMapping:
    """A mapping by registration only; keys() may repeat a key, and each lookup may differ."""

    def __init__(self, keys, lookup):
        self._keys, self._lookup = keys, lookup

    def keys(self):
        return list(self._keys)

    def __getitem__(self, key):
        return self._lookup(key)

    def __len__(self):
        return len(self._keys)

    def __iter__(self):
        return iter(self._keys)


collections.abc.Mapping.register(UserMapping)


class LoudDict(dict):
    """A dict subclass whose own item lookup is used."""

    def __getitem__(self, key):
        return [9]


@dataclasses.dataclass
class Cell:
    data: list
    label: str = "x"


@dataclasses.dataclass(slots=True)
class SlottedCell:
    data: list


class Boom(RuntimeError):
    pass


class FailingSequence(collections.abc.Sequence):
    def __init__(self, where):
        self.where = where

    def __len__(self):
        if self.where == "len":
            raise RuntimeError("boom")
        return 2

    def __getitem__(self, i):
        if self.where == "getitem":
            raise RuntimeError("boom")
        if self.where == "silent":
            raise UnprintableError()
        if i >= 2:
            raise IndexError(i)
        return i


class UnprintableError(Exception):
    def __str__(self):
        raise ValueError("no text")


def raise_boom(key):
    raise Boom("boom")


def counter_lookup():
    calls = []

    def lookup(key):
        calls.append(key)
        return [len(calls)]

    return lookup


def generator():
    yield 1


# (value, bytes read by parse_byte_array_field)
CONVERTED = [
    ("0a0B", b"\x0a\x0b"),
    (Hexy.FF, b"\xff"),  # str subclass
    ([1, 2], b"\x01\x02"),
    ((1, 2), b"\x01\x02"),
    (Pair(3, 4), b"\x03\x04"),  # tuple subclass
    (Bytes3([5, 6, 7]), b"\x05\x06\x07"),  # list subclass
    ([Color.RED], b"\x07"),  # int subclass
    ({200}, b"\xc8"),
    (frozenset([201]), b"\xc9"),
    (range(3), b"\x00\x01\x02"),
    (memoryview(b"ab"), b"ab"),  # a registered Sequence
    (UserSequence(8, 9), b"\x08\x09"),
    ({"other": None, "data": [1]}, b"\x01"),
    (collections.OrderedDict(data=(4,)), b"\x04"),
    (LoudDict(data=[1]), b"\x09"),
    (UserMapping(["data"], lambda k: [10]), b"\x0a"),
    (UserMapping(["data", "data"], counter_lookup()), b"\x02"),  # a repeated key: the later value wins
    (Cell([11, 12]), b"\x0b\x0c"),
    ({"data": UserSequence(*range(3))}, b"\x00\x01\x02"),
]


@pytest.mark.parametrize("value, expected", CONVERTED)
def test_containers_strings_and_numbers_convert(value, expected):
    assert vc.parse_byte_array_field(value) == expected


def test_a_set_keeps_its_iteration_order():
    items = {5, 200, 17, 3}
    assert vc.parse_byte_array_field(items) == bytes(list(items))


@pytest.mark.parametrize(
    "value, expected",
    [
        (None, None),
        (7, 7),
        (-7, -7),
        (Color.RED, 7),
        (2**63 - 1, 2**63 - 1),
        (-(2**63), -(2**63)),
    ],
)
def test_null_and_integers_convert(value, expected):
    assert vc.parse_active_memory_id(value) == expected


@pytest.mark.parametrize(
    "value",
    [True, False, 3.5, 5.0, "7", [7], {"id": 7},
     2**63, -(2**63) - 1, 2**64, 2**100, 2**128 - 1, -(2**127)],
)
def test_values_that_convert_but_are_no_64_bit_integer(value):
    """Booleans stay booleans, floats stay non-integers; integers up to 128 bits convert."""
    with pytest.raises(ValueError) as info:
        vc.parse_active_memory_id(value)
    assert str(info.value) == SCHEMA_ID


@pytest.mark.parametrize("value", [2**128, -(2**127) - 1, 2**200, -(2**300)])
def test_integers_beyond_128_bits_fail(value):
    with pytest.raises(ValueError) as info:
        vc.parse_active_memory_id([value])
    assert str(info.value) == TOO_LARGE


@pytest.mark.parametrize(
    "value, expected",
    [
        (7.0, 7),
        (-0.0, 0),
        (123456789.0, 123456789),
        (2.0**53, 2**53),
        (-(2.0**53), -(2**53)),
        (1e15, 10**15),
    ],
)
def test_integral_floats_keep_their_value(value, expected):
    """A float's text reads back as the same double: the integer reader recovers it exactly."""
    assert vc.parse_memory_row(memory_row(score=value)).score == expected


@pytest.mark.parametrize("value", [7.5, 0.1, 2.0**53 + 2, 1e16, 1e300, -1e-300])
def test_other_floats_are_not_integers(value):
    with pytest.raises(ValueError, match="missing or non-integer field `score`"):
        vc.parse_memory_row(memory_row(score=value))


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf])
def test_nan_and_infinities_become_null(value):
    assert vc.parse_active_memory_id(value) is None
    with pytest.raises(ValueError, match="byte_array field is null"):
        vc.parse_byte_array_field(value)


def test_objects_are_looked_up_whatever_the_key_order():
    keys = ["updated_at", "score", "nonce", "is_active", "id", "file_path", "created_at", "content_cipher"]
    for order in (keys, keys[::-1], sorted(keys)):
        full = memory_row(is_active=False, file_path="p", updated_at=9)
        row = vc.parse_memory_row({k: full[k] for k in order})
        assert (row.id, row.file_path, row.is_active, row.updated_at, row.nonce) == (1, "p", False, 9, bytes(12))


def test_dataclass_fields_become_members():
    @dataclasses.dataclass
    class Row:
        id: int
        content_cipher: str
        nonce: list
        score: float
        created_at: int
        file_path: str = "notes.md"

    row = vc.parse_memory_row(Row(3, "ab", [0] * 12, 4.0, 10))
    assert (row.id, row.content_cipher, row.score, row.file_path) == (3, b"\xab", 4, "notes.md")


class FakeDataclass:
    __dataclass_fields__ = ["data"]


def test_class_and_init_pseudo_fields_are_skipped():
    @dataclasses.dataclass
    class Tagged:
        data: list
        kind: typing.ClassVar[str] = "cell"
        scale: dataclasses.InitVar[int] = 1

        def __post_init__(self, scale):
            self.data = [v * scale for v in self.data]

    assert vc.parse_byte_array_field(Tagged([1, 2], 3)) == b"\x03\x06"


def missing_field_instance():
    cell = Cell([1])
    del cell.__dict__["label"]
    return cell


@pytest.mark.parametrize(
    "value, message",
    [
        ({1: [1]}, "dict keys must have type str"),
        ({"data": [1], ("a",): 1}, "dict keys must have type str"),
        (UserMapping([1], lambda k: [1]), "dict keys must have type str"),
        (b"\x01", "invalid type: byte array, expected any valid JSON value"),
        (bytearray(b"\x01"), "unexpected type: 'bytearray' object is not an instance of 'bytes'"),
        (generator(), "unsupported type generator"),
        (fractions.Fraction(1, 2), "unsupported type Fraction"),
        (object(), "unsupported type object"),
        (1j, "unsupported type complex"),
        (FailingSequence("len"), "RuntimeError: boom"),
        (FailingSequence("getitem"), "RuntimeError: boom"),
        (UserMapping(["data"], raise_boom), "Boom: boom"),
        (FailingSequence("silent"), "UnprintableError: <exception str() failed>"),
        (SlottedCell([1]), "AttributeError: 'SlottedCell' object has no attribute '__dict__'"),
        (missing_field_instance(), "KeyError: 'label'"),
        (FakeDataclass(), "unexpected type: 'list' object is not an instance of 'dict'"),
        ("\ud800", "UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800' in position 0: "
                   "surrogates not allowed"),
    ],
)
def test_failures_carry_the_converter_message(value, message):
    with pytest.raises(ValueError) as info:
        vc.parse_byte_array_field(value)
    assert str(info.value) == message and len(info.value.args) == 1


def test_a_failure_deep_inside_rejects_the_whole_value_before_any_inspection():
    rows = [memory_row(score="bad"), {"data": [[[{"x": b""}]]]}]
    with pytest.raises(ValueError) as info:
        vc.parse_memory_rows(rows)
    assert str(info.value) == "invalid type: byte array, expected any valid JSON value"


def test_interrupts_pass_through_unchanged():
    class Interrupting(collections.abc.Sequence):
        def __len__(self):
            raise KeyboardInterrupt

        def __getitem__(self, i):
            return 0

    with pytest.raises(KeyboardInterrupt):
        vc.parse_byte_array_field(Interrupting())


def nested_list(depth):
    value = [0]
    for _ in range(depth - 1):
        value = [value]
    return value


def nested_dict(depth):
    value = {}
    for _ in range(depth - 1):
        value = {"data": value}
    return value


@pytest.mark.parametrize("build", [nested_list, nested_dict])
def test_nesting_deeper_than_the_limit_is_refused(build):
    for depth in (1001, 100_000):
        with pytest.raises(ValueError) as info:
            vc.parse_byte_array_field(build(depth))
        assert str(info.value) == "value nested too deeply: more than 1000 levels of containers"
    # 1000 levels still convert; the parser then refuses the shape.
    with pytest.raises(ValueError, match="^chain schema error: byte_array"):
        vc.parse_byte_array_field(build(1000))


def test_user_code_that_empties_the_list_being_converted_is_harmless():
    outer = []

    class Clearing(collections.abc.Sequence):
        def __len__(self):
            outer.clear()
            return 1

        def __getitem__(self, i):
            if i:
                raise IndexError(i)
            return "x" * 100

    outer.extend([Clearing(), [1] * 50, "y" * 100])
    with pytest.raises(ValueError, match="byte_array element is not a u8"):
        vc.parse_byte_array_field(outer)
    assert outer == []


def memory_row(**fields):
    row = {"id": 1, "content_cipher": "00", "nonce": [0] * 12, "score": 5, "created_at": 100}
    row.update(fields)
    return row
