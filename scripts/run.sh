#!/usr/bin/env bash
# Sets up, builds and starts BrintelShot in the current directory (where it saves its files).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
(cd "$root" && bash scripts/build.sh)
exec "$root/build/src/app/brintelshot" "$@"
