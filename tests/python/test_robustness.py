"""Repaired files satisfy strict readers, and real faults leave the disk in a sound state."""

import csv
import os
import random
import subprocess
import sys
import textwrap

import pytest

import _csv_vestle_backend as vestle

PIECES = ["plain", "", " spaced ", "a,b", "semi;colon", "tab\there", "pipe|bar", 'say "hi"',
          "it's", "line\nbreak", "cr\rhere", "crlf\r\nin", "caf\u00e9", "\u00c3x", "\u2603"]


def damaged_csv(rng, delimiter, quote):
    """A CSV text with stray and unclosed quotes, ragged rows, blank lines and invalid bytes."""
    lines = []
    for _ in range(rng.randrange(1, 40)):
        fields = []
        for _ in range(rng.choice([1, 2, 3, 3, 3, 4, 6])):
            text = rng.choice(PIECES)
            shape = rng.random()
            if shape < 0.3:
                text = quote + text.replace(quote, quote * 2) + quote
            elif shape < 0.4:
                text = quote + text + quote + rng.choice(["x", " ", quote + "y"])  # stray or trailing
            fields.append(text)
        lines.append(delimiter.join(fields))
        if rng.random() < 0.1:
            lines.append("")
    data = rng.choice(["\n", "\r\n", "\r"]).join(lines).encode("utf-8")
    if rng.random() < 0.2:
        data = data.replace(b"a", b"\xff", 1)
    if rng.random() < 0.1:
        data = b"\xef\xbb\xbf" + data
    if rng.random() < 0.1:
        data += quote.encode("utf-8") + b"unclosed, to the end"
    return data


@pytest.mark.parametrize("seed", range(60))
def test_strict_csv_reader_accepts_the_repaired_file(tmp_path, seed):
    rng = random.Random(seed)
    delimiter = rng.choice([",", ";", "\t", "|", "\u00e9"])
    quote = rng.choice(['"', "'"])
    source = tmp_path / "in.csv"
    source.write_bytes(damaged_csv(rng, delimiter, quote))
    options = dict(quote_char=quote,
                   delimiter=rng.choice([None, delimiter]) if delimiter != "\u00e9" else delimiter,
                   fill_ragged_rows=rng.random() < 0.7, merge_overflow=rng.random() < 0.7)
    output = tmp_path / "out.csv"
    summary = vestle.vestle_file(str(source), str(output), **options)
    kept = list(vestle.open(str(source), **options))

    with open(output, newline="", encoding="utf-8") as handle:
        reread = list(csv.reader(handle, delimiter=summary.detected_delimiter, quotechar=quote,
                                 doublequote=True, strict=True))
    # csv gives an empty list for a row of one empty field, written as an empty line.
    assert reread == [[] if row == [""] else row for row in kept]
    assert len(kept) == summary.vestled_rows
    if summary.inferred_columns:
        assert all(len(row) == summary.inferred_columns for row in kept)


@pytest.mark.parametrize("target", ["output", "quarantine"])
def test_full_device(write_file, out_paths, target):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    source = write_file("a,b\n1,2,3\n")
    output, quarantine = ("/dev/full", out_paths[1]) if target == "output" else (out_paths[0], "/dev/full")
    with pytest.raises(OSError) as caught:
        vestle.vestle_file(source, output, quarantine, merge_overflow=False)
    assert type(caught.value) is OSError
    assert str(caught.value).endswith(" (os error 28)")
    if target == "output":
        assert not os.path.exists(quarantine)  # never reached
    else:
        with open(output, "rb") as handle:
            assert handle.read() == b"a,b\n"  # written completely first


def test_in_place_repair_failing_midway_keeps_the_original(tmp_path):
    # A file-size limit makes the repaired copy fail part-way; the original must survive untouched.
    source = tmp_path / "data.csv"
    original = b"".join(b"%d,x\n" % i for i in range(5000)) + b"short\n"
    source.write_bytes(original)
    script = textwrap.dedent(f"""
        import resource, signal
        import _csv_vestle_backend as vestle
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        try:
            vestle.vestle_file({str(source)!r}, {str(source)!r})
        except OSError as error:
            print("OSError", error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=dict(os.environ), timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("OSError"), result.stdout
    assert "(os error 27)" in result.stdout  # EFBIG
    assert source.read_bytes() == original
    assert os.listdir(tmp_path) == ["data.csv"]  # no temporary left behind
