#!/usr/bin/env bash
# Installs a clean copy of the repository with pip into a fresh virtual
# environment, offline, and checks from outside the source tree that the
# installed module and its stub file are there and that a damaged file is repaired.
# Usage: scripts/test-pip-install.sh   (interpreter: VESTLE_PYTHON, default /usr/bin/python3)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
python=${VESTLE_PYTHON:-/usr/bin/python3}

scripts/install-deps.sh python3-venv python3-setuptools python3-wheel

work=$(mktemp -d "${TMPDIR:-/tmp}/vestle-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Copy only tracked files and new files git does not ignore, so no local
# build folders, installed modules or other leftovers reach the build.
mkdir "$work/src"
if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$repo" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' path; do
      if [[ -e $path ]]; then printf '%s\0' "$path"; fi
    done |
    tar --null -T - -cf - | tar -xf - -C "$work/src"
else
  tar --exclude='./build*' --exclude='./.git' -cf - . | tar -xf - -C "$work/src"
fi

# Debian's setuptools and wheel are the build tools: the venv sees them through
# --system-site-packages, --no-build-isolation keeps pip from fetching its own,
# and --no-index forbids any download.
"$python" -m venv --system-site-packages "$work/venv"
echo "== pip install --no-build-isolation (CMake build of the module)"
"$work/venv/bin/python" -m pip install -q --no-build-isolation --no-index "$work/src"

echo "== import and repair from outside the source tree"
mkdir "$work/run"
cd "$work/run"
env -u PYTHONPATH "$work/venv/bin/python" - <<'EOF'
import sysconfig
from importlib.metadata import version
from pathlib import Path

import _csv_vestle_backend as vestle

site = Path(sysconfig.get_paths()["platlib"]).resolve()
module = Path(vestle.__file__).resolve()
assert module.parent == site, f"imported {module}, not the module installed in {site}"
assert (site / "_csv_vestle_backend.pyi").is_file(), "stub file not installed beside the module"
assert version("csv-vestle") == vestle.__version__, (version("csv-vestle"), vestle.__version__)

source = Path("damaged.csv")
source.write_bytes(b'name,city,note\n'
                   b'"Bob "the builder" Smith",Paris,stray\n'
                   b'Carol,Madrid\n'
                   b'Dave,Rome,extra,field\n')

summary = vestle.vestle_file(str(source), "repaired.csv")
got = Path("repaired.csv").read_bytes()
assert got == (b'name,city,note\n'
               b'"Bob ""the builder"" Smith",Paris,stray\n'
               b'Carol,Madrid,\n'
               b'Dave,Rome,"extra,field"\n'), got
assert summary.to_dict() == {"total_rows": 4, "vestled_rows": 4, "repaired_rows": 2,
                             "quarantined_rows": 0, "detected_delimiter": ",",
                             "inferred_columns": 3}, summary

summary = vestle.vestle_file(str(source), "kept.csv", "quarantine.csv", merge_overflow=False)
got = Path("quarantine.csv").read_bytes()
assert got == (b'line,reason,raw_content\n'
               b'5,"Row has extra columns (expected 3)","Dave,Rome,extra,field"\n'), got
assert (summary.vestled_rows, summary.quarantined_rows) == (3, 1), summary

with vestle.open(str(source)) as reader:
    rows = list(reader)
assert rows[1:] == [['Bob "the builder" Smith', "Paris", "stray"],
                    ["Carol", "Madrid", ""],
                    ["Dave", "Rome", "extra,field"]], rows
print(f"installed module {module.name} {vestle.__version__} repaired the sample")
EOF
echo "pip install check passed"
