#!/usr/bin/env bash
# Takes the README's pictures of the time margin and of the input line: runs
# scripts/demo.sh on a virtual X display, types a few commands at the
# target's prompt, switches the margin on (Alt+Insert) and saves the window,
# then opens the input line (F4), sends a line from it and saves the window
# again. Needs the display tools (scripts/install-deps.sh
# --with-display-tools) and a built tree.
#   scripts/timestamps-screenshot.sh [BUILD_DIR] [MARGIN.png] [INPUT_LINE.png]
set -euo pipefail

build=${1:-build}
margin_png=${2:-docs/timestamps.png}
input_png=${3:-docs/input-line.png}
if [ -z "${QX_SCREENSHOT_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" env QX_SCREENSHOT_DISPLAY=1 "$0" "$build" \
        "$margin_png" "$input_png"
fi

export QT_QPA_PLATFORM=xcb
./scripts/demo.sh "$build" >/dev/null 2>&1 &
demo=$!
window=$(xdotool search --sync --onlyvisible --name 'Qx-Console' | head -n 1)
sleep 3 # the boot log, the width question and its answer
xdotool windowsize --sync "$window" 900 560
sleep 1
xdotool windowfocus --sync "$window"
xdotool key alt+Insert
sleep 1
for keys in 'clear' 'version' 'size'; do
    xdotool type --delay 40 "$keys"
    xdotool key Return
    sleep 1.2
done
sleep 2
mkdir -p "$(dirname "$margin_png")" "$(dirname "$input_png")"
import -window "$window" "$margin_png"

xdotool key F4
sleep 1
for keys in 'help' 'version'; do
    xdotool type --delay 40 "$keys"
    xdotool key Return
    sleep 1.2
done
xdotool type --delay 40 'AT+CSQ\r\n'
sleep 2
import -window "$window" "$input_png"
xdotool windowkill "$window"
wait "$demo" || true
echo "saved $margin_png and $input_png"
