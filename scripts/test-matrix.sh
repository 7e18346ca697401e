#!/usr/bin/env bash
# Builds the module for each extra interpreter (CPython 3.14, free-threaded 3.13, debug 3.14)
# and runs the Python tests under it; fails when any interpreter fails.
# Usage: scripts/test-matrix.sh [tag...]   (default: every interpreter provisioned)
# Environment: VESTLE_CACHE (as for provision-pythons.sh), VESTLE_JOBS (build jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

cache="${VESTLE_CACHE:-/var/cache/csv-vestle}"
jobs="${VESTLE_JOBS:-2}"

scripts/provision-pythons.sh

declare -A interpreter include_dir
tags=()
while IFS=$'\t' read -r tag python include; do
  interpreter[$tag]=$python
  include_dir[$tag]=$include
  tags+=("$tag")
done <"$cache/interpreters.tsv"
if (($#)); then
  tags=("$@")
fi

summary=()
failed=0

# Called as `run_one ... || failed=1`, where errexit does not apply: every step checks its own status.
run_one() {
  local tag=$1
  local python=${interpreter[$tag]:-}
  if [[ -z "$python" ]]; then
    summary+=("$tag: unknown interpreter tag")
    return 1
  fi
  local build="$repo/build-matrix-$tag" version suffix
  if ! version=$("$python" -c 'import sys, sysconfig
free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
print(sys.version.split()[0] + ("t" if free else "") + ("d" if hasattr(sys, "gettotalrefcount") else ""))') ||
     ! suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))'); then
    summary+=("$tag: $python does not run")
    return 1
  fi
  echo
  echo "=== $tag: CPython $version, module suffix $suffix"

  if ! cmake -S "$repo" -B "$build" \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_CXX_COMPILER=g++ \
         -DVESTLE_PYTHON="$python" \
         -DVESTLE_PYTHON_INCLUDE_DIR="${include_dir[$tag]}" \
         -DVESTLE_PYTHON_EXT_SUFFIX="$suffix" \
         -DVESTLE_BUILD_TESTS=OFF >/dev/null ||
     ! cmake --build "$build" -j "$jobs" --target _csv_vestle_backend; then
    summary+=("$tag: CPython $version: module build failed")
    return 1
  fi

  # A module that does not declare itself safe without the GIL turns the GIL back on at import.
  if [[ "$version" == *t* ]]; then
    env -u PYTHON_GIL PYTHONPATH="$build" "$python" -W error::RuntimeWarning -c '
import sys
import _csv_vestle_backend
assert not sys._is_gil_enabled(), "importing _csv_vestle_backend enabled the GIL"
print("GIL still disabled after importing _csv_vestle_backend")' || {
      summary+=("$tag: CPython $version: importing the module enables the GIL")
      return 1
    }
  fi

  local log="$build/pytest.log" status counts
  env -u PYTHON_GIL PYTHONPATH="$build:$repo/python" "$python" -m pytest -q -p no:cacheprovider tests/python 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  if ((status == 5)); then
    echo "$tag: pytest collected no tests" >&2
  fi
  counts=$(tail -n 1 "$log" | grep -Eo '[0-9]+ (passed|failed|errors?|skipped|xfailed|xpassed|warnings?)' |
           paste -sd, - | sed 's/,/, /g')
  summary+=("$tag: CPython $version: ${counts:-no tests ran} (pytest exit $status)")
  return "$status"
}

for tag in "${tags[@]}"; do
  run_one "$tag" || failed=1
done

echo
echo "=== matrix summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
