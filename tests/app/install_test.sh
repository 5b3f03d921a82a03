#!/usr/bin/env bash
# Installs the build into a scratch prefix: the program, the hook library, the desktop entry and
# the icons land there, and the installed program loads the installed hook library.
set -euo pipefail
prefix=$(mktemp -d /tmp/brintel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
hook=$(readlink -f "$(find "$prefix" -name libzorvane.so.1 | head -1)")
fail=0
for file in bin/brintelshot share/applications/brintelshot.desktop \
    share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/brintelshot.png; do
    [ -e "$prefix/$file" ] || { echo "missing: $file"; fail=1; }
done
grep -q '^Exec=brintelshot$' "$prefix/share/applications/brintelshot.desktop" || { echo "desktop entry lacks Exec"; fail=1; }
loaded=$(ldd "$prefix/bin/brintelshot" | awk '/libzorvane/ {print $3}')
[ -n "$hook" ] && [ "$(readlink -f "$loaded")" = "$hook" ] || { echo "installed program loads the hook from '$loaded'"; fail=1; }
exit $fail
