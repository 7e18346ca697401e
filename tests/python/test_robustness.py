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
    assert reread == kept
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


DAMAGED = (b'id,name,note\n1,"Bob "the builder" Smith",stray quotes\n2,Carol\n'
           b'3,Dave,"has, a comma",extra field\n')
REPAIRED = b'id,name,note\n1,"Bob ""the builder"" Smith",stray quotes\n2,Carol,\n'
QUARANTINE = (b"line,reason,raw_content\n"
              b'5,"Row has extra columns (expected 3)","3,Dave,has, a comma,extra field"\n')
BESIDE_THE_INPUT = ["data.csv", "folder", "hard.csv", "link.csv", "plain.txt"]


# (output, quarantine, errno or None, bytes afterwards by name)
IN_PLACE = {
    "quarantine in a missing directory": ("data.csv", "missing_dir/rejects.csv", 2, {}),
    "quarantine on a full device": ("data.csv", "/dev/full", 28, {}),
    "quarantine under a regular file": ("data.csv", "plain.txt/rejects.csv", 20, {}),
    "quarantine naming a directory": ("data.csv", "folder", 21, {}),
    "output through a symlink, quarantine fails": ("link.csv", "missing_dir/rejects.csv", 2, {}),
    "output through a hard link, quarantine fails": (
        "hard.csv", "missing_dir/rejects.csv", 2, {"hard.csv": DAMAGED}),
    "quarantine naming the input, output fails": ("/dev/full", "data.csv", 28, {}),
    "output through a symlink": (
        "link.csv", "rejects.csv", None, {"data.csv": REPAIRED, "rejects.csv": QUARANTINE}),
    "output through a hard link": (
        "hard.csv", "rejects.csv", None,
        {"data.csv": DAMAGED, "hard.csv": REPAIRED, "rejects.csv": QUARANTINE}),
    "output, quarantine and input the same file": (
        "data.csv", "data.csv", None, {"data.csv": QUARANTINE}),
}


@pytest.mark.parametrize("output, quarantine, number, contents", list(IN_PLACE.values()),
                         ids=list(IN_PLACE))
def test_in_place_repair_replaces_the_input_only_when_every_file_is_written(
        tmp_path, output, quarantine, number, contents):
    if "/dev/full" in (output, quarantine) and not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    source = tmp_path / "data.csv"
    source.write_bytes(DAMAGED)
    os.chmod(source, 0o640)
    os.symlink("data.csv", tmp_path / "link.csv")
    os.link(source, tmp_path / "hard.csv")
    (tmp_path / "plain.txt").write_bytes(b"x")
    (tmp_path / "folder").mkdir()
    before = os.stat(source)

    def call():
        return vestle.vestle_file(str(source), str(tmp_path / output), str(tmp_path / quarantine),
                                  merge_overflow=False)

    if number is None:
        assert call().quarantined_rows == 1
    else:
        with pytest.raises(OSError) as caught:
            call()
        assert type(caught.value) is OSError
        assert str(caught.value) == f"{os.strerror(number)} (os error {number})"
        # The input is the very file it was: same bytes, inode, mode and owner.
        after = os.stat(source)
        assert source.read_bytes() == DAMAGED
        assert (after.st_ino, after.st_mode, after.st_uid, after.st_gid) == (
            before.st_ino, before.st_mode, before.st_uid, before.st_gid)
    for name, content in contents.items():
        assert (tmp_path / name).read_bytes() == content, name
    assert os.stat(source).st_mode & 0o7777 == 0o640
    assert os.path.islink(tmp_path / "link.csv")
    created = ["rejects.csv"] if "rejects.csv" in contents else []
    assert sorted(os.listdir(tmp_path)) == sorted(BESIDE_THE_INPUT + created)  # no temporary


def many_rows():
    return b"".join(b"%d,x\n" % i for i in range(5000)) + b"short\n"


def mostly_set_aside():
    return b"a,b\n" + b"abc,def,ghi\n" * 300


# (input, quarantine name, bytes the quarantine holds afterwards)
PAST_THE_LIMIT = {
    "output past the limit": (many_rows(), None, None),
    "quarantine past the limit": (mostly_set_aside(), "rejects.csv", 4096),
}


@pytest.mark.parametrize("original, quarantine, quarantine_size", list(PAST_THE_LIMIT.values()),
                         ids=list(PAST_THE_LIMIT))
def test_in_place_repair_failing_midway_keeps_the_original(tmp_path, original, quarantine,
                                                           quarantine_size):
    # A file-size limit makes a write fail part-way; the original must survive untouched.
    source = tmp_path / "data.csv"
    source.write_bytes(original)
    rejects = None if quarantine is None else str(tmp_path / quarantine)
    script = textwrap.dedent(f"""
        import resource, signal
        import _csv_vestle_backend as vestle
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        try:
            vestle.vestle_file({str(source)!r}, {str(source)!r}, {rejects!r}, expected_columns=2,
                               merge_overflow=False)
        except OSError as error:
            print("OSError", error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=dict(os.environ), timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("OSError"), result.stdout
    assert "(os error 27)" in result.stdout  # EFBIG
    assert source.read_bytes() == original
    if quarantine is None:
        assert os.listdir(tmp_path) == ["data.csv"]  # no temporary left behind
    else:
        assert sorted(os.listdir(tmp_path)) == ["data.csv", quarantine]
        assert os.path.getsize(tmp_path / quarantine) == quarantine_size
