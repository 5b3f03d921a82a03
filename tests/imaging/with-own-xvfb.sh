#!/usr/bin/env bash
# Runs a command on an X server of its own: Xvfb with the screen given in BRINTEL_XVFB_SCREEN
# (default 1920x1080x24), -noreset, no window manager. Xvfb picks a free display number itself
# (-displayfd), so tests started in parallel never share a server. The command's exit status
# is the script's.
set -uo pipefail
numberFile=$(mktemp /tmp/own-xvfb.XXXXXX)
Xvfb -displayfd 3 -screen 0 "${BRINTEL_XVFB_SCREEN:-1920x1080x24}" -noreset -nolisten tcp \
  3>"$numberFile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$numberFile"' EXIT
for _ in $(seq 200); do
  [ -s "$numberFile" ] || ! kill -0 $xvfb 2>/dev/null && break
  sleep 0.05
done
number=$(tr -dc '0-9' <"$numberFile")
[ -n "$number" ] || { echo "with-own-xvfb: Xvfb did not start" >&2; exit 1; }
DISPLAY=:$number "$@"
