#!/usr/bin/env bash
# Sets up, builds and runs every test. Desktop tests run on a private X desktop
# (Xvfb, openbox, trayer) with a private sound server (PipeWire) started here, so the user's own
# session is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
bash scripts/build.sh
cd build
exec ../scripts/with-desktop.sh --sound ctest --output-on-failure -j "$(nproc)" "$@"
