"""README.md says what the code prints: its Python and console blocks are run and their output compared.

In a Python block of the README, a line that starts with "# " in the first
column is output: together, in order, such lines are exactly what the block
prints. Comments meant for the reader are written after code or indented.
In a console block, the lines that start with "$ " are commands, run in order
by one shell with csv-vestle on its PATH; the other lines are exactly what
they print, standard output and error together.
Each block runs in its own namespace, in one folder holding the files the
README's examples name.
"""

import os
import re
import shlex
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import _csv_vestle_backend as vestle

README = (Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
# (language, text, line of the opening fence); a block in a list item is indented as a whole.
BLOCKS = [(m.group(2), textwrap.dedent(m.group(3)), README.count("\n", 0, m.start()) + 1)
          for m in re.finditer(r"^( *)```(\w*)\n(.*?)^\1```$", README, re.MULTILINE | re.DOTALL)]
PYTHON_BLOCKS = [(text, line) for lang, text, line in BLOCKS if lang == "python"]
CONSOLE_BLOCKS = [(text, line) for lang, text, line in BLOCKS if lang == "console"]


def block_after(marker):
    """The first fenced block after the paragraph that contains marker."""
    position = README.index(marker)
    for _, text, line in BLOCKS:
        if README.count("\n", 0, position) < line:
            return text
    raise LookupError(marker)


# The damaged file of the README is the one its "Output formats" section shows.
DAMAGED = block_after("Before (`damaged.csv`)")
FILES = {
    "damaged.csv": DAMAGED.encode("utf-8"),
    # An Excel export in Windows-1252.
    "export.csv": "name;city\r\nJosé;München\r\nZoë;Genève\r\n".encode("cp1252"),
}


@pytest.fixture
def readme_folder(tmp_path, monkeypatch):
    for name, content in FILES.items():
        (tmp_path / name).write_bytes(content)
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.fixture
def command_on_path(tmp_path_factory, monkeypatch):
    """csv-vestle as pip installs it: this interpreter running the csv_vestle package."""
    folder = tmp_path_factory.mktemp("bin")
    (folder / "csv-vestle").write_text(f'#!/bin/sh\nexec {shlex.quote(sys.executable)} -m csv_vestle "$@"\n')
    (folder / "csv-vestle").chmod(0o755)
    monkeypatch.setenv("PATH", f"{folder}{os.pathsep}{os.environ['PATH']}")


def test_readme_has_blocks_to_run():
    assert len(PYTHON_BLOCKS) >= 2
    assert len(CONSOLE_BLOCKS) >= 3


@pytest.mark.parametrize("text, line", PYTHON_BLOCKS, ids=[f"line{line}" for _, line in PYTHON_BLOCKS])
def test_python_block_prints_its_output_comments(text, line, readme_folder, capsys):
    expected = [row[2:] if row.startswith("# ") else "" for row in text.splitlines()
                if row.startswith("# ") or row == "#"]
    exec(compile(text, f"README.md:{line}", "exec"), {"__name__": "readme_block"})
    assert capsys.readouterr().out.splitlines() == expected


@pytest.mark.parametrize("text, line", CONSOLE_BLOCKS, ids=[f"line{line}" for _, line in CONSOLE_BLOCKS])
def test_console_block_prints_what_it_shows(text, line, readme_folder, command_on_path):
    commands = [row[2:] for row in text.splitlines() if row.startswith("$ ")]
    shown = [row for row in text.splitlines() if not row.startswith("$ ")]
    done = subprocess.run(["bash", "-c", "\n".join(commands)], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    assert done.stdout.decode("utf-8").splitlines() == shown


@pytest.mark.parametrize("name", ["clean.csv", "quarantine.csv"])
def test_output_formats_show_what_the_call_writes(name, readme_folder):
    call = re.search(r"repaired with `(vestle_file\(.*?\))`", README).group(1)
    eval(call, {"vestle_file": vestle.vestle_file})
    shown = block_after(f"`{name}` —")
    assert (readme_folder / name).read_text(encoding="utf-8") == shown
