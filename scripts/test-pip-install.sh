#!/usr/bin/env bash
# Installs a clean copy of the repository with pip into a fresh virtual
# environment, offline, and checks from outside the source tree that the
# installed module and its stub package are there and that a damaged file is repaired,
# by the module and by the csv-vestle command.
# Usage: scripts/test-pip-install.sh   (interpreter: VESTLE_PYTHON, default /usr/bin/python3)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh python3-venv python3-setuptools python3-wheel python3-tqdm

work=$(mktemp -d "${TMPDIR:-/tmp}/vestle-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT
scripts/venv-install.sh "$work"

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
# Type checkers find the stubs of an installed module only in a PEP 561 stub package.
assert (site / "_csv_vestle_backend-stubs" / "__init__.pyi").is_file(), "stub package not installed"
assert not (site / "_csv_vestle_backend.pyi").exists(), "a stray stub file beside the module"
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

echo "== the csv-vestle command of the venv gives the same files"
command_path="$work/venv/bin/csv-vestle"
if [[ ! -x "$command_path" ]]; then
  echo "csv-vestle is not installed in $work/venv/bin" >&2
  exit 1
fi
env -u PYTHONPATH "$command_path" --version
env -u PYTHONPATH "$command_path" damaged.csv -o kept-by-command.csv -q quarantine-by-command.csv --no-merge
cmp kept-by-command.csv kept.csv
cmp quarantine-by-command.csv quarantine.csv
env -u PYTHONPATH "$work/venv/bin/python" -m csv_vestle - --quiet <damaged.csv | cmp - repaired.csv
echo "pip install check passed"
