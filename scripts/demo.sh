#!/usr/bin/env bash
# Shows Qx-Console at work without a board: starts the virtual target
# (qx-target, echo and boot loader on a pseudo-terminal), makes a demo
# application directory <build>/demo with the program, a settings file that
# maps COM1 to the target, a few macros and a sample S-Record file, and
# starts the program there. The target stops when the program ends.
#   scripts/demo.sh [BUILD_DIR]      (make demo builds first)
set -euo pipefail

build=${1:-build}
console="$build/app/qx-console"
target="$build/tools/qx-target"
demo="$build/demo"
sample_records=3000

for program in "$console" "$target"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; run 'make demo' (it builds first)." >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "demo: no graphical session found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "      Run 'make demo' from a terminal on your desktop." >&2
    exit 1
fi

mkdir -p "$demo"
# The program keeps its settings beside its executable, so the demo needs a
# copy of its own (a symbolic link would lead back to the build directory).
cp -f "$console" "$demo/qx-console"
"$target" --make-srec "$sample_records" "$demo/sample.s19" >/dev/null

target_log="$demo/target.log"
# The target's terminal is reached through a link, as a USB adapter is
# through /dev/serial/by-id; every 45 s it is "unplugged" for 4 s.
link="$(cd "$demo" && pwd)/ttyDEMO"
# It plays a board's console for a VT terminal: a coloured boot log, then a
# line editor; every entered line also reaches its boot loader.
"$target" --vt --loader '#42' --link "$link" --unplug-every 45000 --unplug-for 4000 \
    >"$target_log" 2>&1 &
target_pid=$!
stop_target() {
    if kill -0 "$target_pid" 2>/dev/null; then
        kill -TERM "$target_pid" 2>/dev/null || true
        wait "$target_pid" 2>/dev/null || true
    fi
    echo
    echo "The virtual target's summary:"
    sed -n '2,$p' "$target_log" | sed 's/^/  /'
}
trap stop_target EXIT

pty=""
for _ in $(seq 50); do
    pty=$(head -n 1 "$target_log" 2>/dev/null || true)
    case "$pty" in /dev/*) break ;; esac
    sleep 0.1
done
case "$pty" in
/dev/*) ;;
*)
    echo "demo: the virtual target did not start:" >&2
    cat "$target_log" >&2
    exit 1
    ;;
esac

# A fresh settings file each time: the target's terminal changes every run.
# The VT emulation shows the colours and UTF-8 and answers the target's
# question for the cursor position. The target's line editor echoes, so
# local echo stays off; Enter sends CR LF, and the loader answers "*" after
# every line. "<qxroot>" stands for the
# program's directory and is expanded at the first start.
printf '%s\r\n' \
    '[COM-Device]' 'Port=COM1' 'Baudrate=115200' 'Databits=8' 'Stopbits=1' 'Parity=none' \
    '[Terminal]' 'Emulation=VT' 'Echo=0' 'CRLF(In)=0' 'CRLF(Out)=1' \
    '[Macros]' \
    'Macro0=help#13#10' \
    'Macro1=version#13#10' \
    'Macro2=AT#13#10#27T500ATI#13#10' \
    'Macro3=S1130000000102030405060708090A0B0C0D0E0F74#13#10' \
    'Macro4=#12' \
    '[Transfer]' 'SyncMode=ACKNOWLEDGED' 'SyncSequ=#42' 'LastFile=<qxroot>sample.s19' \
    '[Devices]' "COM1=$link" \
    >"$demo/Console.ini"

cat <<TEXT
Qx-Console demo: COM1 is the virtual target on $pty (through $link).
  - The target starts like a board: a coloured boot log (with "25.4 °C" and
    some CJK text), then it asks the terminal for its width and draws a rule
    across it, and its prompt "qx>" waits.
  - Type at the prompt: Left/Right, Home/End, Backspace/Delete edit the
    line, Up/Down bring back earlier lines; "help" lists the commands,
    "colors" shows the palette; after each line its boot loader answers "*".
  - Pick a macro in the macro box and press Send (or Shift+Ctrl+A for the
    first, B for the second ...); the third one pauses 500 ms in the middle,
    the last one (#12, form feed) clears the screen.
  - Download... sends $demo/sample.s19 line by line, each line
    acknowledged with "*"; the summary below counts the records.
  - Every 45 s the target drops the line for 4 s, as a pulled USB adapter
    would: the status bar says "COM1: disconnected" and the port comes back
    on its own (the board starts again); a running recording (Logfile...)
    notes both moments.
Close the window to end the demo.
TEXT
(cd "$demo" && ./qx-console)
