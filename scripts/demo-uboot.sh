#!/usr/bin/env bash
# Shows Qx-Console loading images into a real boot loader: starts U-Boot
# (Debian's u-boot-qemu) in qemu-system-arm's virt machine with its UART on
# a pseudo-terminal, makes a demo application directory <build>/demo-uboot
# with the program, a settings file that maps COM1 to that terminal, macros
# for U-Boot's commands and a sample image (binary and S-Records), and
# starts the program there. QEMU stops when the program ends.
#   scripts/demo-uboot.sh [BUILD_DIR]      (make demo-uboot builds first)
set -euo pipefail

build=${1:-build}
console="$build/app/qx-console"
demo="$build/demo-uboot"
firmware=/usr/lib/u-boot/qemu_arm/u-boot.bin
# RAM of the virt machine starts at 0x40000000; U-Boot sits at its top.
load_address=40200000
sample_size=65536

if [ ! -x "$console" ]; then
    echo "demo-uboot: $console is missing; run 'make demo-uboot' (it builds first)." >&2
    exit 1
fi
if ! command -v qemu-system-arm >/dev/null || [ ! -f "$firmware" ]; then
    echo "demo-uboot: needs qemu-system-arm and u-boot-qemu (scripts/install-deps.sh)." >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "demo-uboot: no graphical session found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "            Run 'make demo-uboot' from a terminal on your desktop." >&2
    exit 1
fi

mkdir -p "$demo"
# The program keeps its settings beside its executable: a copy of its own.
cp -f "$console" "$demo/qx-console"

# The sample: random bytes, and the same bytes as S-Records from address 0
# (16 bytes a line), which "loads <address>" places at that address.
head -c "$sample_size" /dev/urandom >"$demo/sample.bin"
od -An -v -tx1 -w16 "$demo/sample.bin" | awk '
    function digit(h, i) { return index("0123456789abcdef", substr(h, i, 1)) - 1 }
    function byte(h) { return digit(h, 1) * 16 + digit(h, 2) }
    BEGIN { printf "S0030000FC\r\n" }
    {
        address = (NR - 1) * 16
        sum = NF + 3 + int(address / 256) + address % 256
        record = sprintf("S1%02X%04X", NF + 3, address)
        for (i = 1; i <= NF; i++) { record = record toupper($i); sum += byte($i) }
        printf "%s%02X\r\n", record, 255 - sum % 256
    }
    END { printf "S9030000FC\r\n" }' >"$demo/sample.srec"
# CRC-32 of the sample, as U-Boot's crc32 prints it (gzip's trailer holds it).
crc=$(gzip -c "$demo/sample.bin" | tail -c 8 | od -An -tx4 -N4 | tr -d ' ')
size_hex=$(printf '%x' "$sample_size")

qemu_log="$demo/qemu.log"
qemu-system-arm -M virt -nographic -nic none -bios "$firmware" \
    -chardev pty,id=uart -serial chardev:uart -monitor none >"$qemu_log" 2>&1 &
qemu_pid=$!
stop_qemu() {
    exec 3>&- 2>/dev/null || true
    if kill -0 "$qemu_pid" 2>/dev/null; then
        kill -TERM "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
    fi
}
trap stop_qemu EXIT

pty=""
for _ in $(seq 100); do
    pty=$(grep -o '/dev/pts/[0-9]*' "$qemu_log" 2>/dev/null | head -n 1 || true)
    [ -n "$pty" ] && break
    sleep 0.1
done
if [ -z "$pty" ]; then
    echo "demo-uboot: QEMU did not start:" >&2
    cat "$qemu_log" >&2
    exit 1
fi
# Held open for the whole demo, so that QEMU keeps the line between two
# opens by the program; a key typed at once stops U-Boot's autoboot and
# waits in the UART until U-Boot looks.
stty -F "$pty" raw -echo 115200
exec 3<>"$pty"
printf ' ' >&3
link="$(cd "$demo" && pwd)/ttyUBOOT"
ln -sfn "$pty" "$link"

# Enter sends CR alone: U-Boot runs the last command again on an empty line.
printf '%s\r\n' \
    '[COM-Device]' 'Port=COM1' 'Baudrate=115200' 'Databits=8' 'Stopbits=1' 'Parity=none' \
    '[Terminal]' 'Emulation=ASCII' 'Echo=0' 'CRLF(In)=0' 'CRLF(Out)=0' \
    '[Macros]' \
    'Macro0=version#13' \
    "Macro1=loady $load_address#13" \
    "Macro2=loads $load_address#13" \
    "Macro3=crc32 $load_address $size_hex#13" \
    'Macro4=bdinfo#13' \
    '[Transfer]' 'SyncMode=NONE' 'SyncSequ=#42' 'LastFile=<qxroot>sample.srec' \
    '[Devices]' "COM1=$link" \
    >"$demo/Console.ini"

cat <<TEXT
Qx-Console demo with U-Boot: COM1 is U-Boot's UART in QEMU on $pty (through $link).
  - Press Enter for U-Boot's prompt "=> "; type "help" for its commands.
  - Macros (macro box and Send, or Shift+Ctrl+A, B, ...): version,
    loady $load_address, loads $load_address, crc32 $load_address $size_hex, bdinfo.
  - YMODEM: send the "loady" macro, then Send File... with YMODEM and
    $demo/sample.bin; then the "crc32" macro.
  - S-Records: send the "loads" macro, then Download... $demo/sample.srec
    (no line synchronisation); then the "crc32" macro.
  - Either way crc32 must end in ==> $crc, the CRC-32 of the sample.
Close the window to end the demo (QEMU stops too).
TEXT
(cd "$demo" && ./qx-console)
