"""Repairs the damaged CSV files in this folder: to new files, and in memory.

The samples: stray_quotes.csv (quotes inside quoted fields), ragged_rows.csv
(rows with too few and too many fields) and semicolon_latin1.csv (semicolons,
a UTF-8 byte-order mark, CR LF line ends and Latin-1 bytes).

Run from the repository root after building the module into build/:
    PYTHONPATH=build python3 examples/repair_example.py
or with csv-vestle installed by pip, simply: python3 examples/repair_example.py
"""

import tempfile
from pathlib import Path

import _csv_vestle_backend as vestle

HERE = Path(__file__).resolve().parent


def repair_into_files(folder: Path) -> None:
    source = HERE / "ragged_rows.csv"
    repaired = folder / "repaired.csv"
    quarantine = folder / "quarantine.csv"
    # Short rows are padded; rows with surplus fields are set aside for a person
    # to look at instead of being folded into the last column.
    summary = vestle.vestle_file(str(source), str(repaired), str(quarantine),
                                 merge_overflow=False)
    print(f"== {source.name}: {summary}")
    print(repaired.read_text(encoding="utf-8"), end="")
    print("-- set aside:")
    print(quarantine.read_text(encoding="utf-8"))


def read_in_memory(name: str) -> None:
    # The delimiter and the column count are guessed; each row comes back as a list of str.
    with vestle.open(str(HERE / name)) as reader:
        print(f"== {name}: {len(reader)} rows")
        for row in reader:
            print(row)
        counts = reader.summary.to_dict()
    print(counts, end="\n\n")


def main() -> None:
    with tempfile.TemporaryDirectory(prefix="vestle-example-") as folder:
        repair_into_files(Path(folder))
    read_in_memory("stray_quotes.csv")
    read_in_memory("semicolon_latin1.csv")
    print("sniffed:", repr(vestle.sniff("a|b|c\n1|2|3\n")))


if __name__ == "__main__":
    main()
