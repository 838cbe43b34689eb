#!/usr/bin/env bash
# Runs every benchmark program under <build>/bench; each prints lines of the
# form "name: value unit".
set -euo pipefail
build=${1:-build}
status=0
while IFS= read -r bench; do
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" || status=1
done < <(find "$build/bench" -type f -name 'bench_*' -perm -u+x | sort)
exit $status
