#!/usr/bin/env bash
# The monitor benchmark, start to end: builds bench_monitor, counts the
# instructions per handled answer under callgrind, then measures the
# lateness of a 10 ms probe timer during an Auto-Read cycle and during each
# fault, the CPU of the monitor process per minute, and the connect/fail
# soak, and prints one table (also saved as BUILD/bench/bench-report.txt).
#
#   bench/run-bench.sh [--quick] [--cpu-minutes M] [--build DIR]
#
#   --quick          about 2.5 minutes: 3.5 s of each case (inverter 1's part
#                    of a cycle), 30 s + 23 s of CPU, 50 answers per kind
#   (default)        about 10 minutes: one whole cycle per case (about 20 s
#                    each), M minutes of CPU for each of the two CPU cases
#   --cpu-minutes M  minutes per CPU case in the default mode (1)
#   --build DIR      build directory (default: build-bench beside the sources)
#
# Figures only: nothing here fails on a missed goal. Everything runs on
# 127.0.0.1; the monitor runs on Qt's offscreen platform.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build-bench
QUICK=
CPU_MINUTES=1
while [ $# -gt 0 ]; do
    case $1 in
        --quick) QUICK=--quick ;;
        --cpu-minutes) CPU_MINUTES=${2:?}; shift ;;
        --build) BUILD=${2:?}; shift ;;
        -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
    shift
done

[ -f "$BUILD/build.ninja" ] || cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target bench_monitor
BIN=$BUILD/bench/bench_monitor
OUT=$BUILD/bench/callgrind
rm -rf "$OUT"
mkdir -p "$OUT"

COUNT=200
[ -n "$QUICK" ] && COUNT=50
CALLGRIND=()
if command -v valgrind >/dev/null; then
    echo "== callgrind: $COUNT answers of each kind" >&2
    if QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no \
        --callgrind-out-file="$OUT/callgrind.out" "$BIN" answers --count "$COUNT" >"$OUT/valgrind.log" 2>&1; then
        CALLGRIND=(--callgrind "$OUT/callgrind.out")
    else
        echo "the callgrind run failed; see $OUT/valgrind.log" >&2
    fi
else
    echo "== valgrind not found: time per answer instead of instructions" >&2
    QT_QPA_PLATFORM=offscreen "$BIN" answers --count "$COUNT"
fi

"$BIN" all $QUICK --cpu-minutes "$CPU_MINUTES" "${CALLGRIND[@]}" | tee "$BUILD/bench/bench-report.txt"
echo "(whole run: $SECONDS s)"
