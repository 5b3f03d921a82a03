#!/usr/bin/env bash
# Sets up, builds and starts BrintelShot in the current directory (where it saves its files).
set -euo pipefail
here=$(pwd)
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
bash "$root/scripts/build.sh"
if [ -x "$root/build/src/app/brintelshot" ]; then
  cd "$here"
  exec "$root/build/src/app/brintelshot" "$@"
fi
echo "BrintelShot is not complete yet: the libraries and tests are built in $root/build."
