#!/usr/bin/env bash
# Runs a command inside a private headless Wayland desktop session, as a desktop user has one:
# the desktop's compositor (with XWayland) on a 1920x1080 virtual monitor, PipeWire with
# WirePlumber, and the desktop portal with the desktop's backend started by D-Bus activation on a
# private session bus.
#   gnome  mutter and the GNOME portal. The screen-sharing permission is granted beforehand under
#          a fresh restore token, which is stored in the program's settings, so no dialog appears.
#   kde    KWin and the KDE portal, whose GlobalShortcuts portal binds keys in kglobalaccel (also
#          started by D-Bus activation). Its screen-sharing dialog needs Plasma's QML modules,
#          which are not installed: sharing the screen is refused there.
# The command sees DISPLAY (XWayland), WAYLAND_DISPLAY, XAUTHORITY and XDG_CONFIG_HOME (private).
# Everything started here ends with the command; its exit status is the command's.
# From root, the session runs as the user nobody (as a desktop user's would) when that user can
# run the command.
#   scripts/with-wayland.sh gnome|kde COMMAND...
set -uo pipefail
self=$(readlink -f "$0")

if [ "${1:-}" != "--in-session" ]; then
  desktop=${1:-}
  case "$desktop" in
  gnome | kde) shift ;;
  *) echo "usage: $0 gnome|kde COMMAND..." >&2; exit 2 ;;
  esac
  base=$(mktemp -d "/tmp/brintel-$desktop.XXXXXX")
  chmod 755 "$base"
  as_user=()
  nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  # Root stays root only where nobody cannot reach the command (a checkout under /root).
  if [ "$(id -u)" -eq 0 ] && "${nobody[@]}" test -x "$(command -v "$1")"; then
    chown nobody:nogroup "$base"
    as_user=("${nobody[@]}")
  fi
  # The desktop's own messages go to a log, shown when the command fails.
  "${as_user[@]}" env -i PATH="$PATH" LANG=C.UTF-8 BASE="$base" DESKTOP="$desktop" \
    dbus-run-session -- bash "$self" --in-session "$@" 3>&2 2>"$base/session.log"
  status=$?
  [ $status -eq 0 ] || cat "$base/session.log" "$base/compositor.log" >&2 2>/dev/null
  # The document portal mounts its folder where FUSE lets it (as root).
  fusermount3 -u -z "$base/runtime/doc" 2>/dev/null
  rm -rf "$base"
  exit $status
fi
shift

mkdir -p "$BASE/runtime" "$BASE/home" "$BASE/config/Brintel Shot"
chmod 700 "$BASE/runtime"
export XDG_RUNTIME_DIR=$BASE/runtime HOME=$BASE/home XDG_CONFIG_HOME=$BASE/config
export XDG_SESSION_TYPE=wayland NO_AT_BRIDGE=1 WAYLAND_DISPLAY=brintel-wayland

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
fail() { echo "with-wayland: $*" >&3; exit 1; }

# Only the desktop's own portal backends, as its install has them: the portal would otherwise
# serve an interface the desktop lacks (GNOME: GlobalShortcuts) from another desktop's backend.
use_portal_backends() {
  export XDG_DESKTOP_PORTAL_DIR=$BASE/portals
  mkdir -p "$XDG_DESKTOP_PORTAL_DIR"
  for backend in "$@"; do
    ln -s "/usr/share/xdg-desktop-portal/portals/$backend.portal" "$XDG_DESKTOP_PORTAL_DIR/"
  done
}

# mutter names XWayland's display in its log.
start_gnome() {
  export XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=memory
  use_portal_backends gnome gtk
  mutter --headless --wayland --virtual-monitor 1920x1080 \
    --wayland-display="$WAYLAND_DISPLAY" >"$BASE/compositor.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 600); do grep -q "Using public X11 display" "$BASE/compositor.log" && break; sleep 0.1; done
  display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$BASE/compositor.log" | head -n 1)
  [ -n "$display" ] || fail "mutter did not start XWayland"
  export DISPLAY=$display
  export XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
}

# KWin gives XWayland's display only to the program it starts, which hands it over in a file.
# /usr/bin/kwin_wayland carries a file capability (cap_sys_resource) that a container may not
# grant, so a copy without it runs. The screen locker would lock the idle session.
start_kde() {
  export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true
  use_portal_backends kde
  printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$XDG_CONFIG_HOME/kscreenlockerrc"
  cp /usr/bin/kwin_wayland "$BASE/kwin_wayland"
  printf '#!/bin/sh\nenv | grep -E "^(DISPLAY|XAUTHORITY)=." >"$0.tmp"; mv "$0.tmp" "$0.env"\n' >"$BASE/xwayland"
  chmod 755 "$BASE/xwayland"
  "$BASE/kwin_wayland" --virtual --width 1920 --height 1080 --xwayland \
    --socket "$WAYLAND_DISPLAY" -- "$BASE/xwayland" >"$BASE/compositor.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 600); do [ -s "$BASE/xwayland.env" ] && break; sleep 0.1; done
  [ -s "$BASE/xwayland.env" ] || fail "kwin did not start XWayland"
  export $(cat "$BASE/xwayland.env")
}

start_$DESKTOP

pipewire >"$BASE/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
wireplumber >"$BASE/wireplumber.log" 2>&1 &
pids+=($!)

dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP \
  XDG_SESSION_TYPE GSETTINGS_BACKEND HOME NO_AT_BRIDGE XDG_RUNTIME_DIR XDG_CONFIG_HOME \
  KDE_FULL_SESSION XDG_DESKTOP_PORTAL_DIR

# What the GNOME portal stores itself when "Remember this selection" is ticked: the virtual
# monitor, shared as a monitor.
seed_screencast_permission() {
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
  printf '[screencast]\nrestore_token=%s\n' "$token" >"$XDG_CONFIG_HOME/Brintel Shot/BrintelShot.ini"
}
[ "$DESKTOP" != gnome ] || seed_screencast_permission

"$@" 2>&3 3>&-
