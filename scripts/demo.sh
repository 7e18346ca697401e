#!/usr/bin/env bash
# Repairs the bundled damaged sample and shows the summary, the repaired file
# and the quarantine file. Builds the module first when needed.
# Usage: scripts/demo.sh [input.csv]
set -euo pipefail
cd "$(dirname "$0")/.."

python=${VESTLE_PYTHON:-/usr/bin/python3}
input=${1:-data/damaged_sample.csv}

scripts/install-deps.sh >/dev/null
cmake -S . -B build -DVESTLE_PYTHON="$python" >/dev/null
cmake --build build -j "$(nproc)" --target _csv_vestle_backend >/dev/null

PYTHONPATH="$PWD/build" "$python" scripts/demo.py "$input"
