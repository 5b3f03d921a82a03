#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the program, the hook library, the
# desktop entry and the icons land there, and that the program finds the installed hook library.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d /tmp/brintel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'libzorvane.so.1' -printf '%h\n' | head -1)
fail=0
check() { [ -e "$1" ] || { echo "missing: ${1#$prefix/}"; fail=1; }; }
check "$prefix/bin/brintelshot"
check "$libdir/libzorvane.so.1"
check "$prefix/share/applications/brintelshot.desktop"
for size in 16 32 48 256; do check "$prefix/share/icons/hicolor/${size}x${size}/apps/brintelshot.png"; done
grep -q '^Exec=brintelshot$' "$prefix/share/applications/brintelshot.desktop" || { echo "desktop entry lacks Exec"; fail=1; }
resolved=$(ldd "$prefix/bin/brintelshot" | awk '/libzorvane/ {print $3}')
[ "$resolved" = "$(readlink -f "$libdir/libzorvane.so.1")" ] || [ "$(readlink -f "$resolved")" = "$(readlink -f "$libdir/libzorvane.so.1")" ] || { echo "installed program loads the hook from '$resolved'"; fail=1; }
exit $fail
