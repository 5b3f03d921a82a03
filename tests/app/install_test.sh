#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the layout: the program, its hook library
# in a private folder (found through the program's run path, no development symlink), the help
# page, the desktop entry, the icons, the manual page, the AppStream metainfo and the licence.
# Then the installed program, started from another folder, loads its own hook library and
# opens its own help page with F1 (a stand-in xdg-open notes what it was asked to open).
set -euo pipefail
prefix=$(mktemp -d /tmp/brintel-install.XXXXXX)
program=
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program" 2>/dev/null
    rm -rf "$prefix"
}
trap cleanup EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
fail=0
for file in bin/brintelshot lib/brintelshot/libzorvane.so.1 share/brintelshot/help/index.html \
    share/applications/brintelshot.desktop share/man/man1/brintelshot.1 \
    share/metainfo/io.github.brintelshot.BrintelShot.metainfo.xml share/doc/BrintelShot/LICENSE \
    share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/brintelshot.png; do
    [ -e "$prefix/$file" ] || { echo "missing: $file"; fail=1; }
done
extra=$(find "$prefix" -name 'libzorvane.so' -o -path "$prefix/lib/libzorvane*")
[ -z "$extra" ] || { echo "hook library outside its private folder or with a development link: $extra"; fail=1; }
grep -q '^Exec=brintelshot$' "$prefix/share/applications/brintelshot.desktop" || { echo "desktop entry lacks Exec"; fail=1; }
appstreamcli validate --no-net "$prefix/share/metainfo/"*.metainfo.xml >/dev/null || { echo "metainfo does not validate"; fail=1; }
for option in help version capture record duration output cursor repair; do
    grep -qF -- "\\-\\-$option" "$prefix/share/man/man1/brintelshot.1" || { echo "manual page lacks --$option"; fail=1; }
done
grep -q 'GNU GENERAL PUBLIC LICENSE' "$prefix/share/doc/BrintelShot/LICENSE" || { echo "LICENSE is not the GPL"; fail=1; }

hook=$(readlink -f "$prefix/lib/brintelshot/libzorvane.so.1")
elsewhere=$(mktemp -d "$prefix/elsewhere.XXXXXX")
cd "$elsewhere"
loaded=$(ldd "$prefix/bin/brintelshot" | awk '/libzorvane/ {print $3}')
[ "$(readlink -f "$loaded")" = "$hook" ] || { echo "installed program loads the hook from '$loaded'"; fail=1; }
mkdir bin config
printf '#!/bin/sh\nprintf "%%s" "$1" > "%s/opened"\n' "$elsewhere" > bin/xdg-open
chmod +x bin/xdg-open
PATH="$elsewhere/bin:$PATH" XDG_CONFIG_HOME="$elsewhere/config" "$prefix/bin/brintelshot" >out 2>err &
program=$!
window=
for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --pid "$program" 2>/dev/null | while read -r w; do
        [ "$(xwininfo -id "$w" | awk '/Width:/ {print $2}')" -gt 100 ] && echo "$w"; done | head -1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "the installed program showed no capture window"; cat err; exit 1; }
xdotool windowactivate --sync "$window" key F1
for _ in $(seq 100); do [ -s opened ] && break; sleep 0.1; done
[ "$(cat opened 2>/dev/null)" = "file://$prefix/share/brintelshot/help/index.html" ] ||
    { echo "F1 opened '$(cat opened 2>/dev/null)'"; fail=1; }
grep -q 'Ctrl+1 will not work' err && { echo "the installed program has no hook"; cat err; fail=1; }
exit $fail
