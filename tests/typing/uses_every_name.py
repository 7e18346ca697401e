"""Uses every function, class and attribute of _csv_vestle_backend with the types its stubs promise.

Type-checked with `mypy --strict` against the installed package (scripts/test-typing.sh),
then run, so the program is known to be right at run time too.
"""

import tempfile
from pathlib import Path
from typing import Literal, assert_type

import _csv_vestle_backend as vestle
from _csv_vestle_backend import VestleReader, VestleSummary


def check_summary(summary: VestleSummary) -> int:
    assert_type(summary.total_rows, int)
    assert_type(summary.vestled_rows, int)
    assert_type(summary.repaired_rows, int)
    assert_type(summary.quarantined_rows, int)
    assert_type(summary.detected_delimiter, str)
    assert_type(summary.inferred_columns, int)
    as_dict = summary.to_dict()
    assert_type(as_dict["total_rows"], int)
    assert_type(as_dict["vestled_rows"], int)
    assert_type(as_dict["repaired_rows"], int)
    assert_type(as_dict["quarantined_rows"], int)
    assert_type(as_dict["detected_delimiter"], str)
    assert_type(as_dict["inferred_columns"], int)
    assert_type(repr(summary), str)
    return as_dict["vestled_rows"]


def main() -> None:
    assert_type(vestle.__version__, str)
    assert_type(vestle.__all__, list[str])
    assert_type(vestle.sniff("a;b\n1;2\n"), str)

    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder, "in.csv")
        source.write_text("a,b,c\n1,2\n3,4,5,6\n", encoding="utf-8")
        summary = vestle.vestle_file(str(source), str(Path(folder, "out.csv")),
                                     quarantine_path=str(Path(folder, "q.csv")), delimiter=None,
                                     quote_char='"', fill_ragged_rows=True, merge_overflow=False,
                                     expected_columns=3, repair_quotes=True)
        assert_type(summary, VestleSummary)
        kept = check_summary(summary)

        with vestle.open(str(source), delimiter=",", expected_columns=None) as reader:
            assert_type(reader, VestleReader)
            assert_type(len(reader), int)
            assert_type(reader.summary, VestleSummary)
            assert_type(next(reader), list[str])
            rows: list[list[str]] = [row for row in reader]

        made = VestleReader(str(source), ",", '"', True, True, 3, True)
        assert_type(iter(made), VestleReader)
        assert_type(made.__exit__(None, None, None), Literal[False])
        assert_type(list(made), list[list[str]])
    print(kept, rows, made.summary)


if __name__ == "__main__":
    main()
