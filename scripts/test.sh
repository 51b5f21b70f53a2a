#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless.
# MARLO_SANITIZE=address|thread builds into its own folder with that sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
san="${MARLO_SANITIZE:-}"
build="build${san:+-$san}"
cmake -S . -B "$build" -G Ninja -DMARLO_SANITIZE="$san" >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
