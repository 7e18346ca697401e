"""Repairs a damaged CSV file and shows what was fixed and what was set aside."""

import sys
import tempfile
from pathlib import Path

import _csv_vestle_backend as vestle


def show(title: str, path: Path) -> None:
    print(f"--- {title}: {path}")
    sys.stdout.write(path.read_bytes().decode("utf-8", "backslashreplace"))
    print()


def main() -> None:
    source = Path(sys.argv[1] if len(sys.argv) > 1 else "data/damaged_sample.csv")
    show("damaged input", source)
    print("sniffed delimiter:", repr(vestle.sniff(source.read_bytes().decode("utf-8", "replace"))))

    with tempfile.TemporaryDirectory(prefix="vestle-demo-") as folder:
        repaired = Path(folder, "repaired.csv")
        quarantine = Path(folder, "quarantine.csv")
        # Pad short rows, but set aside rows with surplus fields for a person to look at.
        summary = vestle.vestle_file(str(source), str(repaired), str(quarantine),
                                     merge_overflow=False)
        print("summary:", summary)
        show("repaired file", repaired)
        show("quarantine file", quarantine)

    with vestle.open(str(source)) as reader:
        print(f"--- the same file read in memory ({len(reader)} rows, overflow merged):")
        for row in reader:
            print(row)


if __name__ == "__main__":
    main()
