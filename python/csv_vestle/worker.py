"""What runs in the worker processes: the repair of one file, and the feeder that copies an input
into a pipe (from standard input, or transcoded to UTF-8) for the repair to read.

Each function returns its outcome instead of raising, so that the command can report it by file.
"""

from __future__ import annotations

import codecs
import os
import shutil
from dataclasses import dataclass
from typing import Literal, Union

import _csv_vestle_backend as vestle

CHUNK_SIZE = 1 << 18
STANDARD_STREAM = "-"

# The summary's to_dict(): six counts and the delimiter, by name.
Counts = dict[str, object]
Outcome = Union[tuple[Literal["repaired"], Counts], tuple[Literal["fed"], None],
                tuple[Literal["failed"], str]]


@dataclass(frozen=True)
class RepairOptions:
    """The parameters of vestle_file that the command passes through unchanged."""

    delimiter: str | None = None
    quote_char: str = '"'
    fill_ragged_rows: bool = True
    merge_overflow: bool = True
    expected_columns: int | None = None
    repair_quotes: bool = True


@dataclass(frozen=True)
class RepairTask:
    """One call of vestle_file as a worker makes it."""

    shown_input: str
    # A path the worker opens, or a descriptor it inherited (the read end of a feeder's pipe).
    source: str | int
    output: str
    quarantine: str | None
    # A finished output that the worker then copies to its standard output.
    copy_to_stdout: str | None
    options: RepairOptions


def shown_name(path: str) -> str:
    return "standard input" if path == STANDARD_STREAM else path


def repair(task: RepairTask) -> Outcome:
    if isinstance(task.source, int):
        source_fd = task.source
    else:
        # Opened here, not by the module, so that an error names the input and not another file.
        try:
            source_fd = os.open(task.source, os.O_RDONLY | os.O_CLOEXEC)
        except OSError as error:
            return "failed", f"{task.shown_input}: {error.strerror}"
    try:
        options = task.options
        summary = vestle.vestle_file(
            f"/dev/fd/{source_fd}", task.output, task.quarantine,
            delimiter=options.delimiter, quote_char=options.quote_char,
            fill_ragged_rows=options.fill_ragged_rows, merge_overflow=options.merge_overflow,
            expected_columns=options.expected_columns, repair_quotes=options.repair_quotes)
    except (OSError, MemoryError) as error:
        return "failed", f"{task.shown_input}: {str(error) or 'out of memory'}"
    finally:
        os.close(source_fd)
    if task.copy_to_stdout is not None:
        try:
            with open(task.copy_to_stdout, "rb") as repaired, open(1, "wb", closefd=False) as stdout:
                shutil.copyfileobj(repaired, stdout, CHUNK_SIZE)
        except OSError as error:
            return "failed", f"standard output: {error.strerror}"
    return "repaired", dict(summary.to_dict())


def feed(source: str, encoding: str | None, pipe_fd: int) -> Outcome:
    """Copies source (a path, or "-" for standard input) into pipe_fd, decoded from encoding to
    UTF-8 when given, a chunk at a time; closes pipe_fd, which ends the repair's input."""
    try:
        return _feed(source, encoding, pipe_fd)
    finally:
        os.close(pipe_fd)


def _feed(source: str, encoding: str | None, pipe_fd: int) -> Outcome:
    try:
        source_fd = 0 if source == STANDARD_STREAM else os.open(source, os.O_RDONLY | os.O_CLOEXEC)
    except OSError as error:
        return "failed", f"{source}: {error.strerror}"
    # Undecodable bytes become U+FFFD, as the module does with bytes that are not UTF-8.
    decoder = codecs.getincrementaldecoder(encoding)("replace") if encoding else None
    try:
        while True:
            try:
                data = os.read(source_fd, CHUNK_SIZE)
            except OSError as error:
                return "failed", f"{shown_name(source)}: {error.strerror}"
            at_end = not data
            if decoder is not None:
                data = decoder.decode(data, final=at_end).encode("utf-8", "replace")
            try:
                _write_all(pipe_fd, data)
            except BrokenPipeError:
                # The repair stopped reading: it failed, and its own outcome says why.
                return "fed", None
            if at_end:
                return "fed", None
    finally:
        if source_fd != 0:
            os.close(source_fd)


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]
