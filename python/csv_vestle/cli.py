"""The command line of csv-vestle: its arguments, the files they name, and what it reports."""

from __future__ import annotations

import argparse
import codecs
import json
import os
import signal
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from types import FrameType

import _csv_vestle_backend as vestle

from csv_vestle.progress import Progress
from csv_vestle.runner import RepairJob, run_jobs
from csv_vestle.worker import STANDARD_STREAM, Counts, RepairOptions, shown_name

PROG = "csv-vestle"
EXIT_FAILED = 1
EXIT_INTERRUPTED = 128 + signal.SIGINT
EXIT_TERMINATED = 128 + signal.SIGTERM


def _single_character(value: str) -> str:
    """The value of --delimiter or --quote-char: one ASCII character; \\t stands for a tab."""
    character = "\t" if value == "\\t" else value
    if len(character) != 1 or not character.isascii() or character in "\r\n":
        raise argparse.ArgumentTypeError(
            f"must be one ASCII character other than a line break (or \\t), got {value!r}")
    return character


def _count(minimum: int) -> Callable[[str], int]:
    """A checker for a whole number from minimum up to the largest size the module takes."""

    def check(value: str) -> int:
        try:
            number = int(value)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {value!r}") from None
        if number < minimum:
            raise argparse.ArgumentTypeError(f"must be {minimum} or more, got {number}")
        if number > sys.maxsize:
            raise argparse.ArgumentTypeError(f"must be at most {sys.maxsize}, got {number}")
        return number

    return check


def _text_encoding(name: str) -> str:
    try:
        decoder = codecs.getincrementaldecoder(name)()
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding: {name!r}") from None
    try:
        is_text = isinstance(decoder.decode(b"", final=True), str)
    except (TypeError, ValueError):
        is_text = False
    if not is_text:
        raise argparse.ArgumentTypeError(f"not a text encoding: {name!r}")
    return name


def _cpu_count() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Repair damaged CSV files: stray quotes, ragged rows, unknown delimiters, "
                    "bytes that are not UTF-8. Writes standard CSV (UTF-8, LF line ends).",
        epilog="Exit status: 0 when every file was repaired, 1 when any failed, 2 for a usage "
               "error, 130 after Ctrl-C. Outputs appear whole or not at all: each is written to a "
               "temporary file beside it and renamed when its repair succeeded.")
    parser.add_argument("inputs", nargs="+", metavar="INPUT",
                        help="CSV file to repair; - reads standard input")
    parser.add_argument("--version", action="version", version=f"%(prog)s {vestle.__version__}")

    one = parser.add_argument_group("one file")
    one.add_argument("-o", "--output", metavar="OUTPUT",
                     help="repaired file, or - for standard output (the default); may be INPUT itself")
    one.add_argument("-q", "--quarantine", metavar="QUARANTINE",
                     help="file for the rows set aside: line number, reason and content")

    many = parser.add_argument_group("many files")
    many.add_argument("--output-dir", metavar="DIR",
                      help="folder for the repaired files, each named as its input (created when missing)")
    many.add_argument("--quarantine-dir", metavar="DIR",
                      help="folder for the quarantine files, each named as its input")
    many.add_argument("-j", "--jobs", type=_count(1), default=_cpu_count(), metavar="N",
                      help="files repaired at once, each in its own process "
                           "(default: the number of CPUs, %(default)s here)")

    repair = parser.add_argument_group("repair")
    repair.add_argument("--delimiter", type=_single_character, metavar="CHAR",
                        help=r"field delimiter, or \t for a tab (default: guessed among , ; tab |)")
    repair.add_argument("--quote-char", type=_single_character, default='"',
                        metavar="CHAR", help='quote character (default: ")')
    repair.add_argument("--no-fill", dest="fill_ragged_rows", action="store_false",
                        help="set rows with too few fields aside instead of padding them")
    repair.add_argument("--no-merge", dest="merge_overflow", action="store_false",
                        help="set rows with too many fields aside instead of joining the extra "
                             "fields into the last column")
    repair.add_argument("--columns", dest="expected_columns", type=_count(0), metavar="N",
                        help="expected number of columns; 0 keeps every row as parsed "
                             "(default: the most frequent count of the first 100 rows)")
    repair.add_argument("--no-quote-repair", dest="repair_quotes", action="store_false",
                        help="do not keep a stray quote inside a quoted field as a literal quote")
    repair.add_argument("--encoding", type=_text_encoding, metavar="ENC",
                        help="encoding of the input (e.g. cp1252, latin-1, utf-16), transcoded to "
                             "UTF-8 as it is read (default: UTF-8; bytes that are not become U+FFFD)")

    report = parser.add_argument_group("report")
    report.add_argument("--json", action="store_true",
                        help="write each file's summary to standard error as one JSON object a line")
    report.add_argument("--quiet", action="store_true",
                        help="no progress bar and no summary lines (errors and --json still appear)")
    return parser


def plan_jobs(args: argparse.Namespace, parser: argparse.ArgumentParser) -> list[RepairJob]:
    """The files to repair, or a usage error (which exits)."""
    if args.delimiter is not None and args.delimiter == args.quote_char:
        parser.error("--delimiter and --quote-char must differ")
    if args.output_dir is None:
        if len(args.inputs) > 1:
            parser.error("several inputs need --output-dir")
        if args.quarantine_dir is not None:
            parser.error("--quarantine-dir goes with --output-dir; for one file use -q")
        output = args.output or STANDARD_STREAM
        if output == STANDARD_STREAM and args.quarantine == STANDARD_STREAM:
            parser.error("the output and the quarantine cannot both go to standard output")
        return [RepairJob(args.inputs[0], output, args.quarantine)]

    if args.output is not None or args.quarantine is not None:
        parser.error("with --output-dir, name no -o/--output or -q/--quarantine "
                     "(use --quarantine-dir)")
    if STANDARD_STREAM in args.inputs:
        parser.error("standard input has no name to write under --output-dir: use -o")
    if args.quarantine_dir is not None and (
            os.path.realpath(args.quarantine_dir) == os.path.realpath(args.output_dir)):
        parser.error("--quarantine-dir must differ from --output-dir (files keep their names)")
    jobs: list[RepairJob] = []
    first_input_of: dict[str, str] = {}
    for source in args.inputs:
        name = Path(source).name
        if not name or name == "..":
            parser.error(f"not a file name: {source!r}")
        if name in first_input_of:
            parser.error(f"{first_input_of[name]!r} and {source!r} would both be written as {name!r}")
        first_input_of[name] = source
        quarantine = os.path.join(args.quarantine_dir, name) if args.quarantine_dir else None
        jobs.append(RepairJob(source, os.path.join(args.output_dir, name), quarantine))
    return jobs


class Reporter:
    """Each file's outcome on standard error: a summary line, or one JSON object with --json."""

    def __init__(self, progress: Progress, as_json: bool, quiet: bool) -> None:
        self.progress = progress
        self.as_json = as_json
        self.quiet = quiet

    def error(self, message: str) -> None:
        self.progress.write(f"{PROG}: error: {message}")

    def __call__(self, job: RepairJob, result: Counts | str) -> None:
        if self.as_json:
            record: dict[str, object] = {
                "input": job.input, "output": job.output, "quarantine": job.quarantine}
            if isinstance(result, str):
                record["error"] = result
            else:
                record.update(result)
            self.progress.write(json.dumps(record, ensure_ascii=False))
        elif isinstance(result, str):
            self.error(result)
        elif not self.quiet:
            self.progress.write(
                f"{shown_name(job.input)}: {result['total_rows']} rows read, "
                f"{result['vestled_rows']} written ({result['repaired_rows']} repaired), "
                f"{result['quarantined_rows']} set aside; delimiter {result['detected_delimiter']!r}, "
                f"{result['inferred_columns']} columns")


class _Terminated(Exception):
    """SIGTERM, turned into an exception so that the workers are ended and temporaries removed."""


def _raise_terminated(_signum: int, _frame: FrameType | None) -> None:
    raise _Terminated


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    jobs = plan_jobs(args, parser)
    options = RepairOptions(
        delimiter=args.delimiter, quote_char=args.quote_char,
        fill_ragged_rows=args.fill_ragged_rows, merge_overflow=args.merge_overflow,
        expected_columns=args.expected_columns, repair_quotes=args.repair_quotes)
    progress = Progress(wanted=not args.quiet and sys.stderr.isatty())
    reporter = Reporter(progress, as_json=args.json, quiet=args.quiet)

    for folder in (args.output_dir, args.quarantine_dir):
        if folder is not None:
            try:
                os.makedirs(folder, exist_ok=True)
            except OSError as error:
                reporter.error(f"{folder}: {error.strerror}")
                return EXIT_FAILED

    previous_sigterm = signal.signal(signal.SIGTERM, _raise_terminated)
    try:
        failed = run_jobs(jobs, options, args.encoding, args.jobs, progress, reporter)
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except _Terminated:
        return EXIT_TERMINATED
    finally:
        signal.signal(signal.SIGTERM, previous_sigterm)
    return EXIT_FAILED if failed else 0
