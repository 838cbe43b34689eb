#!/usr/bin/env bash
# Runs every benchmark program in <build>/bench; each prints lines of the
# form "name: value unit".
set -euo pipefail
build=${1:-build}
status=0
for bench in "$build"/bench/bench_*; do
    [ -x "$bench" ] || continue
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" || status=1
done
exit $status
