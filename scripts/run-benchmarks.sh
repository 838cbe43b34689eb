#!/usr/bin/env bash
# Runs every benchmark program in <build>/bench; each prints lines of the
# form "name: value unit". The end-to-end ones run a second time on an X
# server of their own (figures named ..._x11; skipped without Xvfb).
set -euo pipefail
build=${1:-build}
status=0
for bench in "$build"/bench/bench_*; do
    [ -x "$bench" ] || continue
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" || status=1
done
for bench in "$build"/bench/bench_e2e_window "$build"/bench/bench_e2e_process; do
    [ -x "$bench" ] || continue
    "$bench" --x11 || status=1
done
exit $status
