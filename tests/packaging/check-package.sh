#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a scratch
# root, starts the program from there, and checks it with lintian and the
# desktop-entry and AppStream validators. Prints the package's sizes.
#   check-package.sh <build dir> <version>
set -euo pipefail
build=$1
version=$2

for tool in cpack dpkg-deb lintian appstreamcli desktop-file-validate readelf; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/package/*.deb)
dpkg-deb -x "$deb" "$scratch/root"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
out=$("$scratch/root/usr/bin/qx-console" --version)
[ "$out" = "Qx-Console $version" ] || fail "the installed program says '$out', not 'Qx-Console $version'"
zcat "$scratch/root/usr/share/man/man1/qx-console.1.gz" | grep -q "Qx-Console $version" \
    || fail "the manual page does not say version $version"
for program in qx-console qx-target; do
    if readelf -S "$scratch/root/usr/bin/$program" | grep -q '\.debug_info'; then
        fail "$program is not stripped"
    fi
done

echo "--- lintian"
lintian --allow-root --tag-display-limit 0 "$deb" | tee "$scratch/lintian.txt" || true
grep -q '^E: ' "$scratch/lintian.txt" && fail "lintian reports errors"

echo "--- appstreamcli validate"
appstreamcli validate --no-net "$scratch"/root/usr/share/metainfo/*.metainfo.xml || fail "AppStream metadata"

echo "--- desktop-file-validate"
desktop_out=$(desktop-file-validate "$scratch/root/usr/share/applications/qx-console.desktop" 2>&1) \
    || fail "desktop file"
[ -z "$desktop_out" ] || { echo "$desktop_out"; fail "desktop file draws remarks"; }

echo "--- sizes"
echo "package_bytes: $(stat -c %s "$deb")"
echo "installed_size_kib: $(dpkg-deb -f "$deb" Installed-Size)"
echo "unpacked_bytes: $(du -sb "$scratch/root" | cut -f1)"
exit $failed
