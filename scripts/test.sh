#!/usr/bin/env bash
# Installs what is missing, builds the engine, its tests and the module, and
# runs every test: the C++ engine tests under ctest, the Python tests under pytest.
# Usage: scripts/test.sh [build-dir]   (extra CMake options in VESTLE_CMAKE_ARGS)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
python=${VESTLE_PYTHON:-/usr/bin/python3}

# dask.distributed for the example that uses a cluster; tqdm for the command's progress bar
scripts/install-deps.sh python3-distributed python3-tqdm
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DVESTLE_PYTHON="$python" -DVESTLE_BUILD_TESTS=ON ${VESTLE_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

echo "== engine tests (ctest)"
# ctest prints two long lines per test; show a line per hundred tests, and in
# full only the results and output of the tests that did not pass. The whole
# log stays in $build_dir/ctest.log.
set +e
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" 2>&1 | tee "$build_dir/ctest.log" | awk '
  /^ *Start +[0-9]+: / { failing = 0; next }
  /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
    failing = 0
    split($1, count, "/")
    if ($0 !~ / Passed +[0-9.]+ sec$/) { print; failing = 1 }
    else if (count[1] % 100 == 0 || count[1] == count[2]) { printf "%d/%d tests done\n", count[1], count[2] }
    next
  }
  /tests passed|tests failed out of|^Total Test time|^The following tests FAILED|^Errors while running/ {
    print; failing = /FAILED/; next
  }
  failing { print }'
status=${PIPESTATUS[0]}
set -e
if ((status != 0)); then
  echo "engine tests failed (full log: $build_dir/ctest.log)" >&2
  exit "$status"
fi

echo "== Python tests (pytest)"
set +e
# python/ holds the csv_vestle package of the command, run from the source tree.
PYTHONPATH="$PWD/$build_dir:$PWD/python" "$python" -m pytest -q -p no:cacheprovider tests/python
status=$?
set -e
if [[ $status -eq 5 ]]; then
  echo "pytest collected no tests" >&2
fi
exit $status
