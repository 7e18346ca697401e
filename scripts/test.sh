#!/usr/bin/env bash
# Installs what is missing, builds the engine, its tests and the module, and
# runs every test: the C++ engine tests under ctest, the Python tests under pytest.
# Usage: scripts/test.sh [build-dir]   (extra CMake options in VESTLE_CMAKE_ARGS)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
python=${VESTLE_PYTHON:-/usr/bin/python3}

scripts/install-deps.sh
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DVESTLE_PYTHON="$python" ${VESTLE_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

echo "== engine tests (ctest)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

echo "== Python tests (pytest)"
set +e
PYTHONPATH="$PWD/$build_dir" "$python" -m pytest -q -p no:cacheprovider tests/python
status=$?
set -e
if [[ $status -eq 5 ]]; then
  echo "pytest collected no tests" >&2
fi
exit $status
