#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan+UBSan and fuzzes each for
# FUZZ_SECONDS seconds (default 60), starting from a scratch copy of its seed
# corpus so that the committed corpus stays as it is; fuzz_vestle_stream then
# runs again under each kernel the processor has, FUZZ_KERNEL_SECONDS each
# (default a quarter of FUZZ_SECONDS). Prints the executions of
# each target; exits non-zero when any target crashed, naming the saved input.
# Usage: scripts/fuzz.sh [target ...]   (default: every target; build dir from
# FUZZ_BUILD_DIR, default build-fuzz; input size limit FUZZ_MAX_LEN, default 4096)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-4096}
if (($#)); then
  targets=("$@")
else
  # The targets are listed once, in fuzz/CMakeLists.txt.
  read -r -a targets < <(sed -n 's/^set(VESTLE_FUZZ_TARGETS \(.*\))$/\1/p' fuzz/CMakeLists.txt) || true
  if ((${#targets[@]} == 0)); then
    echo "no fuzz targets found in fuzz/CMakeLists.txt" >&2
    exit 1
  fi
fi

scripts/install-deps.sh clang libclang-rt-14-dev
cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ \
  -DVESTLE_SANITIZE=address,undefined -DVESTLE_BUILD_FUZZ=ON -DVESTLE_FUZZ_REPLAY=OFF \
  -DVESTLE_BUILD_MODULE=OFF -DVESTLE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vestle-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Crashing inputs are kept beside the build, outside the scratch directory.
artifacts="$PWD/$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"

failed=()
# Fuzzes `target` for `seconds` with the extra libFuzzer arguments after them.
fuzz() {
  local target=$1 label=$2 seconds=$3
  shift 3
  local log="$scratch/$label.log"
  echo "== $label: ${seconds}s"
  local status=0
  "$build_dir/fuzz/$target" "$scratch/$target" "$@" -max_total_time="$seconds" -max_len="$max_len" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$label-" >"$log" 2>&1 || status=$?
  if ((status == 77)); then
    echo "$label: skipped, this processor lacks the kernel"
    return
  fi
  local executions
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$label: ${executions:-?} executions, exit status $status"
  if ((status != 0)); then
    failed+=("$label")
    grep -E 'invariant failed|ERROR: |SUMMARY: ' "$log" | head -n 5 || true
    tail -n 40 "$log" >&2
    # "Test unit written to PATH": the input that crashed, kept for replay.
    sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | while read -r input; do
      echo "crashing input: $input"
      echo "  base64: $(base64 -w0 "$input")"
      echo "  replay: $build_dir/fuzz/$target $* $input"
    done
  fi
}

for target in "${targets[@]}"; do
  cp -r "fuzz/corpus/$target" "$scratch/$target"
  fuzz "$target" "$target" "$seconds"
  # The streaming repair once more under each kernel the processor has
  # (the run above used the best one), for a quarter of the time each.
  if [[ $target == fuzz_vestle_stream ]]; then
    for kernel in scalar sse2 avx2 avx512bw; do
      fuzz "$target" "$target.$kernel" "${FUZZ_KERNEL_SECONDS:-$(((seconds + 3) / 4))}" --kernel="$kernel"
    done
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found crashes in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing found no crash in ${#targets[@]} targets"
