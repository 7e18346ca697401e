"""vestle_file(): end to end on small files, with exact output and quarantine bytes."""

import csv
import os

import pytest

import _csv_vestle_backend as vestle

HEADER = b"line,reason,raw_content\n"


def too_few(line, raw, expected=3):
    return b'%d,"Row has too few columns (expected %d)","%s"\n' % (line, expected, raw)


def extra(line, raw, expected=3):
    return b'%d,"Row has extra columns (expected %d)","%s"\n' % (line, expected, raw)


# (input, options, output, quarantine, (total, vestled, repaired, quarantined, delimiter, columns))
CASES = {
    "stray quotes repaired": (
        b'id,name,note\n1,"He said "hi" there",x\n', {},
        b'id,name,note\n1,"He said ""hi"" there",x\n', HEADER, (2, 2, 0, 0, ",", 3)),
    "stray quotes kept as text": (
        b'id,name,note\n1,"He said "hi" there",x\n', {"repair_quotes": False},
        b'id,name,note\n1,"He said hi"" there""",x\n', HEADER, (2, 2, 0, 0, ",", 3)),
    "text after closing quote": (
        b'a,b\n"abc"def,g\n"x" ,y\n', {}, b"a,b\nabcdef,g\nx,y\n", HEADER, (3, 3, 0, 0, ",", 2)),
    "ragged rows padded": (
        b"a,b,c\n1,2,3\n4,5\n6\n", {}, b"a,b,c\n1,2,3\n4,5,\n6,,\n", HEADER, (4, 4, 2, 0, ",", 3)),
    "ragged rows quarantined": (
        b"a,b,c\n1,2,3\n4,5\n6\n", {"fill_ragged_rows": False}, b"a,b,c\n1,2,3\n",
        HEADER + too_few(4, b"4,5") + too_few(5, b"6"), (4, 2, 0, 2, ",", 3)),
    "overflow merged": (
        b"a,b,c\n1,2,3\n4,5,6,7\n", {}, b'a,b,c\n1,2,3\n4,5,"6,7"\n', HEADER, (3, 3, 1, 0, ",", 3)),
    "overflow quarantined": (
        b"a,b,c\n1,2,3\n4,5,6,7\n", {"merge_overflow": False}, b"a,b,c\n1,2,3\n",
        HEADER + extra(4, b"4,5,6,7"), (3, 2, 0, 1, ",", 3)),
    "overflow quarantined on last line without LF": (
        b"a,b\n1,2,3", {"merge_overflow": False, "expected_columns": 2}, b"a,b\n",
        HEADER + extra(2, b"1,2,3", 2), (2, 1, 0, 1, ",", 2)),
    "quotes in quarantined raw content are doubled": (
        b'a,b\nc,d\n"x""y",1,2\n', {"merge_overflow": False}, b"a,b\nc,d\n",
        HEADER + extra(4, b'x""y,1,2', 2), (3, 2, 0, 1, ",", 2)),
    "CRLF input": (b"a,b\r\n1,2\r\n", {}, b"a,b\n1,2\n", HEADER, (2, 2, 0, 0, ",", 2)),
    "lone CR input": (b"a,b\r1,2\r", {}, b"a,b\n1,2\n", HEADER, (2, 2, 0, 0, ",", 2)),
    "byte-order mark": (b"\xef\xbb\xbfa,b\n1,2\n", {}, b"a,b\n1,2\n", HEADER, (2, 2, 0, 0, ",", 2)),
    "invalid UTF-8": (
        b"a,\xff\n1,\xc3\n", {}, b"a,\xef\xbf\xbd\n1,\xef\xbf\xbd\n", HEADER, (2, 2, 0, 0, ",", 2)),
    "tab delimiter": (
        b"a\tb\tc\n1\t2,5\t3\n", {}, b"a\tb\tc\n1\t2,5\t3\n", HEADER, (2, 2, 0, 0, "\t", 3)),
    "semicolon delimiter": (
        b"a;b;c\n1;2,5;3\n4;5\n", {}, b"a;b;c\n1;2,5;3\n4;5;\n", HEADER, (3, 3, 1, 0, ";", 3)),
    "semicolon merge joins with semicolon": (
        b"a;b\nc;d\n1;2;3\n", {}, b'a;b\nc;d\n1;"2;3"\n', HEADER, (3, 3, 1, 0, ";", 2)),
    "apostrophe quote_char": (
        b"a,b\nc,d\n'x,y',z\nsay \"hi\",ok\nit's,'q''s'\n", {"quote_char": "'"},
        b"a,b\nc,d\n'x,y',z\nsay \"hi\",ok\n'it''s','q''s'\n", HEADER, (5, 5, 0, 0, ",", 2)),
    "quoted line breaks": (
        b'a,b\n"x\ny",1\n"p\rq",2\n', {}, b'a,b\n"x\ny",1\n"p\rq",2\n', HEADER, (3, 3, 0, 0, ",", 2)),
    "blank line padded": (b"a,b\n\n1,2\n", {}, b"a,b\n,\n1,2\n", HEADER, (3, 3, 1, 0, ",", 2)),
    "expected_columns zero keeps widths": (
        b"a,b,c\n1\n2,3\n", {"expected_columns": 0}, b"a,b,c\n1\n2,3\n", HEADER,
        (3, 3, 0, 0, ",", 0)),
    "given delimiter": (b"a;b,c\n", {"delimiter": ","}, b"a;b,c\n", HEADER, (1, 1, 0, 0, ",", 2)),
    "empty input": (b"", {"delimiter": ";", "expected_columns": 5}, b"", HEADER, (0, 0, 0, 0, ",", 0)),
}


@pytest.mark.parametrize("content, options, output, quarantine, stats",
                         list(CASES.values()), ids=list(CASES))
def test_end_to_end(write_file, out_paths, content, options, output, quarantine, stats):
    output_path, quarantine_path = out_paths
    summary = vestle.vestle_file(write_file(content), output_path, quarantine_path, **options)
    with open(output_path, "rb") as written:
        assert written.read() == output
    with open(quarantine_path, "rb") as written:
        assert written.read() == quarantine
    assert (summary.total_rows, summary.vestled_rows, summary.repaired_rows,
            summary.quarantined_rows, summary.detected_delimiter,
            summary.inferred_columns) == stats
    assert isinstance(summary, vestle.VestleSummary)


@pytest.mark.parametrize("content, options", [
    (b'name\nAlice\n""\nBob\n\n', {}),
    (b"a,b\n\n1\n", {"expected_columns": 0}),
], ids=["one column", "widths kept"])
def test_lone_empty_field_reads_back_as_a_row(write_file, out_paths, content, options):
    # An empty line is no record to CSV readers; a row of one empty field must still be one.
    output, _ = out_paths
    summary = vestle.vestle_file(write_file(content), output, **options)
    with open(output, encoding="utf-8", newline="") as written:
        rows = list(csv.reader(written))
    assert len(rows) == summary.vestled_rows and [""] in rows


def test_no_quarantine_file_without_a_path(tmp_path, write_file):
    source = write_file(b"a,b\n1\n", name="in.csv")
    summary = vestle.vestle_file(source, str(tmp_path / "out.csv"), fill_ragged_rows=False)
    assert summary.quarantined_rows == 1
    assert sorted(os.listdir(tmp_path)) == ["in.csv", "out.csv"]


def test_repair_in_place(write_file):
    path = write_file(b"a,b\r\n1\r\n")
    vestle.vestle_file(path, path)
    with open(path, "rb") as repaired:
        assert repaired.read() == b"a,b\n1,\n"


@pytest.mark.parametrize("rows", [2, 200_000], ids=["one read", "many reads"])
def test_repair_in_place_through_a_descriptor_path(tmp_path, write_file, rows):
    # /proc/self/fd/N names the input too: it is replaced only once complete,
    # and the input is never overwritten while it is still being read.
    path = write_file(b"a,b\r\n1\r\n" + b"x,y\r\n" * rows, name="in.csv")
    descriptor = os.open(path, os.O_RDONLY)
    try:
        summary = vestle.vestle_file(path, f"/proc/self/fd/{descriptor}")
    finally:
        os.close(descriptor)
    assert (summary.total_rows, summary.repaired_rows) == (rows + 2, 1)
    with open(path, "rb") as repaired:
        assert repaired.read() == b"a,b\n1,\n" + b"x,y\n" * rows
    assert os.listdir(tmp_path) == ["in.csv"]


def test_existing_output_is_truncated(write_file, out_paths):
    output, _ = out_paths
    with open(output, "wb") as stale:
        stale.write(b"x" * 1000)
    vestle.vestle_file(write_file(b"a,b\n"), output)
    with open(output, "rb") as written:
        assert written.read() == b"a,b\n"


def test_large_input_round_trips(write_file, out_paths):
    rows = [f"{i},name {i},\"quoted, {i}\"\n" for i in range(20000)]
    output, _ = out_paths
    summary = vestle.vestle_file(write_file("".join(rows)), output)
    assert (summary.total_rows, summary.inferred_columns) == (20000, 3)
    with open(output, "r", encoding="utf-8", newline="") as written:
        assert written.read() == "".join(rows)


# --- errors: always plain OSError with the I/O error's text ---------------------

def assert_plain_os_error(error, number):
    assert type(error) is OSError
    assert str(error).endswith(f" (os error {number})")
    assert str(error) == f"{os.strerror(number)} (os error {number})"
    assert error.args == (str(error),)
    assert error.errno is None and error.strerror is None and error.filename is None


def test_missing_input(tmp_path, out_paths):
    output, quarantine = out_paths
    with pytest.raises(OSError) as caught:
        vestle.vestle_file(str(tmp_path / "missing.csv"), output, quarantine)
    assert not isinstance(caught.value, FileNotFoundError)
    assert_plain_os_error(caught.value, 2)
    assert os.listdir(tmp_path) == []


def test_directory_input(tmp_path, out_paths):
    output, _ = out_paths
    (tmp_path / "folder").mkdir()
    with pytest.raises(OSError) as caught:
        vestle.vestle_file(str(tmp_path / "folder"), output)
    assert_plain_os_error(caught.value, 21)
    assert not os.path.exists(output)


def test_output_in_missing_directory(tmp_path, write_file):
    with pytest.raises(OSError) as caught:
        vestle.vestle_file(write_file(b"a,b\n"), str(tmp_path / "nowhere" / "out.csv"))
    assert_plain_os_error(caught.value, 2)


def test_quarantine_failure_leaves_complete_output(tmp_path, write_file, out_paths):
    output, _ = out_paths
    with pytest.raises(OSError) as caught:
        vestle.vestle_file(write_file(b"a,b\n1,2\n"), output, "")
    assert_plain_os_error(caught.value, 2)
    with open(output, "rb") as written:
        assert written.read() == b"a,b\n1,2\n"
