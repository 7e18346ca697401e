#!/usr/bin/env python3
"""Times repairing a folder of files: one after another, with threads, with processes.

Runs the code of examples/repair_many_threads.py and repair_many_processes.py.
Every measurement runs in a fresh child interpreter (the process pool's start
included); the modes take turns within every repetition and the table gives
medians, with the speed-up over the sequential run of the same interpreter.

    PYTHONPATH=build-perf /usr/bin/python3 bench/many_files_bench.py [--files 8]
        [--size 25] [--workers 2] [--repeat 5] [--dir /tmp/vestle-many]

Threads only run at the same time on a free-threaded interpreter (python3.13t),
where the module runs without the GIL; on an ordinary build they take turns.
"""

import argparse
import os
import statistics
import subprocess
import sys
import sysconfig
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "examples"))
import generate  # noqa: E402

MODES = ["sequential", "threads", "processes"]


def run_child(mode, input_folder, output_folder, workers):
    """Repairs the folder once in this (fresh) process; prints the seconds it took."""
    import _csv_vestle_backend as vestle
    import repair_many_processes
    import repair_many_threads

    sources = sorted(Path(input_folder).glob("*.csv"))
    output = Path(output_folder)
    start = time.perf_counter()
    if mode == "sequential":
        for source in sources:
            vestle.vestle_file(str(source), str(output / source.name),
                               str(output / f"{source.stem}.quarantine.csv"), merge_overflow=False)
    elif mode == "threads":
        repair_many_threads.repair_all(sources, output, workers)
    elif mode == "processes":
        repair_many_processes.repair_all(sources, output, workers)
    else:
        raise SystemExit(f"unknown mode {mode}")
    print(f"{time.perf_counter() - start:.6f}")


def measure(mode, input_folder, output_folder, workers):
    result = subprocess.run([sys.executable, __file__, "--child", mode, str(input_folder),
                             str(output_folder), str(workers)],
                            check=True, capture_output=True, text=True)
    return float(result.stdout)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        mode, input_folder, output_folder, workers = sys.argv[2:6]
        run_child(mode, input_folder, output_folder, int(workers))
        return
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--size", type=float, default=25, help="MB per file (default 25)")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--modes", default=",".join(MODES))
    parser.add_argument("--dir", default="/tmp/vestle-many")
    args = parser.parse_args()
    modes = args.modes.split(",")

    input_folder = Path(args.dir, f"in-{args.files}x{args.size:g}MB")
    input_folder.mkdir(parents=True, exist_ok=True)
    for index in range(args.files):
        path = input_folder / f"part{index:02}.csv"
        if not path.exists():
            print(f"generating {path}", file=sys.stderr)
            generate.generate("damaged", args.size, str(path), seed=1000 + index)
    output_folder = Path(args.dir, "out")
    output_folder.mkdir(exist_ok=True)
    total = sum(p.stat().st_size for p in input_folder.glob("*.csv")) / 1e6

    times = {mode: [] for mode in modes}
    for _ in range(args.repeat):
        for mode in modes:  # interleaved: each round runs every mode once
            times[mode].append(measure(mode, input_folder, output_folder, args.workers))

    free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    print(f"CPython {sys.version.split()[0]}{'t (free-threaded)' if free else ''}, "
          f"{os.cpu_count()} cores; {args.files} files, {total:.0f} MB in all; "
          f"{args.workers} workers; medians of {args.repeat}")
    print(f"{'mode':<12}{'median s':>10}{'MB/s':>9}{'speed-up':>10}")
    base = statistics.median(times["sequential"]) if "sequential" in times else None
    for mode, values in times.items():
        seconds = statistics.median(values)
        speedup = f"{base / seconds:.2f}x" if base else "-"
        print(f"{mode:<12}{seconds:>10.3f}{total / seconds:>9.0f}{speedup:>10}")


if __name__ == "__main__":
    main()
