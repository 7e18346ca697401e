"""Repeated calls on success and error paths must not leak references or memory."""

import gc
import os
import sys
import tracemalloc

import pytest

import _csv_vestle_backend as vestle


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def python_growth(call, rounds=100, batches=8):
    """Smallest growth over several batches of `rounds` calls, with the bound it must stay under.

    Counts total references on debug builds, traced Python memory otherwise.
    Caches and free lists settle after a batch or two, while a real leak grows
    every batch, so the smallest batch is the one to judge.
    """
    # Free-threaded builds fill per-thread caches over the first few hundred calls.
    for _ in range(600):
        call()
    counting = hasattr(sys, "gettotalrefcount")
    measure = sys.gettotalrefcount if counting else (lambda: tracemalloc.get_traced_memory()[0])
    if not counting:
        tracemalloc.start()
    try:
        growth = []
        for _ in range(batches):
            gc.collect()
            before = measure()
            for _ in range(rounds):
                call()
            gc.collect()
            growth.append(measure() - before)
    finally:
        if not counting:
            tracemalloc.stop()
    # A leaked object per call costs at least 16 bytes, or one reference.
    return min(growth), (rounds // 4 if counting else rounds * 8)


def swallow(call, error):
    def run():
        try:
            call()
        except error:
            pass
    return run


@pytest.fixture
def paths(write_file, out_paths):
    return {
        "input": write_file(b'a,b,c\n1,"x"y",3\n4,5\n6,7,8,9\n'),
        "output": out_paths[0],
        "quarantine": out_paths[1],
        "missing": out_paths[0] + ".missing",
    }


CALLS = {
    "sniff": lambda p: vestle.sniff("a;b\n1;2\n"),
    "sniff binding error": lambda p: swallow(lambda: vestle.sniff(), TypeError)(),
    "vestle_file": lambda p: _fresh_vestle_file(p),
    "vestle_file missing input": lambda p: swallow(
        lambda: vestle.vestle_file(p["missing"], p["output"]), OSError)(),
    "vestle_file conversion error": lambda p: swallow(
        lambda: vestle.vestle_file(p["input"], p["output"], expected_columns=-1), OverflowError)(),
    "vestle_file bad keyword": lambda p: swallow(
        lambda: vestle.vestle_file(p["input"], p["output"], nope=1), TypeError)(),
    "open and iterate": lambda p: [row for row in vestle.open(p["input"])],
    "class with keywords": lambda p: len(vestle.VestleReader(file_path=p["input"], delimiter=",")),
    "open missing": lambda p: swallow(lambda: vestle.open(p["missing"]), FileNotFoundError)(),
    "reader conversion error": lambda p: swallow(
        lambda: vestle.VestleReader(p["input"], quote_char=None), TypeError)(),
    "summary and context manager": lambda p: _use_reader(vestle.open(p["input"])),
}


def _fresh_vestle_file(p):
    # Each call writes fresh output files.
    for name in ("output", "quarantine"):
        if os.path.exists(p[name]):
            os.remove(p[name])
    return vestle.vestle_file(p["input"], p["output"], p["quarantine"]).to_dict()


def _use_reader(reader):
    with reader as bound:
        summary = bound.summary
        repr(summary), summary.to_dict(), summary.detected_delimiter
    reader.__exit__(None, None, _exc_tb=None)


@pytest.mark.parametrize("name", list(CALLS))
def test_no_python_level_leak(paths, name):
    call = CALLS[name]
    growth, bound = python_growth(lambda: call(paths))
    assert growth < bound


def test_no_native_memory_leak(write_file):
    # About 2 MB of rows per reader: leaking the rows of 30 readers would be obvious.
    path = write_file(b"alpha,beta,gamma,delta\n" * 90000)
    for _ in range(3):
        list(vestle.open(path))
    before = resident_bytes()
    for _ in range(15):
        reader = vestle.open(path)
        next(reader)
        del reader
    assert resident_bytes() - before < 24 << 20
