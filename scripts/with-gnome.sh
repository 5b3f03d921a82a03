#!/usr/bin/env bash
# Runs a command inside a private headless GNOME Wayland session, as a desktop user has one:
# mutter (with XWayland) on a 1920x1080 virtual monitor, PipeWire with WirePlumber, and the
# desktop portal with its GNOME backend started by D-Bus activation on a private session bus.
# The screen-sharing permission is granted beforehand under a fresh restore token, which is
# stored in the program's settings (under a private XDG_CONFIG_HOME), so no dialog appears.
# The command sees DISPLAY (XWayland), WAYLAND_DISPLAY, XAUTHORITY and XDG_CONFIG_HOME.
# Everything started here ends with the command; its exit status is the command's.
# From root, the session runs as the user nobody (as a desktop user's would) when that user can
# run the command.
#   scripts/with-gnome.sh COMMAND...
set -uo pipefail
self=$(readlink -f "$0")

if [ "${1:-}" != "--in-session" ]; then
  base=$(mktemp -d /tmp/brintel-gnome.XXXXXX)
  chmod 755 "$base"
  as_user=()
  nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  # Root stays root only where nobody cannot reach the command (a checkout under /root).
  if [ "$(id -u)" -eq 0 ] && "${nobody[@]}" test -x "$(command -v "$1")"; then
    chown nobody:nogroup "$base"
    as_user=("${nobody[@]}")
  fi
  # The desktop's own messages go to a log, shown when the command fails.
  "${as_user[@]}" env -i PATH="$PATH" LANG=C.UTF-8 BASE="$base" \
    dbus-run-session -- bash "$self" --in-session "$@" 3>&2 2>"$base/session.log"
  status=$?
  [ $status -eq 0 ] || cat "$base/session.log" "$base/mutter.log" >&2 2>/dev/null
  # The document portal mounts its folder where FUSE lets it (as root).
  fusermount3 -u -z "$base/runtime/doc" 2>/dev/null
  rm -rf "$base"
  exit $status
fi
shift

mkdir -p "$BASE/runtime" "$BASE/home" "$BASE/config"
chmod 700 "$BASE/runtime"
export XDG_RUNTIME_DIR=$BASE/runtime HOME=$BASE/home XDG_CONFIG_HOME=$BASE/config
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
fail() { echo "with-gnome: $*" >&3; exit 1; }

export WAYLAND_DISPLAY=brintel-wayland
mutter --headless --wayland --virtual-monitor 1920x1080 \
  --wayland-display="$WAYLAND_DISPLAY" >"$BASE/mutter.log" 2>&1 &
pids+=($!)
# XWayland starts when the compositor is ready; its log names the display.
for _ in $(seq 600); do grep -q "Using public X11 display" "$BASE/mutter.log" && break; sleep 0.1; done
display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$BASE/mutter.log" | head -n 1)
[ -n "$display" ] || fail "mutter did not start XWayland"
export DISPLAY=$display
export XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)

pipewire >"$BASE/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
wireplumber >"$BASE/wireplumber.log" 2>&1 &
pids+=($!)

dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP \
  XDG_SESSION_TYPE GSETTINGS_BACKEND HOME NO_AT_BRIDGE XDG_RUNTIME_DIR

# What the GNOME portal stores itself when "Remember this selection" is ticked: the virtual
# monitor, shared as a monitor.
token=$(cat /proc/sys/kernel/random/uuid)
now=$(($(date +%s%N) / 1000))
store=(--session --dest org.freedesktop.impl.portal.PermissionStore
  --object-path /org/freedesktop/impl/portal/PermissionStore
  --method org.freedesktop.impl.portal.PermissionStore)
gdbus call "${store[@]}.SetPermission" screencast true "$token" '' "['yes']" >/dev/null ||
  fail "the permission store did not answer"
gdbus call "${store[@]}.SetValue" screencast true "$token" \
  "<('GNOME', uint32 1, <(int64 $now, int64 $now, [(uint32 0, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>" \
  >/dev/null || fail "the permission store did not take the value"
mkdir -p "$XDG_CONFIG_HOME/Brintel Shot"
printf '[screencast]\nrestore_token=%s\n' "$token" >"$XDG_CONFIG_HOME/Brintel Shot/BrintelShot.ini"

"$@" 2>&3 3>&-
