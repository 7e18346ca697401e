"""VestleSummary: the read-only report returned by vestle_file and VestleReader.summary."""

import weakref

import pytest

import _csv_vestle_backend as vestle

FIELDS = ["total_rows", "vestled_rows", "repaired_rows", "quarantined_rows",
          "detected_delimiter", "inferred_columns"]

# Ten rows, semicolon separated, four columns: seven whole rows, two short rows
# (padded), one long row (set aside because merging is off).
TEN_ROWS = ("a;b;c;d\n" * 4 + "1;2;3\n" + "e;f;g;h\n" * 2 + "4;5;6;7;8\n" + "5;6\n"
            + "i;j;k;l\n")


@pytest.fixture
def summary(write_file, out_paths):
    return vestle.vestle_file(write_file(TEN_ROWS), out_paths[0], merge_overflow=False)


def test_values(summary):
    assert [getattr(summary, name) for name in FIELDS] == [10, 9, 2, 1, ";", 4]
    assert all(type(getattr(summary, name)) is int for name in FIELDS if name != "detected_delimiter")


def test_repr_is_exact(summary):
    text = ("<VestleSummary total_rows=10 vestled_rows=9 repaired_rows=2 quarantined_rows=1 "
            "delimiter=';' inferred_columns=4>")
    assert repr(summary) == text
    assert str(summary) == text


def test_repr_holds_a_real_tab(write_file, out_paths):
    summary = vestle.vestle_file(write_file("a\tb\n1\t2\n"), out_paths[0])
    assert summary.detected_delimiter == "\t"
    assert repr(summary) == ("<VestleSummary total_rows=2 vestled_rows=2 repaired_rows=0 "
                             "quarantined_rows=0 delimiter='\t' inferred_columns=2>")


def test_repr_of_a_two_byte_delimiter(write_file, out_paths):
    summary = vestle.vestle_file(write_file(b"a\xb6b\n"), out_paths[0], delimiter="\u00b6")
    assert summary.detected_delimiter == "\u00c2"  # first byte of C2 B6
    assert "delimiter='\u00c2'" in repr(summary)


def test_to_dict_order_and_values(summary):
    first = summary.to_dict()
    assert list(first) == FIELDS
    assert first == {name: getattr(summary, name) for name in FIELDS}
    assert first["detected_delimiter"] == summary.detected_delimiter
    second = summary.to_dict()
    assert second == first and second is not first
    second["total_rows"] = 0
    assert summary.total_rows == 10


def test_reads_give_distinct_objects(summary):
    assert summary.detected_delimiter == summary.detected_delimiter
    assert summary.detected_delimiter is not summary.detected_delimiter


@pytest.mark.parametrize("name", FIELDS)
def test_attributes_are_read_only(summary, name):
    with pytest.raises(AttributeError):
        setattr(summary, name, 1)
    with pytest.raises(AttributeError):
        delattr(summary, name)
    assert getattr(vestle.VestleSummary, name).__doc__ is None


def test_no_dict_and_no_weak_references(summary):
    with pytest.raises(AttributeError):
        summary.extra = 1
    assert not hasattr(summary, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(summary)


def test_not_instantiable():
    with pytest.raises(TypeError):
        vestle.VestleSummary()
    with pytest.raises(TypeError):
        vestle.VestleSummary.__new__(vestle.VestleSummary)


def test_not_subclassable():
    with pytest.raises(TypeError):
        type("Sub", (vestle.VestleSummary,), {})


def test_equality_is_identity(summary, write_file, out_paths):
    other = vestle.vestle_file(write_file(TEN_ROWS), out_paths[0], merge_overflow=False)
    assert other.to_dict() == summary.to_dict()
    assert other != summary
    assert summary == summary


def test_summary_outlives_its_source(write_file, out_paths):
    summary = vestle.open(write_file("a,b\n")).summary  # the reader is gone at once
    assert summary.to_dict() == {"total_rows": 1, "vestled_rows": 1, "repaired_rows": 0,
                                 "quarantined_rows": 0, "detected_delimiter": ",",
                                 "inferred_columns": 2}
