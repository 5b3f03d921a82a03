#!/usr/bin/env bash
# Installs every Debian package BrintelShot needs to build, test, benchmark and run.
# Idempotent: packages already present are left alone and apt is not touched at all.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config clang-format
  # user interface, X11, keyboard hook
  qt6-base-dev libx11-dev libxcb1-dev libxext-dev libxi-dev libxdamage-dev libxfixes-dev libgl-dev
  # imaging and video
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libxvidcore-dev libyuv-dev
  # opening the output folder and the help page (xdg-open)
  xdg-utils
  # sound: the PulseAudio client library (PulseAudio and PipeWire desktops) and MP3
  libpulse-dev libmp3lame-dev
  # fonts with Hangul for the caption band and dialogs
  fonts-nanum
  # tests and benchmarks
  libgtest-dev xvfb openbox trayer ffmpeg xdotool xclip x11-utils imagemagick
  # the tests' sound server: PipeWire with its pulse server on a session bus, and pactl/pacat
  dbus pipewire wireplumber pipewire-pulse pulseaudio-utils
  # checks of the installed metainfo
  appstream
  # frames on Wayland desktops, and the headless GNOME session its tests run on
  libpipewire-0.3-dev mutter xwayland xdg-desktop-portal xdg-desktop-portal-gnome dbus-bin
  libglib2.0-bin
  # the headless KDE session of the global-keys test: KWin, the KDE portal (GlobalShortcuts),
  # kglobalaccel and Qt 5's Wayland platform for KWin
  kwin-wayland xdg-desktop-portal-kde libkf5globalaccel-bin qtwayland5
  # a second player's view of the files (GStreamer's AVI demuxer and libav's MPEG-4 decoder)
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

wait_for_dpkg_lock() {
  command -v fuser >/dev/null 2>&1 || return 0
  local tries=0
  while fuser /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ $tries -gt 300 ] && { echo "setup-deps: dpkg is still locked after 5 minutes" >&2; return 1; }
    sleep 1
  done
}

export DEBIAN_FRONTEND=noninteractive
echo "setup-deps: installing ${missing[*]}"
wait_for_dpkg_lock
$SUDO apt-get update -qq
wait_for_dpkg_lock
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
