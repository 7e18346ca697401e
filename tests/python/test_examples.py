"""The examples that repair many files (threads, processes, dask) give the results of a sequential run."""

import ast
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import _csv_vestle_backend as vestle

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# Each file shows another damage, so a mix-up between files changes some result.
FILES = {
    "orders.csv": "id,item,qty\n" + "".join(
        f'{i},"box "{i}" big",{i % 7}' + (",extra" if i % 5 == 0 else "") + "\n" for i in range(300)),
    "short.csv": "a,b,c,d\n" + "".join(f"{i},x\n" if i % 3 else f"{i},x,y,z\n" for i in range(200)),
    "semicolons.csv": "name;city;amount\n" + "".join(f"n{i};c{i};{i},50\n" for i in range(150)),
    "latin1.csv": b"\xef\xbb\xbfname,city\r\nJos\xe9,M\xfcnchen\r\nZo\xe9,Gen\xe8ve,CH\r\n",
    "unclosed.csv": 'x,y\n1,"never closed\n2,3\n',
    "empty.csv": "",
}


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("inputs")
    for name, content in FILES.items():
        (folder / name).write_bytes(content.encode() if isinstance(content, str) else content)
    return folder


@pytest.fixture(scope="module")
def sequential(inputs, tmp_path_factory):
    """Summaries and output bytes of repairing the files one after another on this thread."""
    out = tmp_path_factory.mktemp("sequential")
    summaries = {}
    for source in sorted(inputs.glob("*.csv")):
        summaries[source.name] = vestle.vestle_file(
            str(source), str(out / source.name), str(out / f"{source.stem}.quarantine.csv"),
            merge_overflow=False).to_dict()
    return summaries, {p.name: p.read_bytes() for p in out.iterdir()}


def run_example(script, inputs, out, *extra):
    completed = subprocess.run(
        [sys.executable, str(EXAMPLES / script), str(inputs), str(out), *extra],
        capture_output=True, text=True, timeout=300, env=os.environ.copy())
    assert completed.returncode == 0, completed.stderr
    printed = {}
    for line in completed.stdout.splitlines():
        name, _, counts = line.partition(": ")
        printed[name] = ast.literal_eval(counts)
    return printed


@pytest.mark.parametrize("script, extra", [
    ("repair_many_threads.py", ["--workers", "4"]),
    ("repair_many_processes.py", ["--workers", "2"]),
    pytest.param("repair_many_dask.py", ["--workers", "2"], marks=pytest.mark.skipif(
        importlib.util.find_spec("distributed") is None,
        reason="dask.distributed is not installed (Debian: python3-distributed)")),
])
def test_example_matches_a_sequential_run(script, extra, inputs, sequential, tmp_path):
    summaries, files = sequential
    out = tmp_path / "out"
    printed = run_example(script, inputs, out, *extra)
    assert list(printed) == sorted(FILES)
    assert printed == summaries
    assert {p.name: p.read_bytes() for p in out.iterdir()} == files


def test_summary_crosses_boundaries_only_as_a_dict(inputs, tmp_path):
    import pickle

    summary = vestle.vestle_file(str(inputs / "orders.csv"), str(tmp_path / "out.csv"))
    with pytest.raises(TypeError):
        pickle.dumps(summary)
    assert pickle.loads(pickle.dumps(summary.to_dict())) == summary.to_dict()
