#!/usr/bin/env python3
"""Whole-process time of vestle_file per kernel, against a plain copy.

Each repetition runs, in turn: a plain 1 MiB read/write copy of the file
(dd bs=1M), the engine of --before (an older build, when given), and the
engine of this build under each kernel the processor has; the order rotates
from one repetition to the next, so that none always follows the writes of
the same other. The table gives medians of the elapsed time, MB/s, the ratio
of each median to the copy's, and the median processor time (user + system).

    bench/kernel_bench.py --run build-perf/bench/vestle_file_run
        [--before OLD/bench/vestle_file_run] [--shapes clean,damaged]
        [--size 100] [--repeat 7] [--dir /tmp/vestle-kernel-bench]

Build the runner with -DCMAKE_BUILD_TYPE=Release -DVESTLE_BUILD_BENCH=ON
-DVESTLE_BUILD_TESTS=OFF -DVESTLE_BUILD_MODULE=OFF.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import generate  # noqa: E402

KERNELS = ["scalar", "sse2", "avx2", "avx512bw"]


def timed(command, output):
    """Elapsed and processor seconds of the command as a process; fails loudly if it fails."""
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{command} failed with status {status}")
    return elapsed, usage.ru_utime + usage.ru_stime


def supported(runner, kernel, scratch):
    """Whether the runner can force `kernel` on this processor (exit 77 if not)."""
    empty = os.path.join(scratch, "empty.csv")
    open(empty, "w").close()
    status = subprocess.run([runner, f"--kernel={kernel}", empty, empty + ".out"],
                            stderr=subprocess.DEVNULL).returncode
    return status == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--run", required=True, help="vestle_file_run of this build")
    parser.add_argument("--before", help="vestle_file_run of an older build, timed side by side")
    parser.add_argument("--shapes", default="clean,damaged")
    parser.add_argument("--size", type=float, default=100, help="file size in MB (default 100)")
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--dir", default="/tmp/vestle-kernel-bench")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    output = os.path.join(args.dir, "out.csv")

    contenders = {"plain copy (dd bs=1M)": None}
    if args.before:
        contenders["before: best kernel"] = [args.before]
    contenders["after: best kernel"] = [args.run]
    for kernel in KERNELS:
        if supported(args.run, kernel, args.dir):
            contenders[f"after: {kernel}"] = [args.run, f"--kernel={kernel}"]

    for shape in args.shapes.split(","):
        source = os.path.join(args.dir, f"{shape}-{args.size:g}MB.csv")
        if not os.path.exists(source):
            generate.generate(shape, args.size, source)
        size_mb = os.path.getsize(source) / 1e6
        times = {name: [] for name in contenders}
        cpu = {name: [] for name in contenders}
        names = list(contenders)
        for repetition in range(args.repeat):
            shift = repetition % len(names)
            for name in names[shift:] + names[:shift]:
                command = contenders[name]
                if command is None:
                    command = ["dd", f"if={source}", f"of={output}", "bs=1M", "status=none"]
                else:
                    command = command + [source, output]
                elapsed, processor = timed(command, output)
                times[name].append(elapsed)
                cpu[name].append(processor)
        copy = statistics.median(times["plain copy (dd bs=1M)"])
        print(f"\n{shape}, {size_mb:.0f} MB, medians of {args.repeat} interleaved runs")
        print(f"{'':28} {'seconds':>8} {'MB/s':>7} {'vs copy':>8} {'cpu s':>7}")
        for name in names:
            median = statistics.median(times[name])
            print(f"{name:28} {median:8.3f} {size_mb / median:7.0f} {median / copy:7.2f}x"
                  f" {statistics.median(cpu[name]):7.3f}")
        os.remove(output)


if __name__ == "__main__":
    main()
