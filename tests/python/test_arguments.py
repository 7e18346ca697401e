"""Argument binding and conversion shared by sniff, vestle_file, open and VestleReader."""

import os
import pathlib
import re

import pytest

import _csv_vestle_backend as vestle


class TruthError(Exception):
    pass


class Text(str):
    """A str subclass: accepted wherever a str is."""


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def fake_numpy_bool(name, truth, module="numpy"):
    """A class that looks like NumPy's boolean scalar without needing NumPy."""
    cls = type(name, (), {"__module__": module, "__bool__": lambda self: truth})
    return cls()


@pytest.fixture
def reader_input(write_file):
    return write_file("a,b,c\n1,2\n")


def open_reader(path, **options):
    return vestle.open(path, **options)


def construct_reader(path, **options):
    return vestle.VestleReader(path, **options)


READER_FACTORIES = [open_reader, construct_reader]


# --- binding -----------------------------------------------------------------

@pytest.fixture(scope="module")
def exit_reader(tmp_path_factory):
    path = tmp_path_factory.mktemp("exit") / "rows.csv"
    path.write_bytes(b"a,b\n")
    return vestle.open(str(path))


# Stands for the bound __exit__ of a reader in the tables below.
READER_EXIT = "VestleReader.__exit__"


@pytest.fixture
def resolve(exit_reader):
    return lambda function: exit_reader.__exit__ if function == READER_EXIT else function


BINDING_ERRORS = [
    # sniff: one required parameter
    (vestle.sniff, (), {}, "sniff() missing 1 required positional argument: 'sample'"),
    (vestle.sniff, ("a", "b"), {}, "sniff() takes 1 positional arguments but 2 were given"),
    (vestle.sniff, ("a", "b", "c"), {}, "sniff() takes 1 positional arguments but 3 were given"),
    (vestle.sniff, (), {"sample": "a", "x": 1}, "sniff() got an unexpected keyword argument 'x'"),
    (vestle.sniff, ("a",), {"sample": "b"}, "sniff() got multiple values for argument 'sample'"),
    (vestle.sniff, (), {"samples": "a"}, "sniff() got an unexpected keyword argument 'samples'"),
    # vestle_file: two required of nine
    (vestle.vestle_file, (), {},
     "vestle_file() missing 2 required positional arguments: 'input_path' and 'output_path'"),
    (vestle.vestle_file, ("in",), {},
     "vestle_file() missing 1 required positional argument: 'output_path'"),
    (vestle.vestle_file, (), {"output_path": "out", "delimiter": ";"},
     "vestle_file() missing 1 required positional argument: 'input_path'"),
    (vestle.vestle_file, tuple(range(10)), {},
     "vestle_file() takes from 2 to 9 positional arguments but 10 were given"),
    (vestle.vestle_file, ("in", "out"), {"bogus": 1},
     "vestle_file() got an unexpected keyword argument 'bogus'"),
    (vestle.vestle_file, ("in", "out", None), {"quarantine_path": None},
     "vestle_file() got multiple values for argument 'quarantine_path'"),
    # open and the class: one required of seven
    (vestle.open, (), {}, "open() missing 1 required positional argument: 'file_path'"),
    (vestle.open, tuple(range(8)), {},
     "open() takes from 1 to 7 positional arguments but 8 were given"),
    (vestle.open, ("x",), {"quotechar": "'"}, "open() got an unexpected keyword argument 'quotechar'"),
    (vestle.open, ("x",), {"file_path": "y"}, "open() got multiple values for argument 'file_path'"),
    (vestle.VestleReader, (), {},
     "VestleReader.__new__() missing 1 required positional argument: 'file_path'"),
    (vestle.VestleReader, tuple(range(8)), {},
     "VestleReader.__new__() takes from 1 to 7 positional arguments but 8 were given"),
    (vestle.VestleReader, (), {"file_path": "x", "nope": 1},
     "VestleReader.__new__() got an unexpected keyword argument 'nope'"),
    (vestle.VestleReader, ("x", None), {"delimiter": None},
     "VestleReader.__new__() got multiple values for argument 'delimiter'"),
    # __exit__: none required of three
    (READER_EXIT, (1, 2, 3, 4), {},
     "VestleReader.__exit__() takes from 0 to 3 positional arguments but 4 were given"),
    (READER_EXIT, (), {"exc_type": None},
     "VestleReader.__exit__() got an unexpected keyword argument 'exc_type'"),
    (READER_EXIT, (None,), {"_exc_type": None},
     "VestleReader.__exit__() got multiple values for argument '_exc_type'"),
]


@pytest.mark.parametrize("function, args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(resolve, function, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        resolve(function)(*args, **kwargs)
    assert str(caught.value) == message
    assert type(caught.value) is TypeError
    assert not getattr(caught.value, "__notes__", None)


@pytest.mark.parametrize("function, args, kwargs, message", [
    # too many positional arguments is reported before any keyword problem
    (vestle.sniff, ("a", "b"), {"x": 1}, "sniff() takes 1 positional arguments but 2 were given"),
    # a keyword problem is reported before missing parameters
    (vestle.vestle_file, (), {"bogus": 1},
     "vestle_file() got an unexpected keyword argument 'bogus'"),
    # binding errors come before any conversion error
    (vestle.vestle_file, (b"in",), {}, "vestle_file() missing 1 required positional argument: 'output_path'"),
])
def test_binding_error_precedence(function, args, kwargs, message):
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        function(*args, **kwargs)


@pytest.mark.parametrize("args, kwargs", [
    ((), {}),
    ((None, None, None), {}),
    ((), {"_exc_type": ValueError, "_exc_val": ValueError("x"), "_exc_tb": None}),
    ((ValueError,), {"_exc_tb": object()}),
])
def test_exit_accepts_zero_to_three_arguments(exit_reader, args, kwargs):
    assert exit_reader.__exit__(*args, **kwargs) is False


def test_every_parameter_binds_by_keyword(write_file, out_paths):
    source = write_file("a;b\n1;2;3\n4\n")
    output, quarantine = out_paths
    summary = vestle.vestle_file(
        input_path=source, output_path=output, quarantine_path=quarantine, delimiter=";",
        quote_char="'", fill_ragged_rows=False, merge_overflow=False, expected_columns=2,
        repair_quotes=False)
    assert (summary.vestled_rows, summary.quarantined_rows) == (1, 2)
    reader = vestle.VestleReader(
        file_path=source, delimiter=";", quote_char="'", fill_ragged_rows=True,
        merge_overflow=True, expected_columns=2, repair_quotes=False)
    assert list(reader) == [["a", "b"], ["1", "2;3"], ["4", ""]]


# --- conversion errors -------------------------------------------------------

def vestle_file_call(tmp_path, **arguments):
    (tmp_path / "in.csv").write_bytes(b"a,b\n")
    base = {"input_path": str(tmp_path / "in.csv"), "output_path": str(tmp_path / "out.csv")}
    base.update(arguments)
    return vestle.vestle_file(**base)


CONVERSION_ERRORS = [
    ("input_path", b"in.csv", TypeError, "'bytes' object is not an instance of 'str'"),
    ("input_path", pathlib.Path("in.csv"), TypeError,
     f"'{type(pathlib.Path()).__qualname__}' object is not an instance of 'str'"),
    ("input_path", None, TypeError, "'None' is not an instance of 'str'"),
    ("output_path", 7, TypeError, "'int' object is not an instance of 'str'"),
    ("output_path", "\udc80", UnicodeEncodeError, None),
    ("quarantine_path", b"q.csv", TypeError, "'bytes' object is not an instance of 'str'"),
    ("delimiter", 44, TypeError, "'int' object is not an instance of 'str'"),
    ("delimiter", "\ud800", UnicodeEncodeError, None),
    ("quote_char", None, TypeError, "'None' is not an instance of 'str'"),
    ("quote_char", b"'", TypeError, "'bytes' object is not an instance of 'str'"),
    ("fill_ragged_rows", 1, TypeError, "'int' object is not an instance of 'bool'"),
    ("fill_ragged_rows", None, TypeError, "'None' is not an instance of 'bool'"),
    ("merge_overflow", "yes", TypeError, "'str' object is not an instance of 'bool'"),
    ("merge_overflow", fake_numpy_bool("bool_", True, module="mylib"), TypeError,
     "'bool_' object is not an instance of 'bool'"),
    ("repair_quotes", 0.0, TypeError, "'float' object is not an instance of 'bool'"),
    ("repair_quotes", fake_numpy_bool("bool8", True), TypeError,
     "'bool8' object is not an instance of 'bool'"),
    ("expected_columns", -1, OverflowError, "can't convert negative int to unsigned"),
    ("expected_columns", -(2 ** 70), OverflowError, "can't convert negative int to unsigned"),
    ("expected_columns", 2 ** 64, OverflowError, "out of range integral type conversion attempted"),
    ("expected_columns", 2 ** 200, OverflowError, "out of range integral type conversion attempted"),
    ("expected_columns", Index(-3), OverflowError, "can't convert negative int to unsigned"),
    ("expected_columns", "3", TypeError, "'str' object cannot be interpreted as an integer"),
    ("expected_columns", 3.0, TypeError, "'float' object cannot be interpreted as an integer"),
]


@pytest.mark.parametrize("name, value, error, message", CONVERSION_ERRORS)
def test_vestle_file_conversion_errors(tmp_path, name, value, error, message):
    with pytest.raises(error) as caught:
        vestle_file_call(tmp_path, **{name: value})
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{name}'"]
    assert os.listdir(tmp_path) == ["in.csv"]  # no output written


@pytest.mark.parametrize("factory", READER_FACTORIES)
@pytest.mark.parametrize("name, value, error, message", [
    (n, v, e, m) for n, v, e, m in CONVERSION_ERRORS if n not in ("output_path", "quarantine_path")
])
def test_reader_conversion_errors(tmp_path, factory, name, value, error, message):
    arguments = {name: value}
    path = arguments.pop("input_path", str(tmp_path / "missing.csv"))
    with pytest.raises(error) as caught:  # raised before the missing file is opened
        factory(path, **arguments)
    if message is not None:
        assert str(caught.value) == message
    note_name = "file_path" if name == "input_path" else name
    assert caught.value.__notes__ == [f"while processing '{note_name}'"]


@pytest.mark.parametrize("sample, error, message", [
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"a;b", TypeError, "'bytes' object is not an instance of 'str'"),
    (["a;b"], TypeError, "'list' object is not an instance of 'str'"),
    ("a;b\udc00", UnicodeEncodeError, None),
])
def test_sniff_conversion_errors(sample, error, message):
    with pytest.raises(error) as caught:
        vestle.sniff(sample)
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'sample'"]


def test_type_name_is_the_qualified_name():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError) as caught:
        vestle.sniff(Outer.Inner())
    assert str(caught.value) == (
        "'test_type_name_is_the_qualified_name.<locals>.Outer.Inner' object is not an instance of 'str'")


@pytest.mark.parametrize("arguments, failing", [
    ({"input_path": 1, "output_path": 2}, "input_path"),
    ({"output_path": 2, "input_path": 1}, "input_path"),  # parameter order, not keyword order
    ({"expected_columns": -1, "fill_ragged_rows": 1}, "fill_ragged_rows"),
    ({"repair_quotes": 1, "delimiter": 5, "quote_char": None}, "delimiter"),
    ({"quarantine_path": 3, "merge_overflow": None}, "quarantine_path"),
])
def test_first_failing_parameter_wins(tmp_path, arguments, failing):
    base = {"input_path": str(tmp_path / "in"), "output_path": str(tmp_path / "out")}
    base.update(arguments)
    with pytest.raises(TypeError) as caught:
        vestle.vestle_file(**base)
    assert caught.value.__notes__ == [f"while processing '{failing}'"]


# --- accepted values ---------------------------------------------------------

def rows_of(factory, path, **options):
    return list(factory(path, **options))


@pytest.mark.parametrize("factory", READER_FACTORIES)
def test_str_subclass_paths_are_accepted(write_file, factory):
    path = write_file("a,b\n")
    assert rows_of(factory, Text(path)) == [["a", "b"]]


def test_str_subclass_paths_for_vestle_file(write_file, out_paths):
    output, quarantine = out_paths
    vestle.vestle_file(Text(write_file("a,b\n")), Text(output), Text(quarantine))
    assert pathlib.Path(output).read_bytes() == b"a,b\n"
    assert pathlib.Path(quarantine).read_bytes() == b"line,reason,raw_content\n"


@pytest.mark.parametrize("delimiter, expected", [
    (None, ";"),   # sniffed
    ("", ";"),     # the empty str behaves like None
    (";", ";"),
    (";;", ";"),   # only the first character counts
    (";,", ";"),
    (",", ","),
    ("\u00e9", "\u00c3"),  # first byte of the UTF-8 encoding (C3 A9)
])
def test_delimiter_conversion(write_file, delimiter, expected):
    path = write_file("a;b;c\n1;2;3\n")
    reader = vestle.open(path, delimiter=delimiter)
    assert reader.summary.detected_delimiter == expected


def test_empty_delimiter_is_sniffed_like_none(write_file):
    path = write_file("a\tb\n1\t2\n")
    assert list(vestle.open(path, delimiter="")) == list(vestle.open(path)) == [["a", "b"], ["1", "2"]]


@pytest.mark.parametrize("quote_char, content, expected", [
    ('"', "'a,b',c\n\"x,y\",z\n", [["'a", "b'", "c"], ["x,y", "z"]]),
    ("", "'a,b',c\n\"x,y\",z\n", [["'a", "b'", "c"], ["x,y", "z"]]),  # "" gives the double quote
    ("'", "'a,b',c\n\"x,y\",z\n", [["a,b", "c"], ['"x', 'y"', "z"]]),
    ("''", "'a,b',c\n\"x,y\",z\n", [["a,b", "c"], ['"x', 'y"', "z"]]),
])
def test_quote_char_conversion(write_file, quote_char, content, expected):
    path = write_file(content)
    assert list(vestle.open(path, quote_char=quote_char, expected_columns=0)) == expected


def test_delimiter_equal_to_quote_char_is_accepted(write_file):
    path = write_file("a;b\n1;2\n")
    reader = vestle.open(path, delimiter=";", quote_char=";")
    assert reader.summary.detected_delimiter == ";"
    assert len(reader) == 2


@pytest.mark.parametrize("value, fills", [
    (True, True),
    (False, False),
    (fake_numpy_bool("bool_", True), True),
    (fake_numpy_bool("bool_", False), False),
    (fake_numpy_bool("bool", False), False),
])
def test_flag_conversion(write_file, value, fills):
    path = write_file("a,b,c\n1,2,3\n4\n")
    rows = list(vestle.open(path, fill_ragged_rows=value))
    expected = [["a", "b", "c"], ["1", "2", "3"]] + ([["4", "", ""]] if fills else [])
    assert rows == expected


def test_numpy_bool_whose_truth_fails_raises_with_note(write_file):
    def fail(self):
        raise TruthError("no truth")

    value = type("bool_", (), {"__module__": "numpy", "__bool__": fail})()
    with pytest.raises(TruthError) as caught:
        vestle.open(write_file("a\n"), repair_quotes=value)
    assert caught.value.__notes__ == ["while processing 'repair_quotes'"]


@pytest.mark.parametrize("value, columns", [
    (None, 3),
    (0, 0),
    (2, 2),
    (True, 1),
    (Index(4), 4),
])
def test_expected_columns_conversion(write_file, value, columns):
    path = write_file("a,b,c\n1,2,3\n")
    reader = vestle.open(path, expected_columns=value)
    assert reader.summary.inferred_columns == columns
    assert all(len(row) == (columns or 3) for row in reader)


@pytest.mark.parametrize("parameter", ["input_path", "output_path", "quarantine_path"])
def test_embedded_nul_in_a_path_is_refused_before_any_file_is_touched(tmp_path, parameter):
    # The system would read the name only up to the NUL and open another file.
    source = tmp_path / "in.csv"
    source.write_bytes(b"a,b\n1\n")
    paths = {"input_path": str(source), "output_path": str(tmp_path / "out.csv"),
             "quarantine_path": str(tmp_path / "q.csv")}
    paths[parameter] += "\0.bak"
    with pytest.raises(ValueError) as caught:
        vestle.vestle_file(**paths)
    assert str(caught.value) == "embedded null byte"
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]
    assert sorted(os.listdir(tmp_path)) == ["in.csv"]
    assert source.read_bytes() == b"a,b\n1\n"


@pytest.mark.parametrize("factory", READER_FACTORIES)
def test_embedded_nul_in_the_reader_path_is_refused(write_file, factory):
    path = write_file("a,b\n")
    with pytest.raises(ValueError) as caught:
        factory(path + "\0x")
    assert str(caught.value) == "embedded null byte"
    assert caught.value.__notes__ == ["while processing 'file_path'"]
