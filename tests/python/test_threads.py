"""Concurrent use of one reader or summary: every row handed out once, refusals only as RuntimeError."""

import threading

import _csv_vestle_backend as vestle

THREADS = 8


def run_threads(target):
    start = threading.Barrier(THREADS)
    errors = []

    def body():
        start.wait()
        try:
            target()
        except BaseException as error:  # reported by the main thread
            errors.append(error)

    threads = [threading.Thread(target=body) for _ in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []


def test_shared_reader_hands_out_each_row_once(write_file):
    rows = 3000
    reader = vestle.open(write_file("".join(f"{i},x\n" for i in range(rows))))
    taken = []
    lock = threading.Lock()

    def drain():
        mine = []
        while True:
            try:
                row = next(reader)
            except StopIteration:
                break
            except RuntimeError as error:
                # Another thread holds the borrow; a refused call changes nothing.
                assert str(error) in ("Already borrowed", "Already mutably borrowed")
                continue
            mine.append(int(row[0]))
            try:
                assert len(reader) == rows
            except RuntimeError as error:
                assert str(error) == "Already mutably borrowed"  # a shared borrow was refused
        # The cursor only moves forward, so each thread sees its rows in file order.
        assert mine == sorted(mine)
        with lock:
            taken.extend(mine)

    run_threads(drain)
    assert sorted(taken) == list(range(rows))
    assert len(reader) == rows


def test_summary_reads_never_fail(write_file, out_paths):
    summary = vestle.vestle_file(write_file("a;b\n1;2\n"), out_paths[0])
    expected = summary.to_dict()

    def read():
        for _ in range(500):
            assert summary.to_dict() == expected
            assert summary.detected_delimiter == ";"

    run_threads(read)


def test_independent_calls_in_parallel(write_file, tmp_path):
    source = write_file("a,b,c\n1,2\n3,4,5,6\n")

    def repair():
        name = threading.current_thread().name
        for _ in range(50):
            summary = vestle.vestle_file(source, str(tmp_path / f"{name}.csv"))
            assert (summary.total_rows, summary.repaired_rows) == (3, 2)
            assert vestle.sniff("a|b\nc|d\n") == "|"

    run_threads(repair)


def test_parallel_repairs_match_a_sequential_run(tmp_path):
    # Each thread repairs files of its own; the outputs must be exactly those of a run on one thread.
    sources = []
    for t in range(THREADS):
        lines = [f'{t},"q"{i}"x",{i}' + (",extra" * (i % 3)) for i in range(400)]
        path = tmp_path / f"in{t}.csv"
        path.write_text("id,text,n\n" + "\n".join(lines) + "\n")
        sources.append(path)

    def repair(index, suffix):
        out = tmp_path / f"out{index}.{suffix}"
        quarantine = tmp_path / f"q{index}.{suffix}"
        summary = vestle.vestle_file(str(sources[index]), str(out), str(quarantine),
                                     merge_overflow=index % 2 == 0)
        return summary.to_dict(), out.read_bytes(), quarantine.read_bytes()

    expected = [repair(index, "seq") for index in range(THREADS)]
    results = [None] * THREADS
    counter = iter(range(THREADS))
    lock = threading.Lock()

    def work():
        with lock:
            index = next(counter)
        for _ in range(5):
            results[index] = repair(index, "par")

    run_threads(work)
    assert results == expected
