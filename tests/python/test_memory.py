"""Memory entries and snapshots: the accepted argument shapes, their errors, the records."""

import collections
import dataclasses
import types

import pytest

import vardex_core as vc


class FrozenMapping(collections.abc.Mapping):
    """A Mapping that is not a dict; remembers which values were fetched."""

    def __init__(self, data):
        self._data = dict(data)
        self.fetched = []

    def __getitem__(self, key):
        self.fetched.append(key)
        return self._data[key]

    def __iter__(self):
        return iter(self._data)

    def __len__(self):
        return len(self._data)


@dataclasses.dataclass
class Entry:
    key: str
    value: str
    source: str | None = None
    timestamp: int | None = None
    note: object = None  # not an entry field: ignored


@dataclasses.dataclass
class Snapshot:
    entries: list
    takenAt: int  # noqa: N815 (the host's spelling)


def fields(entry):
    return (entry.key, entry.value, entry.source, entry.timestamp)


@pytest.mark.parametrize(
    "entry, expected",
    [
        ({"key": "k", "value": "v"}, ("k", "v", None, None)),
        ({"key": "k", "value": "v", "source": None, "timestamp": None}, ("k", "v", None, None)),
        ({"value": "v", "timestamp": 2**64 - 1, "key": "k", "source": "s", "id": 3, "meta": {}},
         ("k", "v", "s", 2**64 - 1)),
        (FrozenMapping({"key": "k", "value": "", "timestamp": True}), ("k", "", None, 1)),
        (types.MappingProxyType({"key": "", "value": "v"}), ("", "v", None, None)),
        (Entry("k", "v", "plugin:write", 0), ("k", "v", "plugin:write", 0)),
    ],
)
def test_entry_shapes_convert(entry, expected):
    snapshot = vc.create_memory_snapshot([entry], 0)
    assert [fields(e) for e in snapshot.entries] == [expected]


def test_mapping_values_are_fetched_only_for_entry_keys():
    mapping = FrozenMapping({"key": "k", "value": "v", "other": 1})
    vc.create_memory_snapshot([mapping], 0)
    assert mapping.fetched == ["key", "value"]


@dataclasses.dataclass(slots=True)
class Slotted:
    key: str
    value: str


class BadIndex:
    def __index__(self):
        raise RuntimeError("boom")


@pytest.mark.parametrize(
    "entry, message",
    [
        ({"key": "k"}, "missing field `value`"),
        ({"value": "v"}, "missing field `key`"),
        ({}, "missing field `key`"),
        ({"key": 1, "value": "v"}, "invalid type for `key`: expected str, got 'int'"),
        ({"key": "k", "value": b"v"}, "invalid type for `value`: expected str, got 'bytes'"),
        ({"key": "k", "value": "v", "source": 5}, "invalid type for `source`: expected str, got 'int'"),
        ({"key": "k", "value": "v", "timestamp": 17.0}, "invalid type for `timestamp`: expected int, got 'float'"),
        ({"key": "k", "value": "v", "timestamp": 17.5}, "invalid type for `timestamp`: expected int, got 'float'"),
        ({"key": "k", "value": "v", "timestamp": "17"}, "invalid type for `timestamp`: expected int, got 'str'"),
        ({"key": "k", "value": "v", "timestamp": -1},
         "invalid value for `timestamp`: OverflowError: can't convert negative int to unsigned"),
        ({"key": "k", "value": "v", "timestamp": 2**64},
         "invalid value for `timestamp`: OverflowError: int too big to convert"),
        ({"key": "k", "value": "v", "timestamp": BadIndex()}, "invalid value for `timestamp`: RuntimeError: boom"),
        ({"key": "\ud800", "value": "v"}, None),
        ({"key": "k", "value": "v", 1: "x"}, "dict keys must have type str"),
        (Slotted("k", "v"), "AttributeError: 'Slotted' object has no attribute '__dict__'"),
        (["k", "v"], "invalid type for an entry: expected a mapping or a dataclass instance, got 'list'"),
        (None, "invalid type for an entry: expected a mapping or a dataclass instance, got 'NoneType'"),
    ],
)
def test_entry_errors(entry, message):
    with pytest.raises(ValueError) as info:
        vc.create_memory_snapshot([entry], 0)
    if message is None:
        assert str(info.value).startswith("invalid value for `key`: UnicodeEncodeError:")
    else:
        assert str(info.value) == message


def test_dataclass_field_missing_from_instance_dict():
    e = Entry("k", "v")
    del e.__dict__["source"]
    with pytest.raises(ValueError, match="^KeyError: 'source'$"):
        vc.create_memory_snapshot([e], 0)


def test_snapshot_keeps_order_duplicates_and_empty_texts():
    entries = [{"key": "a", "value": "1"}, {"key": "a", "value": "2"}, {"key": "", "value": ""}]
    snapshot = vc.create_memory_snapshot(entries, 9)
    assert [(e.key, e.value) for e in snapshot.entries] == [("a", "1"), ("a", "2"), ("", "")]
    assert snapshot.taken_at == 9
    assert repr(snapshot) == "MemorySnapshot(entries=[3], taken_at=9)"
    assert repr(vc.create_memory_snapshot([], 0)) == "MemorySnapshot(entries=[0], taken_at=0)"


@pytest.mark.parametrize("entries", [({"key": "a", "value": "1"},), [{"key": "a", "value": "1"}],
                                     frozenset(), range(0), collections.UserList([{"key": "a", "value": "1"}])])
def test_entries_accept_any_sequence_or_set(entries):
    assert len(vc.create_memory_snapshot(entries, 0).entries) == len(entries)


def test_entries_reject_objects_of_the_class_itself():
    entry = vc.create_memory_snapshot([{"key": "k", "value": "v"}], 0).entries[0]
    with pytest.raises(ValueError, match="got 'MemoryEntry'"):
        vc.create_memory_snapshot([entry], 0)
    as_dict = {"key": entry.key, "value": entry.value, "source": entry.source, "timestamp": entry.timestamp}
    assert fields(vc.create_memory_snapshot([as_dict], 0).entries[0]) == fields(entry)


@pytest.mark.parametrize(
    "taken_at, error",
    [(-1, OverflowError), (2**64, OverflowError), (17.0, TypeError), ("1", TypeError), (None, TypeError)],
)
def test_taken_at_is_an_argument_error_raised_before_entries(taken_at, error):
    with pytest.raises(error) as info:
        vc.create_memory_snapshot(object(), taken_at)  # entries would fail too, later
    assert info.value.__notes__ == ["while processing 'taken_at'"]


@pytest.mark.parametrize(
    "entries, message",
    [
        (5, "invalid type for `entries`: expected a sequence or a set, got 'int'"),
        ({"key": "k", "value": "v"}, "invalid type for `entries`: expected a sequence or a set, got 'dict'"),
        ([{"key": "k", "value": "v"}, {"key": "k"}], "missing field `value`"),
    ],
)
def test_entries_errors(entries, message):
    with pytest.raises(ValueError) as info:
        vc.create_memory_snapshot(entries, 0)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "entry, text",
    [
        ({"key": "notes/a", "value": "x", "timestamp": 17},
         'MemoryEntry(key="notes/a", value="x", source=None, timestamp=Some(17))'),
        ({"key": "k", "value": "it's\n\"q\"\t\u200b\\", "source": "plugin:Write"},
         'MemoryEntry(key="k", value="it\'s\\n\\"q\\"\\t\\u{200b}\\\\", source=Some("plugin:Write"), timestamp=None)'),
        ({"key": "\u00e9\u0301", "value": "\x00\x7f", "timestamp": 0},
         'MemoryEntry(key="\u00e9\\u{301}", value="\\0\\u{7f}", source=None, timestamp=Some(0))'),
    ],
)
def test_entry_repr(entry, text):
    assert repr(vc.create_memory_snapshot([entry], 0).entries[0]) == text


def test_records_are_read_only_copies():
    snapshot = vc.create_memory_snapshot([{"key": "k", "value": "v"}], 1)
    listed = snapshot.entries
    listed.clear()
    assert len(snapshot.entries) == 1 and snapshot.entries is not snapshot.entries
    entry = snapshot.entries[0]
    for obj, attr in ((entry, "key"), (entry, "timestamp"), (snapshot, "taken_at"), (snapshot, "entries")):
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)
    for cls in (vc.MemoryEntry, vc.MemorySnapshot):
        with pytest.raises(TypeError, match=f"cannot create 'builtins.{cls.__name__}' instances"):
            cls()
        assert cls.__module__ == "builtins"


def test_interrupts_pass_through_unchanged():
    class Interrupting(FrozenMapping):
        def __getitem__(self, key):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vc.create_memory_snapshot([Interrupting({"key": "k", "value": "v"})], 0)
