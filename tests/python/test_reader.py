"""VestleReader and open(): in-memory repair, iteration, length, summary, context manager."""

import csv
import os
import random
import types
import weakref

import pytest

import _csv_vestle_backend as vestle

DAMAGED = (b'id,name,note\n1,"He said "hi" there",x\n2,short\n3,a,b,c\n'
           b'\xef\xbb\xbf4,"multi\nline",\xff\n5,"x" ,y\r\n')


@pytest.fixture
def damaged(write_file):
    return write_file(DAMAGED)


@pytest.fixture(params=["open", "VestleReader"])
def make_reader(request):
    return getattr(vestle, request.param)


def test_rows(damaged, make_reader):
    reader = make_reader(damaged)
    assert type(reader) is vestle.VestleReader
    assert list(reader) == [
        ["id", "name", "note"],
        ["1", 'He said "hi" there', "x"],
        ["2", "short", ""],
        ["3", "a", "b,c"],
        ["\ufeff4", "multi\nline", "\ufffd"],  # a BOM after the start is data
        ["5", "x", "y"],
    ]


def test_rows_match_vestle_file_output(damaged, out_paths, make_reader):
    options = {"merge_overflow": False, "quote_char": '"'}
    output, _ = out_paths
    summary = vestle.vestle_file(damaged, output, **options)
    with open(output, encoding="utf-8", newline="") as written:
        expected = list(csv.reader(written, delimiter=",", quotechar='"'))
    reader = make_reader(damaged, **options)
    assert list(reader) == expected
    assert reader.summary.to_dict() == summary.to_dict()


LAST = "\u00ab\u00abq\u00ab\ufffd\ufffdq"  # the last line of the file below, decoded


@pytest.mark.parametrize("options, expected", [
    # Delimiter and quote that repaired text could not be split by again: the
    # reader keeps such rows another way, with the same result.
    ({"delimiter": ";", "quote_char": ";"},
     [["a", "b,c", ""], ['"x', 'y"', "z"], ["1", "2", "3"], [LAST, "", ""]]),
    ({"delimiter": "\n"}, [["a;b,c", "x;y;z", "1;2;3", LAST, ""]]),
    ({"quote_char": ","}, [["a", "b,c", ""], ['"x', 'y"', "z"], ["1", "2", "3"], [LAST, "", ""]]),
    ({"delimiter": "\u00c2", "quote_char": "\u00ab"},
     [["a;b,c"], ['"x;y";z'], ["1;2;3"], ["\ufffd\ufffdq\u00ab\ufffd\ufffdq"]]),
])
def test_delimiter_and_quote_outside_the_plain_ones(write_file, options, expected):
    path = write_file(b'a;b,c\n"x;y";z\n1;2;3\n\xc2\xab\xc2\xabq\xc2\xab\xc2\xc2q\n')
    reader = vestle.open(path, **options)
    assert list(reader) == expected
    assert len(reader) == len(expected)


def test_open_and_class_agree(damaged):
    options = {"fill_ragged_rows": False, "repair_quotes": False}
    by_function = vestle.open(damaged, **options)
    by_class = vestle.VestleReader(damaged, **options)
    assert by_function.summary.to_dict() == by_class.summary.to_dict()
    assert list(by_function) == list(by_class)


def test_quarantined_rows_are_only_counted(write_file, make_reader):
    reader = make_reader(write_file(b"a,b,c\n1,2,3\n4\n5,6,7,8\n"), fill_ragged_rows=False,
                         merge_overflow=False)
    assert list(reader) == [["a", "b", "c"], ["1", "2", "3"]]
    assert (reader.summary.total_rows, reader.summary.quarantined_rows) == (4, 2)


def test_iteration_hands_out_fresh_lists_and_never_resets(write_file):
    reader = vestle.open(write_file(b"a,b\n1,2\n3,4\n"))
    assert iter(reader) is reader
    first = next(reader)
    first.append("changed")
    second = next(reader)
    assert first is not second
    assert second == ["1", "2"]
    assert len(reader) == 3
    assert list(reader) == [["3", "4"]]
    assert len(reader) == 3  # the length never shrinks
    assert list(reader) == []  # the cursor is not reset by a second loop
    with pytest.raises(StopIteration):
        next(reader)
    with pytest.raises(StopIteration):
        next(reader)


def test_fields_are_exact_str(write_file):
    # Every width of str, and fields whose widest character is not their first.
    fields = ["plain", "ünïcödé", "€", "\U0001F600", "", "é€", "a\u00ff\U0001F600b", "\u0100",
              "\u00ff", "\u07ff\u0800\uffff", "x\U0010FFFF"]
    reader = vestle.open(write_file((",".join(fields) + "\n").encode()))
    row = next(reader)
    assert row == fields
    assert all(type(field) is str for field in row)


def test_empty_file(write_file, make_reader):
    reader = make_reader(write_file(b""))
    assert len(reader) == 0
    assert not reader
    assert list(reader) == []
    assert reader.summary.to_dict() == {"total_rows": 0, "vestled_rows": 0, "repaired_rows": 0,
                                        "quarantined_rows": 0, "detected_delimiter": ",",
                                        "inferred_columns": 0}


def test_nonempty_reader_is_true_even_when_exhausted(write_file):
    reader = vestle.open(write_file(b"a\n"))
    list(reader)
    assert reader


def test_summary_is_new_on_every_access(damaged):
    reader = vestle.open(damaged)
    first, second = reader.summary, reader.summary
    assert first is not second
    assert first.to_dict() == second.to_dict()
    assert type(first) is vestle.VestleSummary
    with pytest.raises(AttributeError):
        reader.summary = first


def test_context_manager_returns_self_and_keeps_reader_usable(write_file):
    reader = vestle.open(write_file(b"a,b\n1,2\n"))
    with reader as bound:
        assert bound is reader
        assert next(bound) == ["a", "b"]
    assert list(reader) == [["1", "2"]]


def test_context_manager_never_suppresses(write_file):
    reader = vestle.open(write_file(b"a,b\n1,2\n"))
    with pytest.raises(KeyError):
        with reader:
            raise KeyError("inside")
    assert len(reader) == 2
    assert list(reader) == [["a", "b"], ["1", "2"]]


def test_class_members():
    cls = vestle.VestleReader
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    own = [name for name in cls.__dict__ if name in {
        "summary", "__enter__", "__exit__", "__new__", "__iter__", "__next__", "__len__"}]
    assert sorted(own) == sorted(["summary", "__enter__", "__exit__", "__new__", "__iter__",
                                  "__next__", "__len__"])
    assert isinstance(cls.__dict__["summary"], types.GetSetDescriptorType)
    assert cls.summary.__doc__ is None
    assert "__repr__" not in cls.__dict__ and "__eq__" not in cls.__dict__


def test_instances_have_no_dict_or_weakrefs(damaged):
    reader = vestle.open(damaged)
    with pytest.raises(AttributeError):
        reader.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(reader)


# Field texts for the large file: delimiters, quotes and line breaks that need
# quoting, multi-byte UTF-8 of two to four bytes, and plain text.
LARGE_PIECES = ["plain", "", "a,b", 'say "hi"', '""', "line\nbreak", "crlf\r\ninside", "caf\u00e9",
                "\u65e5\u672c\u8a9e", "\U0001f600 grin", "semi;colon", " spaced ", "tab\tin"]


def large_damaged_file(rng, count):
    """Rows of four columns, some short (padded) and some long (merged), with the
    rows the repair must give back. Each row starts with its own number, so a
    row that comes back from the wrong place is told apart."""
    shapes = []  # (encoded tail, fields of the tail)
    for _ in range(997):
        width = rng.choices([4, 2, 3, 5, 7], weights=[80, 4, 6, 6, 4])[0]
        fields = [rng.choice(LARGE_PIECES) + str(rng.randrange(100)) for _ in range(width - 1)]
        encoded = ['"' + f.replace('"', '""') + '"'
                   if any(c in f for c in ',"\r\n') or rng.random() < 0.1 else f for f in fields]
        shapes.append(("," + ",".join(encoded), fields))
    lines, expected = [], []
    for index in range(count):
        tail, fields = shapes[index % len(shapes)]
        lines.append(str(index) + tail)
        row = [str(index), *fields]
        if len(row) > 4:
            row = row[:3] + [",".join(row[3:])]
        expected.append(row + [""] * (4 - len(row)))
    return ("\n".join(lines) + "\n").encode("utf-8"), expected


def test_large_file_reads_back_every_row(tmp_path):
    # Enough rows that the reader gives back the memory of rows already handed
    # out many times over; every later row must come out intact.
    count = 300_000
    content, expected = large_damaged_file(random.Random(7), count)
    source, output = tmp_path / "large.csv", tmp_path / "repaired.csv"
    source.write_bytes(content)
    summary = vestle.vestle_file(str(source), str(output))
    assert (summary.total_rows, summary.vestled_rows, summary.inferred_columns) == (count, count, 4)
    with open(output, encoding="utf-8", newline="") as written:
        reparsed = list(csv.reader(written, strict=True))
    assert len(reparsed) == count
    assert reparsed == expected

    reader = vestle.open(str(source))
    rows = 0
    for index, row in enumerate(reader):
        if row != reparsed[index]:
            pytest.fail(f"row {index}: {row!r} != {reparsed[index]!r}")
        rows += 1
    assert rows == count == len(reader)


# --- construction errors: the OSError subclass of the error's kind --------------

def assert_os_error(error, cls, number):
    assert type(error) is cls
    assert str(error) == f"{os.strerror(number)} (os error {number})"
    assert error.args == (str(error),)
    assert error.errno is None and error.filename is None


def test_missing_file(tmp_path, make_reader):
    with pytest.raises(FileNotFoundError) as caught:
        make_reader(str(tmp_path / "missing.csv"))
    assert_os_error(caught.value, FileNotFoundError, 2)


def test_directory(tmp_path, make_reader):
    with pytest.raises(IsADirectoryError) as caught:
        make_reader(str(tmp_path))
    assert_os_error(caught.value, IsADirectoryError, 21)


def test_not_a_directory(write_file, make_reader):
    with pytest.raises(NotADirectoryError) as caught:
        make_reader(os.path.join(write_file(b"a"), "child.csv"))
    assert_os_error(caught.value, NotADirectoryError, 20)


@pytest.mark.skipif(hasattr(os, "geteuid") and os.geteuid() == 0,
                    reason="root reads files regardless of permission bits")
def test_unreadable_file(write_file, make_reader):
    path = write_file(b"a,b\n")
    os.chmod(path, 0)
    with pytest.raises(PermissionError) as caught:
        make_reader(path)
    assert_os_error(caught.value, PermissionError, 13)


def test_open_and_vestle_file_differ_on_missing_input(tmp_path):
    missing = str(tmp_path / "missing.csv")
    with pytest.raises(FileNotFoundError) as from_open:
        vestle.open(missing)
    with pytest.raises(OSError) as from_vestle_file:
        vestle.vestle_file(missing, str(tmp_path / "out.csv"))
    assert type(from_vestle_file.value) is OSError
    assert str(from_open.value) == str(from_vestle_file.value)
