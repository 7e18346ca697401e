"""The module object: attributes, public names, registration and documentation."""

import builtins
import importlib.util
import inspect
import pathlib
import tomllib
import types

import pytest

import _csv_vestle_backend as vestle

Q = '"\\""'  # the Python literal of a one-character str holding a double quote

MODULE_DOC = (
    "High-performance, fault-tolerant CSV vestle and reconstruction engine.\n"
    "\n"
    "Rescues corrupted, broken, and malformed CSV files where strict parsers\n"
    "(Polars, DuckDB, Pandas) abort with ParserError."
)
READER_SIGNATURE = (
    "(file_path, delimiter=None, quote_char=" + Q + ", fill_ragged_rows=True, "
    "merge_overflow=True, expected_columns=None, repair_quotes=True)"
)
VESTLE_FILE_SIGNATURE = (
    "(input_path, output_path, quarantine_path=None, delimiter=None, quote_char=" + Q
    + ", fill_ragged_rows=True, merge_overflow=True, expected_columns=None, repair_quotes=True)"
)
VESTLE_FILE_DOC = "\n".join([
    "Vestles a corrupted CSV file and writes a clean, standard RFC-4180 file.",
    "",
    "Args:",
    "    input_path: Path to the corrupted CSV file.",
    "    output_path: Path where the repaired CSV file will be written.",
    "    quarantine_path: Optional path to write unrecoverable / quarantined rows.",
    '    delimiter: Optional single-character delimiter (e.g. "," or ";"). If None, auto-sniffed.',
    "    quote_char: Optional single-character quote enclosure (default '\"').",
    "    fill_ragged_rows: If True, pads short rows with empty strings. Default True.",
    "    merge_overflow: If True, merges extra tokens into the last column. Default True.",
    "    expected_columns: Optional explicit column count. If None, inferred automatically.",
    "    repair_quotes: If True, disambiguates and repairs stray internal quotes. Default True.",
])
PUBLIC_NAMES = ["vestle_file", "sniff", "open", "VestleSummary", "VestleReader"]


def test_version_and_doc():
    # The module carries the version the package is published under.
    pyproject = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
    with pyproject.open("rb") as f:
        assert vestle.__version__ == tomllib.load(f)["project"]["version"]
    assert type(vestle.__version__) is str
    assert vestle.__doc__ == MODULE_DOC


def test_all_lists_public_names_once_in_order():
    assert type(vestle.__all__) is list
    assert vestle.__all__ == PUBLIC_NAMES


def test_star_import_binds_exactly_the_public_names():
    namespace = {}
    exec("from _csv_vestle_backend import *", namespace)
    del namespace["__builtins__"]
    assert sorted(namespace) == sorted(PUBLIC_NAMES)
    assert namespace["open"] is vestle.open
    assert namespace["open"] is not builtins.open


@pytest.mark.parametrize("name", ["vestle_file", "sniff", "open"])
def test_functions_are_builtins_owned_by_the_module(name):
    function = getattr(vestle, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__module__ == "_csv_vestle_backend"
    assert function.__name__ == name
    assert function.__self__ is vestle


@pytest.mark.parametrize("name", ["VestleSummary", "VestleReader"])
def test_classes_live_in_builtins(name):
    cls = getattr(vestle, name)
    assert isinstance(cls, type)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("obj, signature, doc", [
    (vestle.sniff, "(sample)", "Detects the most likely delimiter from a CSV string sample."),
    (vestle.vestle_file, VESTLE_FILE_SIGNATURE, VESTLE_FILE_DOC),
    (vestle.open, READER_SIGNATURE, "Convenience function to open and stream a vestled CSV file."),
    (vestle.VestleReader, READER_SIGNATURE, "In-memory streaming reader iterating over vestled rows."),
    (vestle.VestleReader.__enter__, "($self)", None),
    (vestle.VestleReader.__exit__, "($self, _exc_type=None, _exc_val=None, _exc_tb=None)", None),
    (vestle.VestleSummary.to_dict, "($self)", "Converts the summary into a native Python dictionary."),
    (vestle.VestleSummary, None, "Python-exposed summary of a vestle operation."),
])
def test_signatures_and_docs(obj, signature, doc):
    assert obj.__text_signature__ == signature
    assert obj.__doc__ == doc


@pytest.mark.parametrize("function, required", [
    (vestle.vestle_file, ["input_path", "output_path"]),
    (vestle.open, ["file_path"]),
    (vestle.VestleReader, ["file_path"]),
    (vestle.sniff, ["sample"]),
])
def test_inspect_reads_signatures(function, required):
    parameters = inspect.signature(function).parameters
    empty = inspect.Parameter.empty
    assert [name for name, p in parameters.items() if p.default is empty] == required
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters.values())
    if "quote_char" in parameters:
        assert parameters["quote_char"].default == '"'
        assert parameters["fill_ragged_rows"].default is True
        assert parameters["expected_columns"].default is None


def test_second_module_object_gets_own_functions_and_shared_classes():
    spec = importlib.util.find_spec("_csv_vestle_backend")
    other = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(other)
    assert other.__all__ == PUBLIC_NAMES
    assert other.__all__ is not vestle.__all__
    assert other.sniff is not vestle.sniff
    assert other.sniff.__self__ is other
    # The classes are made once per process.
    assert other.VestleSummary is vestle.VestleSummary
    assert other.VestleReader is vestle.VestleReader
    assert other.sniff("a;b\n1;2\n") == ";"
