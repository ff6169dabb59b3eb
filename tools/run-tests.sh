#!/usr/bin/env bash
# Builds and runs the whole test suite, twice:
#  1. the ordinary build (g++), every test;
#  2. a clang build with AddressSanitizer and UndefinedBehaviorSanitizer:
#     every test again, then each fuzz target for BRELVON_FUZZ_SECONDS (30).
# Called by `bash setup.sh test` once the packages are in place. The run
# ends with ctest's summary of the sanitizer build.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=$(nproc)
FUZZ_SECONDS=${BRELVON_FUZZ_SECONDS:-30}

configure_and_build() { # dir, extra cmake arguments...
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j"$JOBS"
}

start=$(date +%s)
echo "== build (g++)"
configure_and_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
ctest --test-dir "$ROOT/build" --output-on-failure -j"$JOBS"

echo "== build with sanitizers and fuzz targets (clang)"
CC=clang CXX=clang++ configure_and_build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRELVON_SANITIZE=ON -DBRELVON_FUZZ=ON -DBRELVON_FUZZ_SECONDS="$FUZZ_SECONDS"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$ROOT/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== tests under sanitizers, then the fuzz targets (${FUZZ_SECONDS} s each)"
echo "   (whole run so far: $(( $(date +%s) - start )) s)"
ctest --test-dir "$ROOT/build-asan" --output-on-failure -j"$JOBS"
