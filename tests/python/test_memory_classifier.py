"""Memory-event classification: tool names, argument containers, path matching (against a
Python rendering that lower-cases with str.lower), content choice, the read classifier."""

import dataclasses

import pytest
from hypothesis import given, settings, strategies as st

import vardex_core as vc

NOTES = "/home/u/.claude/projects/x/notes.md"


def write(event, ctx=None, **kw):
    return vc.classify_memory_write(event, {} if ctx is None else ctx, **kw)


def read(event, ctx=None, **kw):
    return vc.classify_memory_read(event, {} if ctx is None else ctx, **kw)


def fields(entry):
    return None if entry is None else (entry.key, entry.value, entry.source, entry.timestamp)


def test_write_yields_the_entry_being_written():
    entry = write({"toolName": "Write", "params": {"file_path": NOTES, "content": "hi"}})
    assert fields(entry) == (NOTES, "hi", "plugin:Write", None)
    assert repr(entry) == f'MemoryEntry(key="{NOTES}", value="hi", source=Some("plugin:Write"), timestamp=None)'


@pytest.mark.parametrize(
    "event, ctx, name",
    [
        ({"toolName": "write"}, {"tool": {"name": "edit"}, "toolName": "x", "name": "y"}, "write"),
        ({"toolName": 5}, {"tool": {"name": "Edit"}, "toolName": "x"}, "Edit"),
        ({}, {"tool": "write", "toolName": "WRITE", "name": "y"}, "WRITE"),
        ({}, {"tool": {"name": None}, "name": "write"}, "write"),
        ([], {"tool": {}, "toolName": ["write"], "name": "MultiEdit"}, "MultiEdit"),
        ({"toolName": "write"}, "not an object", "write"),
    ],
)
def test_tool_name_sources_in_order(event, ctx, name):
    event = {**event, "params": {"path": "memory/a.md", "content": "x"}} if isinstance(event, dict) else event
    ctx = {**ctx, "args": {"path": "memory/a.md", "content": "x"}} if isinstance(ctx, dict) else ctx
    assert write(event, ctx).source == f"plugin:{name}"


def test_an_empty_name_found_first_ends_the_search():
    event = {"toolName": "", "params": {"path": "memory/a.md", "content": "x"}}
    ctx = {"tool": {"name": "write"}}
    assert write(event, ctx) is None
    assert read({"toolName": "", "params": {"path": "memory/a.md"}}, {"tool": {"name": "read"}}) is False


@pytest.mark.parametrize(
    "event, ctx, value",
    [
        ({"params": None, "args": {"path": "memory/a", "content": "args"}}, {}, "args"),
        ({"params": {"path": "memory/a", "content": "params"}, "args": {"path": "memory/a", "content": "x"}}, {},
         "params"),
        ({"arguments": {"path": "memory/a", "content": "event"}}, {"params": {"path": "memory/a", "content": "x"}},
         "event"),
        ({"params": None}, {"args": None, "arguments": {"path": "memory/a", "content": "ctx"}}, "ctx"),
        ({"params": "a string is a container too", "args": {"path": "memory/a", "content": "x"}}, {}, None),
        ({"params": [{"path": "memory/a", "content": "x"}]}, {}, None),
        ({}, {}, None),
    ],
)
def test_argument_container_order(event, ctx, value):
    entry = write({"toolName": "write", **event}, ctx)
    assert (entry.value if entry else None) == value


@pytest.mark.parametrize(
    "args, key",
    [
        ({"file_path": "   ", "path": "MEMORY.md", "content": "x"}, "MEMORY.md"),
        ({"file_path": "\u2003\n", "path": 7, "filename": "CLAUDE.md", "content": "x"}, "CLAUDE.md"),
        ({"target": " /x/memory/a.md ", "file": "AGENTS.md", "content": "x"}, " /x/memory/a.md "),
        ({"target": " memory/a.md ", "file": "AGENTS.md", "content": "x"}, None),
        ({"filePath": "CLAUDE.md", "content": "x"}, None),
        ({"file_path": "", "content": "x"}, None),
        ({"file_path": "/tmp/notes.md", "path": "CLAUDE.md", "content": "x"}, None),
    ],
)
def test_write_path_keys(args, key):
    entry = write({"toolName": "write", "params": args})
    assert (entry.key if entry else None) == key


@pytest.mark.parametrize(
    "tool, args, value",
    [
        ("edit", {"file_path": "AGENTS.md", "old_string": "a", "new_string": "b"}, "b"),
        ("Edit", {"file_path": "AGENTS.md", "newStr": 1, "replacement": "r", "content": "c"}, "r"),
        ("edit", {"file_path": "AGENTS.md", "content": "c"}, "c"),
        ("edit", {"file_path": "AGENTS.md", "new_str": "", "content": "c"}, None),
        ("write", {"file_path": "AGENTS.md", "newText": "n", "content": "c"}, "c"),
        ("write", {"file_path": "AGENTS.md", "content": 3, "newText": "n"}, "n"),
        ("write", {"file_path": "AGENTS.md", "content": ""}, None),
        ("save", {"file_path": "AGENTS.md", "value": "v", "text": "t"}, "v"),
        ("save", {"file_path": "AGENTS.md", "text": "t"}, "t"),
        ("save", {"file_path": "AGENTS.md", "old": "t"}, None),
        ("multiedit", {"file_path": "/w/memory/a.md", "edits": [{"newText": "a"}, 5, {"new_string": "b"}]}, "a\nb"),
        ("multiedit", {"file_path": "/w/memory/a.md", "edits": [], "content": "c"}, None),
        ("multiedit", {"file_path": "/w/memory/a.md", "edits": [{"newText": ""}, {"x": 1}, {"newStr": ""}]}, "\n"),
        ("write", {"file_path": "/w/memory/a.md", "edits": [{"replacement": "r", "newText": 2}], "content": "c"},
         "r"),
        ("multiedit", {"file_path": "/w/memory/a.md", "edits": {"newText": "a"}, "content": "c"}, "c"),
        ("multiedit", {"file_path": "/w/memory/a.md", "edits": None, "new_string": "n"}, "n"),
    ],
)
def test_content_choice(tool, args, value):
    entry = write({"toolName": tool, "params": args}, tool_names=["write", "edit", "multiedit", "save"])
    assert (entry.value if entry else None) == value


@pytest.mark.parametrize(
    "kwargs, tool, expected",
    [
        ({}, "WRITE", True),
        ({}, "save", False),
        ({"tool_names": ["Save"]}, "save", True),
        ({"tool_names": ("Save",)}, "write", False),
        ({"tool_names": []}, "write", False),
        ({"tool_names": ["\u0130NDEX"]}, "i\u0307ndex", True),  # İ lower-cases to i + combining dot
        ({"patterns": []}, "write", False),
        ({"patterns": ["notes.md"]}, "write", True),
        ({"patterns": None, "tool_names": None}, "write", True),
    ],
)
def test_write_lists_replace_the_defaults(kwargs, tool, expected):
    entry = write({"toolName": tool, "params": {"path": "/p/memory/notes.md", "content": "x"}}, **kwargs)
    assert (entry is not None) is expected


# Path matching rendered in Python, every occurrence of a segment-start pattern examined.
def py_matches(path, patterns):
    norm = path.replace("\\", "/").lower()
    base = norm.rsplit("/", 1)[-1]
    for raw in patterns:
        if not raw:
            continue
        p = raw.replace("\\", "/").lower()
        if "/" not in p:
            hit = p == base
        elif p.startswith("/"):
            hit = p in norm
        else:
            hit = any(norm.startswith(p, i) and (i == 0 or norm[i - 1] == "/") for i in range(len(norm)))
        if hit:
            return True
    return False


@pytest.mark.parametrize(
    "path, patterns, expected",
    [
        ("notes/memory/today.md", ["memory/"], True),
        ("memory/x", ["memory/"], True),
        ("mymemory/x", ["memory/"], False),
        ("/x/mymemory/a.md", ["memory/"], False),
        ("C:\\Users\\u\\memory\\today.md", ["/memory/"], True),
        ("C:\\Users\\u\\MEMORY\\today.md", ["\\memory\\"], True),
        ("/p/CLAUDE.md/", ["CLAUDE.md"], False),
        ("/p/claude.MD", ["CLAUDE.md"], True),
        ("/p/xclaude.md", ["CLAUDE.md"], False),
        ("/p/memory.md", ["Memory.md"], True),
        ("xa/a/a/", ["a/a/"], True),  # the second occurrence overlaps the first
        ("ba/a/a/a", ["a/a/a"], True),
        ("/p/a.md", ["", "A.MD"], True),
        ("/p/a.md", [""], False),
        ("/\u0130/x", ["/i\u0307/"], True),
        ("/\u03a3\u0397\u039c\u0395\u0399\u03a9\u03a3\u0395\u0399\u03a3/a", ["/\u03c3\u03b7\u03bc\u03b5\u03b9\u03c9\u03c3\u03b5\u03b9\u03c2/"], True),
        ("/STRASSE/a", ["/stra\u00dfe/"], False),
    ],
)
def test_path_matching(path, patterns, expected):
    assert py_matches(path, patterns) is expected
    entry = write({"toolName": "write", "params": {"path": path, "content": "x"}}, patterns=patterns)
    assert (entry is not None) is expected


PATH_PIECES = ["a", "A", "/", "\\", "memory", "MeMoRy", ".md", "\u0130", "\u03a3", "\u03c3", "\u00df", "x/", "a/a",
               " ", "claude.md"]


@settings(max_examples=300, deadline=None)
@given(st.lists(st.sampled_from(PATH_PIECES), min_size=1, max_size=8).map("".join),
       st.lists(st.lists(st.sampled_from(PATH_PIECES), max_size=4).map("".join), max_size=3))
def test_path_matching_agrees_with_python(path, patterns):
    entry = write({"toolName": "write", "params": {"path": path, "content": "x"}}, patterns=patterns)
    assert (entry is not None) is (bool(path.strip()) and py_matches(path, patterns))


@pytest.mark.parametrize(
    "event, kwargs, expected",
    [
        ({"toolName": "memory_get"}, {}, True),
        ({"toolName": "Memory_Search", "params": {"path": "/tmp/a"}}, {}, True),
        ({"toolName": "memory_get"}, {"read_tool_names": ["recall"]}, False),
        ({"toolName": "RECALL"}, {"read_tool_names": ["recall"]}, True),
        ({"toolName": "Read", "params": {"path": "/p/.openclaw/memory/a.md"}}, {}, True),
        ({"toolName": "read_file", "params": {"filePath": "DREAMS.md"}}, {}, True),
        ({"toolName": "read", "params": {"path": "/tmp/a.txt"}}, {}, False),
        ({"toolName": "read", "params": {"path": "/tmp/a.txt"}}, {"patterns": ["/tmp/"]}, True),
        ({"toolName": "read", "params": {"path": "/x/memory/a"}}, {"patterns": ["/tmp/"]}, True),
        ({"toolName": "read", "params": {"filename": "CLAUDE.md"}}, {}, False),
        ({"toolName": "read", "params": {"path": "", "file_path": "CLAUDE.md"}}, {}, True),
        ({"toolName": "read", "params": {"path": "  ", "file_path": "CLAUDE.md"}}, {}, False),
        ({"toolName": "read", "params": {"path": "CLAUDE.md"}}, {"generic_read_tool_names": ["cat"]}, False),
        ({"toolName": "cat", "params": {"path": "CLAUDE.md"}}, {"generic_read_tool_names": ["cat"]}, True),
        ({"toolName": "read", "params": "CLAUDE.md"}, {}, False),
        ({"toolName": "write", "params": {"path": "CLAUDE.md"}}, {}, False),
        ({"params": {"path": "CLAUDE.md"}}, {}, False),
    ],
)
def test_read_classification(event, kwargs, expected):
    assert read(event, **kwargs) is expected


def test_the_two_classifiers_use_different_path_keys():
    args = {"filename": "CLAUDE.md", "content": "x"}
    assert read({"toolName": "read", "params": args}) is False
    assert fields(write({"toolName": "write", "params": args})) == ("CLAUDE.md", "x", "plugin:write", None)


@dataclasses.dataclass
class Event:
    toolName: str  # noqa: N815 (the host's spelling)
    params: dict


def test_events_of_any_convertible_shape():
    assert write(Event("write", {"path": "CLAUDE.md", "content": "x"})).key == "CLAUDE.md"
    assert read(Event("memory_get", {}), None) is True


@pytest.mark.parametrize(
    "call, error, message, note",
    [
        (lambda: write({}, patterns="CLAUDE.md"), TypeError, "Can't extract `str` to `Vec`", "patterns"),
        (lambda: write(b"x", tool_names="write"), TypeError, "Can't extract `str` to `Vec`", "tool_names"),
        (lambda: read({}, read_tool_names=["a", 1]), TypeError, "'int' object is not an instance of 'str'",
         "read_tool_names"),
        (lambda: read({}, generic_read_tool_names=5), TypeError, "'int' object is not an instance of 'Sequence'",
         "generic_read_tool_names"),
        (lambda: write(b"x", {1: 2}), ValueError, "invalid type: byte array, expected any valid JSON value", None),
        (lambda: read({"toolName": "memory_get"}, {1: 2}), ValueError, "dict keys must have type str", None),
        (lambda: write({"toolName": "write", "params": {"path": "CLAUDE.md", "content": (x for x in "")}}),
         ValueError, "unsupported type generator", None),
    ],
)
def test_argument_errors(call, error, message, note):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == ([f"while processing '{note}'"] if note else None)
