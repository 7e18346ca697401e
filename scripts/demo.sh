#!/usr/bin/env bash
# Repairs the bundled damaged sample and shows the summary, the repaired file
# and the quarantine file. Builds the module first when needed.
# Usage: scripts/demo.sh [input.csv]
set -euo pipefail
# A path given on the command line is relative to where the script was called from.
if (($#)); then
  input=$(realpath -m -- "$1")
fi
cd "$(dirname "$0")/.."

python=${VESTLE_PYTHON:-/usr/bin/python3}
input=${input:-data/damaged_sample.csv}

scripts/install-deps.sh >/dev/null
cmake -S . -B build -DVESTLE_PYTHON="$python" >/dev/null
cmake --build build -j "$(nproc)" --target _csv_vestle_backend >/dev/null

PYTHONPATH="$PWD/build" "$python" scripts/demo.py "$input"
