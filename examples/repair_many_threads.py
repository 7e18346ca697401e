"""Repairs every *.csv file of a folder with a pool of threads.

On a free-threaded CPython (python3.13t and later) the module runs without the
global interpreter lock, so the threads repair files at the same time, one per
core. On an ordinary build a call holds the GIL until it returns, so threads
take turns: use repair_many_processes.py there.

    python3 examples/repair_many_threads.py INPUT_FOLDER OUTPUT_FOLDER [--workers N]

Each NAME.csv is repaired into OUTPUT_FOLDER/NAME.csv; rows with surplus fields
are set aside in OUTPUT_FOLDER/NAME.quarantine.csv. Prints each file's summary.
"""

import argparse
import os
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import _csv_vestle_backend as vestle


def repair_one(source: Path, output_folder: Path) -> dict:
    summary = vestle.vestle_file(str(source), str(output_folder / source.name),
                                 str(output_folder / f"{source.stem}.quarantine.csv"),
                                 merge_overflow=False)
    return summary.to_dict()


def repair_all(sources: list[Path], output_folder: Path, workers: int) -> dict[str, dict]:
    with ThreadPoolExecutor(max_workers=workers) as pool:
        results = pool.map(repair_one, sources, [output_folder] * len(sources))
        return {source.name: result for source, result in zip(sources, results)}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input_folder", type=Path)
    parser.add_argument("output_folder", type=Path)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    args = parser.parse_args()
    args.output_folder.mkdir(parents=True, exist_ok=True)
    sources = sorted(args.input_folder.glob("*.csv"))
    for name, counts in repair_all(sources, args.output_folder, args.workers).items():
        print(f"{name}: {counts}")


if __name__ == "__main__":
    main()
