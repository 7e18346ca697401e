"""Runs the repairs: each file in worker processes the command can end at once, at most N files at a
time, every output written to a temporary beside it and renamed only when the file was repaired.

The module holds its thread until a repair returns, so a repair runs in a forked worker; stopping
the command terminates the workers. Input that is not a named UTF-8 file (standard input, or another
encoding) reaches the repair through a pipe from a second worker, the feeder.
"""

from __future__ import annotations

import errno
import multiprocessing
import os
import secrets
import signal
import stat
import sys
import tempfile
from collections import deque
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager
from dataclasses import dataclass, replace
from multiprocessing.connection import Connection, wait
from typing import Any

from csv_vestle.progress import Progress
from csv_vestle.worker import (STANDARD_STREAM, Counts, Outcome, RepairOptions, RepairTask, feed,
                               repair, shown_name)

# Forked workers start at once and share the loaded module; the command runs no threads of its own.
_CONTEXT = multiprocessing.get_context("fork")
_STOP_SIGNALS = {signal.SIGINT, signal.SIGTERM}
_GRACE_SECONDS = 1.0


@dataclass(frozen=True)
class RepairJob:
    """One file to repair, as the command line names it ("-": a standard stream)."""

    input: str
    output: str
    quarantine: str | None


# What the command hears of each file: its counts, or the text of its failure.
Report = Callable[[RepairJob, "Counts | str"], None]


class _Target:
    """Where the repair writes one output: a temporary renamed over the named file on success; the
    named file itself when it is a device or a pipe; or, for standard output, the stream itself when
    it is a pipe or a terminal, otherwise a temporary the worker copies to it."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.final_path: str | None = None
        self.temporary: str | None = None
        self.copy_to_stdout = False
        if name == STANDARD_STREAM:
            self.write_path = self._for_stdout()
            return
        final = os.path.realpath(name)
        try:
            status = os.stat(final)
        except FileNotFoundError:
            status = None
        except OSError as error:
            raise _TargetError(f"{name}: {error.strerror}") from None
        if status is not None and stat.S_ISDIR(status.st_mode):
            raise _TargetError(f"{name}: {os.strerror(errno.EISDIR)}")
        if status is not None and not stat.S_ISREG(status.st_mode):
            self.write_path = name
            return
        # A file being replaced keeps its permission bits, as it would when written over.
        mode = stat.S_IMODE(status.st_mode) if status is not None else None
        self.write_path = self.temporary = _create_temporary(final, mode, name)
        self.final_path = final

    def _for_stdout(self) -> str:
        try:
            mode = os.fstat(1).st_mode
        except OSError as error:
            raise _TargetError(f"standard output: {error.strerror}") from None
        if stat.S_ISFIFO(mode) or stat.S_ISCHR(mode):
            return "/dev/fd/1"
        # A regular file is not reopened: that would truncate it and lose an append's position.
        try:
            fd, path = tempfile.mkstemp(prefix="csv-vestle-", suffix=".csv")
        except OSError as error:
            raise _TargetError(f"standard output: no temporary file in {tempfile.gettempdir()}: "
                               f"{error.strerror}") from None
        os.close(fd)
        self.temporary = path
        self.copy_to_stdout = True
        return path

    def commit(self) -> None:
        if self.final_path is not None and self.temporary is not None:
            try:
                os.replace(self.temporary, self.final_path)
            except OSError as error:
                raise _TargetError(f"{self.name}: {error.strerror}") from None
            self.temporary = None

    def discard(self) -> None:
        if self.temporary is not None:
            try:
                os.unlink(self.temporary)
            except FileNotFoundError:
                pass
            self.temporary = None


class _TargetError(Exception):
    """An output that cannot be written; the text names it."""


def _create_temporary(final: str, mode: int | None, shown: str) -> str:
    directory, name = os.path.split(final)
    while True:
        path = os.path.join(directory, f".{name}.{secrets.token_hex(4)}.csv-vestle-part")
        try:
            # 0o666 less the umask, the mode a new output would get.
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        except FileExistsError:
            continue
        except OSError as error:
            raise _TargetError(f"{shown}: {error.strerror}") from None
        try:
            if mode is not None:
                os.fchmod(fd, mode)
        except OSError as error:
            os.unlink(path)
            raise _TargetError(f"{shown}: {error.strerror}") from None
        finally:
            os.close(fd)
        return path


@contextmanager
def _stop_signals_held() -> Iterator[None]:
    """Holds Ctrl-C and SIGTERM back while a worker or a temporary is made and recorded, so that
    the cleanup sees every one, and while the cleanup runs."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, _STOP_SIGNALS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def _worker_main(function: Callable[..., Outcome], args: Sequence[Any], foreign_fds: Sequence[int],
                 results: Connection) -> None:
    # The command stops its workers itself; a Ctrl-C at the terminal reaches them too.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, _STOP_SIGNALS)
    # Pipe ends of the other worker of this file: kept open, they would hide the end of the input.
    for fd in foreign_fds:
        os.close(fd)
    results.send(function(*args))
    results.close()


class _Worker:
    def __init__(self, function: Callable[..., Outcome], args: Sequence[Any],
                 foreign_fds: Sequence[int] = ()) -> None:
        self.outcome: Outcome | None = None
        self._results, sender = _CONTEXT.Pipe(duplex=False)
        self.process = _CONTEXT.Process(target=_worker_main, daemon=True,
                                        args=(function, args, foreign_fds, sender))
        # Text still buffered here would be written again by the worker when it ends.
        sys.stderr.flush()
        self.process.start()
        # The worker holds the only sending end: a worker that dies unheard is then seen as such.
        sender.close()
        self.pid: int = self.process.pid or 0

    @property
    def sentinel(self) -> int:
        return self.process.sentinel

    def collect(self) -> None:
        self.process.join()
        if self._results.poll():
            self.outcome = self._results.recv()

    def stop(self) -> None:
        if self.process.is_alive():
            self.process.terminate()
            self.process.join(_GRACE_SECONDS)
            if self.process.is_alive():
                self.process.kill()
        self.process.join()

    def release(self) -> None:
        self._results.close()
        self.process.close()

    def describe_death(self) -> str:
        code = self.process.exitcode or 0
        if code < 0:
            return f"its worker process was ended by {signal.Signals(-code).name}"
        return f"its worker process exited with status {code}"


class _FileRepair:
    """The repair of one file: its targets, its workers, and the first failure among them."""

    def __init__(self, job: RepairJob, size: int | None) -> None:
        self.job = job
        self.size = size
        self.failure: str | None = None
        self.counts: Counts | None = None
        self.targets: list[_Target] = []
        self.workers: list[_Worker] = []
        self._live: list[_Worker] = []
        self.bytes_read = 0

    def start(self, options: RepairOptions, encoding: str | None) -> None:
        try:
            output = self._add_target(self.job.output)
            quarantine = self._add_target(self.job.quarantine) if self.job.quarantine else None
        except _TargetError as error:
            self.failure = str(error)
            return
        task = RepairTask(
            shown_input=shown_name(self.job.input), source=self.job.input,
            output=output.write_path, quarantine=quarantine.write_path if quarantine else None,
            copy_to_stdout=next((t.write_path for t in self.targets if t.copy_to_stdout), None),
            options=options)
        if self.job.input != STANDARD_STREAM and encoding is None:
            self._spawn(repair, (task,))
            return
        read_fd, write_fd = os.pipe()
        try:
            self._spawn(feed, (self.job.input, encoding, write_fd), foreign_fds=(read_fd,))
            self._spawn(repair, (replace(task, source=read_fd),), foreign_fds=(write_fd,))
        finally:
            os.close(read_fd)
            os.close(write_fd)

    def _add_target(self, name: str) -> _Target:
        with _stop_signals_held():
            target = _Target(name)
            self.targets.append(target)
        return target

    def _spawn(self, function: Callable[..., Outcome], args: Sequence[Any],
               foreign_fds: Sequence[int] = ()) -> None:
        with _stop_signals_held():
            worker = _Worker(function, args, foreign_fds)
            self.workers.append(worker)
            self._live.append(worker)

    @property
    def finished(self) -> bool:
        return not self._live

    def sentinels(self) -> list[int]:
        return [worker.sentinel for worker in self._live]

    def collect(self, ended: set[int]) -> None:
        """Takes the outcomes of the workers that ended; the first failure stops the others."""
        for worker in [w for w in self._live if w.sentinel in ended]:
            self._live.remove(worker)
            worker.collect()
            if self.failure is not None:
                continue
            if worker.outcome is None:
                self.failure = f"{shown_name(self.job.input)}: {worker.describe_death()}"
            elif worker.outcome[0] == "failed":
                self.failure = worker.outcome[1]
            elif worker.outcome[0] == "repaired":
                self.counts = worker.outcome[1]
        if self.failure is not None:
            self.stop()

    def measure(self) -> int:
        """Bytes of the input read so far, as the kernel counts the reading worker's reads."""
        # The first worker reads the input: the feeder when there is one.
        if self.workers and self.workers[0] in self._live:
            read = _bytes_read(self.workers[0].pid)
            if read is not None:
                self.bytes_read = max(self.bytes_read, read)
        return min(self.bytes_read, self.size) if self.size is not None else self.bytes_read

    def conclude(self) -> Counts | str:
        """Renames the outputs into place when the repair succeeded; removes every temporary.
        Returns the counts, or the text of the failure."""
        try:
            if self.failure is not None:
                return self.failure
            if self.counts is None:
                return f"{shown_name(self.job.input)}: the repair gave no result"
            try:
                for target in self.targets:
                    target.commit()
            except _TargetError as error:
                return str(error)
            return self.counts
        finally:
            self.release()

    def stop(self) -> None:
        for worker in self._live:
            worker.stop()
        self._live.clear()

    def release(self) -> None:
        """Stops the workers and removes the temporaries left; a second call does nothing."""
        self.stop()
        for target in self.targets:
            target.discard()
        for worker in self.workers:
            worker.release()
        self.workers.clear()


def _bytes_read(pid: int) -> int | None:
    try:
        with open(f"/proc/{pid}/io", "rb") as counters:
            for line in counters:
                if line.startswith(b"rchar:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def input_size(path: str) -> int | None:
    try:
        status = os.fstat(0) if path == STANDARD_STREAM else os.stat(path)
    except OSError:
        return None
    return status.st_size if stat.S_ISREG(status.st_mode) else None


def run_jobs(jobs: Sequence[RepairJob], options: RepairOptions, encoding: str | None,
             parallel: int, progress: Progress, report: Report) -> int:
    """Repairs every job, at most `parallel` at once; reports each as it ends; returns how many failed."""
    sizes = [input_size(job.input) for job in jobs]
    progress.start(total=None if None in sizes else sum(s or 0 for s in sizes), files=len(jobs))
    pending = deque(zip(jobs, sizes))
    running: list[_FileRepair] = []
    finished_bytes = failed = 0

    def show_progress() -> None:
        progress.show(finished_bytes + sum(r.measure() for r in running))

    try:
        while pending or running:
            while pending and len(running) < parallel:
                repair_of_file = _FileRepair(*pending.popleft())
                running.append(repair_of_file)
                repair_of_file.start(options, encoding)
            sentinels = [s for r in running for s in r.sentinels()]
            ready = wait(sentinels, timeout=progress.interval) if sentinels else []
            ended = {s for s in ready if isinstance(s, int)}
            for repair_of_file in list(running):
                repair_of_file.collect(ended)
                if repair_of_file.finished:
                    result = repair_of_file.conclude()
                    running.remove(repair_of_file)
                    failed += isinstance(result, str)
                    finished_bytes += repair_of_file.size or repair_of_file.bytes_read
                    progress.file_done()
                    show_progress()  # the bar counts the file before its line is written
                    report(repair_of_file.job, result)
            show_progress()
    finally:
        # A second Ctrl-C does not cut the cleanup short.
        with _stop_signals_held():
            for repair_of_file in running:
                repair_of_file.release()
            progress.close()
    return failed
