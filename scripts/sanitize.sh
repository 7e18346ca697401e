#!/usr/bin/env bash
# Builds the engine, its tests and the fuzz targets (as replay executables)
# under AddressSanitizer and UndefinedBehaviorSanitizer, then runs every ctest
# test: the engine tests and the replay of each target's seed corpus.
# Usage: scripts/sanitize.sh [build-dir]   (default build-asan; compiler from
# VESTLE_SANITIZE_CXX, default clang++; extra CMake options in VESTLE_CMAKE_ARGS)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-asan}
cxx=${VESTLE_SANITIZE_CXX:-clang++}

scripts/install-deps.sh clang libclang-rt-14-dev
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER="$cxx" \
  -DVESTLE_SANITIZE=address,undefined -DVESTLE_BUILD_FUZZ=ON -DVESTLE_FUZZ_REPLAY=ON \
  -DVESTLE_BUILD_MODULE=OFF ${VESTLE_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# Any report fails the test that caused it; leaks included.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
echo "== engine tests and seed corpus replay under ASan+UBSan ($cxx)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
