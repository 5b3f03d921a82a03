#!/usr/bin/env bash
# Runs a command on a private X desktop as a user has one: Xvfb 1920x1080x24, the openbox
# window manager and the trayer notification-area host. Everything started here is ended
# when the command ends; its exit status is the command's.
#   scripts/with-desktop.sh [--bare] COMMAND...   (--bare: no window manager, no tray host;
#   BRINTEL_SCREEN=3840x2160x24 gives another screen size)
set -uo pipefail

bare=0
[ "${1:-}" = "--bare" ] && { bare=1; shift; }

runtime=$(mktemp -d /tmp/brintel-runtime.XXXXXX)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the given descriptor once it
# accepts connections, so two desktops started at the same moment never share a number.
Xvfb -displayfd 3 -screen 0 "${BRINTEL_SCREEN:-1920x1080x24}" -noreset -nolisten tcp 3>"$runtime/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$runtime/display" ] && break; sleep 0.05; done
[ -s "$runtime/display" ] || { echo "with-desktop: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$runtime/display")

if [ $bare -eq 0 ]; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done
  trayer --edge bottom --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xprop -root 2>/dev/null | grep -q '_NET_SYSTEM_TRAY_S0\|MANAGER' && break; xwininfo -root -tree 2>/dev/null | grep -qi trayer && break; sleep 0.05; done
fi

"$@"
