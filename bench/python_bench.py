#!/usr/bin/env python3
"""Times the module against Python's csv module and a plain file copy.

Every measurement runs in a fresh child interpreter, so each one reports its
own peak RSS (VmHWM); the contenders take turns within every repetition, and
the table gives medians.

    PYTHONPATH=build-perf /usr/bin/python3 bench/python_bench.py [--size 100]
        [--shapes clean,damaged] [--repeat 5] [--dir /tmp/vestle-bench] [--baseline DIR]

A shape may carry its own size in MB: --shapes clean:100,unclosed:1000.

Contenders on each file:
  vestle_file    _csv_vestle_backend.vestle_file(input, output)
  vestle_quarantine  the same with a quarantine file, rows of the wrong width set aside
  vestle_set_aside   expected_columns=5 and no repair: rows of any other width go to a quarantine file
  vestle_merge   expected_columns=5: longer rows are merged into the fifth column
  vestle_pipe    vestle_file("/dev/stdin", output) with the file as standard input
  baseline_file  vestle_file of the module found in --baseline (an older build, side by side);
                 baseline_set_aside and baseline_pipe likewise
  csv_roundtrip  csv.writer(out).writerows(csv.reader(input))
  plain_copy     read the whole file as bytes, write the bytes out
  vestle_reader  for row in _csv_vestle_backend.open(input): pass  (construction and iteration)
  baseline_reader  the same, of the module found in --baseline
  csv_reader     for row in csv.reader(input): pass
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

CONTENDERS = ["vestle_file", "csv_roundtrip", "plain_copy", "vestle_reader", "csv_reader"]
HOSTILE = ["onerow", "blanklines", "unclosed", "quotestorm", "bigfields", "wide"]


def peak_rss_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def run_child(contender, source, target):
    """Runs one contender in this (fresh) process; prints seconds and peak RSS."""
    if contender.startswith("baseline_"):  # the same call, of the module on PYTHONPATH
        contender = "vestle_" + contender.removeprefix("baseline_")
    if contender.startswith("vestle"):
        import _csv_vestle_backend as backend
    import csv
    start = time.perf_counter()
    if contender == "vestle_file":
        backend.vestle_file(source, target)
    elif contender == "vestle_quarantine":
        backend.vestle_file(source, target, target + ".quarantine", expected_columns=12,
                            fill_ragged_rows=False, merge_overflow=False)
    elif contender == "vestle_set_aside":
        backend.vestle_file(source, target, target + ".quarantine", expected_columns=5,
                            fill_ragged_rows=False, merge_overflow=False)
    elif contender == "vestle_merge":
        backend.vestle_file(source, target, expected_columns=5)
    elif contender == "vestle_pipe":
        backend.vestle_file("/dev/stdin", target)
    elif contender == "csv_roundtrip":
        with open(source, newline="") as src, open(target, "w", newline="") as dst:
            csv.writer(dst, lineterminator="\n").writerows(csv.reader(src))
    elif contender == "plain_copy":
        with open(source, "rb") as src:
            data = src.read()
        with open(target, "wb") as dst:
            dst.write(data)
        del data
    elif contender == "vestle_reader":
        rows = 0
        for _row in backend.open(source):
            rows += 1
        assert rows > 0
    elif contender == "csv_reader":
        rows = 0
        with open(source, newline="") as src:
            for _row in csv.reader(src):
                rows += 1
        assert rows > 0
    else:
        raise SystemExit(f"unknown contender {contender}")
    elapsed = time.perf_counter() - start
    print(f"{elapsed:.6f} {peak_rss_bytes()}")


BASELINE = None  # module directory of an older build, for the baseline_file contender


def measure(contender, source, target):
    env = dict(os.environ)
    if contender.startswith("baseline_"):
        env["PYTHONPATH"] = BASELINE
    # The pipe contender reads the file through a pipe, not from the file.
    feed = subprocess.Popen(["cat", source], stdout=subprocess.PIPE) \
        if contender.endswith("_pipe") else None
    result = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", contender,
                             source, target], check=True, capture_output=True, text=True,
                            env=env, stdin=feed.stdout if feed else None)
    if feed:
        feed.stdout.close()
        feed.wait()
    seconds, rss = result.stdout.split()
    return float(seconds), int(rss)


def ensure_file(directory, shape, size_mb):
    path = os.path.join(directory, f"{shape}-{size_mb:g}MB.csv")
    if not os.path.exists(path):
        print(f"generating {path}", file=sys.stderr)
        generate.generate(shape, size_mb, path)
    return path


def bench_file(path, contenders, repeat, out_path):
    times = {c: [] for c in contenders}
    rss = {c: [] for c in contenders}
    for _ in range(repeat):
        for contender in contenders:  # interleaved: each round runs every contender once
            seconds, peak = measure(contender, path, out_path)
            times[contender].append(seconds)
            rss[contender].append(peak)
    for leftover in (out_path, out_path + ".quarantine"):
        if os.path.exists(leftover):
            os.unlink(leftover)
    return ({c: statistics.median(v) for c, v in times.items()},
            {c: max(v) for c, v in rss.items()})


def report(label, size, times, rss):
    mb = size / 1e6
    print(f"\n== {label}: {mb:.1f} MB")
    print(f"{'contender':<19}{'median s':>10}{'MB/s':>9}{'peak RSS MB':>13}{'RSS/input':>11}")
    for contender, seconds in times.items():
        print(f"{contender:<19}{seconds:>10.3f}{mb / seconds:>9.1f}"
              f"{rss[contender] / 1e6:>13.1f}{rss[contender] / size:>11.2f}")
    ratios = []
    if "vestle_file" in times and "csv_roundtrip" in times:
        ratios.append(("csv_roundtrip / vestle_file (speed-up)",
                       times["csv_roundtrip"] / times["vestle_file"]))
    if "vestle_file" in times and "baseline_file" in times:
        ratios.append(("baseline_file / vestle_file (speed-up)",
                       times["baseline_file"] / times["vestle_file"]))
    if "vestle_file" in times and "plain_copy" in times:
        ratios.append(("vestle_file / plain_copy (time)", times["vestle_file"] / times["plain_copy"]))
    if "vestle_reader" in times and "csv_reader" in times:
        ratios.append(("vestle_reader / csv_reader (time)",
                       times["vestle_reader"] / times["csv_reader"]))
        ratios.append(("vestle_reader / csv_reader (peak RSS)",
                       rss["vestle_reader"] / rss["csv_reader"]))
    if "baseline_reader" in times and "csv_reader" in times:
        ratios.append(("baseline_reader / csv_reader (time)",
                       times["baseline_reader"] / times["csv_reader"]))
    for name, value in ratios:
        print(f"  {name:<42}{value:>7.2f}")


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--child":
        run_child(*sys.argv[2:])
        return 0
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=float, default=100, help="file size in MB (default 100)")
    parser.add_argument("--shapes", default="clean,damaged",
                        help="comma-separated shapes of generate.py, or 'hostile'")
    parser.add_argument("--contenders", default=",".join(CONTENDERS))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--dir", default="/tmp/vestle-bench")
    parser.add_argument("--delete", action="store_true", help="delete generated inputs afterwards")
    parser.add_argument("--baseline", help="directory of an older build of the module")
    args = parser.parse_args()
    global BASELINE
    BASELINE = os.path.abspath(args.baseline) if args.baseline else None

    os.makedirs(args.dir, exist_ok=True)
    shapes = HOSTILE if args.shapes == "hostile" else args.shapes.split(",")
    contenders = args.contenders.split(",")
    print(f"python {sys.version.split()[0]}, {args.repeat} runs each, medians")
    per_mb = {}
    for shape in shapes:
        shape, _, size_mb = shape.partition(":")
        path = ensure_file(args.dir, shape, float(size_mb) if size_mb else args.size)
        times, rss = bench_file(path, contenders, args.repeat, path + ".out")
        size = os.path.getsize(path)
        report(shape, size, times, rss)
        for contender in times:
            if contender.startswith(("vestle", "baseline")) and not contender.endswith("_reader"):
                label = shape if contender == "vestle_file" else f"{shape} ({contender})"
                per_mb[label] = times[contender] / (size / 1e6)
        if args.delete:
            os.unlink(path)
    if len(per_mb) > 1:
        base = per_mb.get("clean", min(per_mb.values()))
        print("\nvestle_file seconds per MB, relative to clean:")
        for shape, value in per_mb.items():
            print(f"  {shape:<32}{value * 1e3:>8.2f} ms/MB {value / base:>6.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
