"""The csv-vestle command, run as a user runs it: its own process, files and streams in and out."""

import importlib.util
import json
import os
import signal
import stat
import subprocess
import sys
import time

import pytest

import _csv_vestle_backend as vestle

if importlib.util.find_spec("csv_vestle") is None:
    raise ImportError("csv_vestle cannot be imported: put the repository's python/ folder on "
                      "PYTHONPATH next to the module's build folder (scripts/test.sh does)")

DAMAGED = ('id,name,note\n1,"Bob "the builder" Smith",stray quotes\n2,Carol\n'
           "3,Dave,\"has, a comma\",extra field\n4,'quoted; text',x\n")
ACCENTED = "name;city\r\nJosé;München\r\nZoë;Genève;CH\r\n"


def command(*args):
    return [sys.executable, "-m", "csv_vestle", *map(str, args)]


def run(*args, stdin=b"", **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    return subprocess.run(command(*args), input=stdin, stderr=subprocess.PIPE, timeout=120, **kwargs)


def json_lines(stderr):
    return [json.loads(line) for line in stderr.decode().splitlines()]


@pytest.mark.parametrize("flags, options", [
    ([], {}),
    (["--no-merge", "--no-fill"], {"merge_overflow": False, "fill_ragged_rows": False}),
    (["--columns", "2", "--no-quote-repair"], {"expected_columns": 2, "repair_quotes": False}),
    (["--delimiter", ";", "--quote-char", "'"], {"delimiter": ";", "quote_char": "'"}),
])
def test_files_and_counts_are_those_of_vestle_file(flags, options, write_file, tmp_path):
    source = write_file(DAMAGED)
    expected = vestle.vestle_file(source, str(tmp_path / "ref.csv"), str(tmp_path / "ref-q.csv"),
                                  **options).to_dict()
    output, quarantine = tmp_path / "out.csv", tmp_path / "q.csv"
    done = run(source, "-o", output, "-q", quarantine, "--json", *flags)
    assert done.returncode == 0, done.stderr
    assert output.read_bytes() == (tmp_path / "ref.csv").read_bytes()
    assert quarantine.read_bytes() == (tmp_path / "ref-q.csv").read_bytes()
    assert json_lines(done.stderr) == [
        {"input": source, "output": str(output), "quarantine": str(quarantine), **expected}]


def test_repair_in_place_replaces_the_input_and_keeps_its_mode(write_file, tmp_path):
    source = write_file(DAMAGED, "data.csv")
    os.chmod(source, 0o640)
    vestle.vestle_file(write_file(DAMAGED, "copy.csv"), str(tmp_path / "expected.csv"))
    assert run(source, "-o", source).returncode == 0
    assert (tmp_path / "data.csv").read_bytes() == (tmp_path / "expected.csv").read_bytes()
    assert stat.S_IMODE(os.stat(source).st_mode) == 0o640
    assert sorted(p.name for p in tmp_path.iterdir()) == ["copy.csv", "data.csv", "expected.csv"]


@pytest.mark.parametrize("encoding, stdout_to_file", [
    (None, False), ("cp1252", False), ("latin-1", False), ("utf-16", False), (None, True)])
def test_standard_input_to_standard_output(encoding, stdout_to_file, write_file, tmp_path):
    vestle.vestle_file(write_file(ACCENTED), str(tmp_path / "expected.csv"))
    expected = (tmp_path / "expected.csv").read_bytes()
    assert "José;München".encode() in expected
    flags = ["--encoding", encoding] if encoding else []
    stdin = ACCENTED.encode(encoding or "utf-8")
    if not stdout_to_file:
        assert run("-", *flags, stdin=stdin).stdout == expected
        return
    # A file opened for appending keeps what it held: the command does not reopen and truncate it.
    appended = tmp_path / "appended.csv"
    appended.write_bytes(b"before\n")
    with open(appended, "ab") as stdout:
        assert run("-", *flags, stdin=stdin, stdout=stdout).returncode == 0
    assert appended.read_bytes() == b"before\n" + expected


@pytest.mark.parametrize("args, named", [
    (["{missing}", "-o", "{tmp}/out.csv"], "{missing}: No such file or directory"),
    (["{source}", "-o", "{tmp}/nowhere/out.csv"], "{tmp}/nowhere/out.csv: No such file or directory"),
    (["{source}", "-o", "{tmp}"], "{tmp}: Is a directory"),
    (["{source}", "{missing}", "--output-dir", "{tmp}/out"], "{missing}: No such file or directory"),
])
def test_a_failed_file_exits_1_and_names_the_file(args, named, write_file, tmp_path):
    paths = {"source": write_file(DAMAGED), "missing": tmp_path / "missing.csv", "tmp": tmp_path}
    before = {p.name for p in tmp_path.iterdir()}
    done = run(*[arg.format(**paths) for arg in args])
    assert done.returncode == 1
    assert f"csv-vestle: error: {named.format(**paths)}\n" in done.stderr.decode()
    # Only the repaired file of the good input appears; no temporary is left anywhere.
    left = {str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*")} - before
    assert left <= {"out", os.path.join("out", os.path.basename(paths["source"]))}


@pytest.mark.parametrize("args, message", [
    (["--delimiter", ";;"], "argument --delimiter: must be one ASCII character"),
    (["--quote-char", "é"], "argument --quote-char: must be one ASCII character"),
    (["--columns", "-1"], "argument --columns: must be 0 or more, got -1"),
    (["--columns", str(2**64)], f"argument --columns: must be at most {sys.maxsize}"),
    (["--jobs", "0", "--output-dir", "out"], "argument -j/--jobs: must be 1 or more, got 0"),
    (["--encoding", "no-such-codec"], "argument --encoding: unknown encoding: 'no-such-codec'"),
    (["--encoding", "rot13"], "argument --encoding: not a text encoding: 'rot13'"),
    (["second.csv"], "several inputs need --output-dir"),
    (["-", "--output-dir", "out"], "standard input has no name to write under --output-dir"),
    (["--delimiter", "'", "--quote-char", "'"], "--delimiter and --quote-char must differ"),
])
def test_usage_errors_exit_2(args, message, write_file, tmp_path):
    done = run(write_file(DAMAGED), *args, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (2, b"")
    assert f"csv-vestle: error: {message}" in done.stderr.decode()
    assert not (tmp_path / "out").exists()


def test_ctrl_c_ends_a_busy_repair_at_once_and_leaves_no_output(tmp_path):
    # A FIFO that stays open keeps the worker inside the module's call, as a huge file would.
    fifo, out = tmp_path / "endless.csv", tmp_path / "out"
    os.mkfifo(fifo)
    process = subprocess.Popen(command(fifo, "--output-dir", out), stderr=subprocess.PIPE,
                               preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    try:
        deadline = time.monotonic() + 60
        while True:  # opening without a reader fails at once instead of blocking
            try:
                writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                break
            except OSError:
                assert process.poll() is None and time.monotonic() < deadline
                time.sleep(0.05)
        try:
            os.set_blocking(writer, True)
            # Several times the pipe's buffer: written only once the worker has read most of it.
            os.write(writer, b"a,b,c\n" * 100_000)
            started = time.monotonic()
            process.send_signal(signal.SIGINT)
            status = process.wait(timeout=60)
            elapsed = time.monotonic() - started
            with pytest.raises(BrokenPipeError):  # the worker is gone too
                os.write(writer, b"a,b,c\n")
        finally:
            os.close(writer)
        assert status == 130, process.stderr.read()
    finally:
        process.kill()  # only when a check above failed: it has ended otherwise
        process.wait()
        process.stderr.close()
    assert elapsed < 5
    assert list(out.iterdir()) == []


def test_parallel_jobs_give_the_files_and_summaries_of_a_sequential_run(write_file, tmp_path):
    inputs = [write_file(DAMAGED * i, f"damaged{i}.csv") for i in range(1, 4)] + [
        write_file("a;b;c\n" + "1;2\n" * 500, "short.csv"),
        write_file('x,y\n1,"never closed\n2,3\n', "unclosed.csv"), write_file("", "empty.csv")]
    runs = []
    for jobs in (1, 2):
        out, quarantine = tmp_path / f"out{jobs}", tmp_path / f"q{jobs}"
        done = run(*inputs, "--output-dir", out, "--quarantine-dir", quarantine, "--jobs", jobs,
                   "--no-merge", "--json")
        assert done.returncode == 0, done.stderr
        summaries = {s.pop("input"): s for s in json_lines(done.stderr)}
        assert {s.pop("output") for s in summaries.values()} == {str(out / p) for p in os.listdir(out)}
        assert {s.pop("quarantine") for s in summaries.values()} == {
            str(quarantine / p) for p in os.listdir(quarantine)}
        runs.append((summaries, {p.name: p.read_bytes() for p in [*out.iterdir(), *quarantine.iterdir()]}))
    assert sorted(runs[0][0]) == sorted(inputs)
    assert runs[0] == runs[1]


@pytest.mark.parametrize("quiet", [False, True])
def test_progress_bar_on_a_terminal_unless_quiet(quiet, write_file, tmp_path):
    # Without tqdm (as under some interpreters of the matrix) the command runs on, without a bar.
    bar_expected = not quiet and importlib.util.find_spec("tqdm") is not None
    controller, terminal = os.openpty()
    with subprocess.Popen(command(write_file(DAMAGED), "-o", tmp_path / "out.csv",
                                  *(["--quiet"] if quiet else [])), stderr=terminal) as process:
        os.close(terminal)
        shown = b""
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal closed: every writer has ended
                break
            if not chunk:
                break
            shown += chunk
    os.close(controller)
    assert process.returncode == 0
    assert (b"100%" in shown, b" rows read, " in shown) == (bar_expected, not quiet), shown
    assert quiet == (shown == b"")
