# Type stubs for the native _csv_vestle_backend module; tests/python/test_stubs.py keeps them in step with it.

from collections.abc import Iterator
from types import TracebackType
from typing import Literal, SupportsIndex, TypedDict, final

__version__: str
__all__ = ["vestle_file", "sniff", "open", "VestleSummary", "VestleReader"]

class _SummaryDict(TypedDict):
    total_rows: int
    vestled_rows: int
    repaired_rows: int
    quarantined_rows: int
    detected_delimiter: str
    inferred_columns: int

@final
class VestleSummary:
    """Python-exposed summary of a vestle operation."""

    @property
    def total_rows(self) -> int: ...
    @property
    def vestled_rows(self) -> int: ...
    @property
    def repaired_rows(self) -> int: ...
    @property
    def quarantined_rows(self) -> int: ...
    @property
    def detected_delimiter(self) -> str: ...
    @property
    def inferred_columns(self) -> int: ...
    def to_dict(self) -> _SummaryDict:
        """Converts the summary into a native Python dictionary."""
    def __repr__(self) -> str: ...

@final
class VestleReader(Iterator[list[str]]):
    """In-memory streaming reader iterating over vestled rows."""

    def __new__(
        cls,
        file_path: str,
        delimiter: str | None = None,
        quote_char: str = '"',
        fill_ragged_rows: bool = True,
        merge_overflow: bool = True,
        expected_columns: SupportsIndex | None = None,
        repair_quotes: bool = True,
    ) -> VestleReader: ...
    @property
    def summary(self) -> VestleSummary: ...
    def __enter__(self) -> VestleReader: ...
    # Returns False: an exception raised in the with block always propagates.
    def __exit__(
        self,
        _exc_type: type[BaseException] | None = None,
        _exc_val: BaseException | None = None,
        _exc_tb: TracebackType | None = None,
    ) -> Literal[False]: ...
    def __iter__(self) -> VestleReader: ...
    def __next__(self) -> list[str]: ...
    def __len__(self) -> int: ...

def vestle_file(
    input_path: str,
    output_path: str,
    quarantine_path: str | None = None,
    delimiter: str | None = None,
    quote_char: str = '"',
    fill_ragged_rows: bool = True,
    merge_overflow: bool = True,
    expected_columns: SupportsIndex | None = None,
    repair_quotes: bool = True,
) -> VestleSummary:
    """Vestles a corrupted CSV file and writes a clean, standard RFC-4180 file."""

def sniff(sample: str) -> str:
    """Detects the most likely delimiter from a CSV string sample."""

def open(
    file_path: str,
    delimiter: str | None = None,
    quote_char: str = '"',
    fill_ragged_rows: bool = True,
    merge_overflow: bool = True,
    expected_columns: SupportsIndex | None = None,
    repair_quotes: bool = True,
) -> VestleReader:
    """Convenience function to open and stream a vestled CSV file."""
