#!/usr/bin/env bash
# Builds and runs the whole test suite: the ordinary build first, then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
# Called by `bash setup.sh test` once the packages are in place.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=$(nproc)

configure_and_build() { # dir, extra cmake arguments...
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j"$JOBS"
}

echo "== build"
configure_and_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
ctest --test-dir "$ROOT/build" --output-on-failure -j"$JOBS"
