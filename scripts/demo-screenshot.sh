#!/usr/bin/env bash
# Takes the README's picture of the demo: runs scripts/demo.sh on a virtual
# X display, waits for the window, types a few commands at the target's
# prompt and saves the window as a PNG. Needs the display tools
# (scripts/install-deps.sh --with-display-tools) and a built tree.
#   scripts/demo-screenshot.sh [BUILD_DIR] [OUTPUT.png]
set -euo pipefail

build=${1:-build}
output=${2:-docs/vt-demo.png}
if [ -z "${QX_SCREENSHOT_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" env QX_SCREENSHOT_DISPLAY=1 "$0" "$build" "$output"
fi

export QT_QPA_PLATFORM=xcb
./scripts/demo.sh "$build" >/dev/null 2>&1 &
demo=$!
window=$(xdotool search --sync --onlyvisible --name 'Qx-Console' | head -n 1)
sleep 3 # the boot log, the width question and its answer
# A larger window, and the boot log again at its new width.
xdotool windowsize --sync "$window" 760 560
sleep 1
xdotool windowfocus --sync "$window"
for keys in 'clear' 'boot' 'size' 'colors'; do
    xdotool type --delay 40 "$keys"
    xdotool key Return
    sleep 1
done
# An earlier line brought back and edited: Up, Home, a word typed in front.
xdotool key Up Home
xdotool type --delay 40 'ver '
sleep 3 # the size shown after the resize gives way to the status texts
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
xdotool windowkill "$window"
wait "$demo" || true
echo "saved $output"
