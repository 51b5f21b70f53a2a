#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
if [ -x build/bin/marlo-video-converter ]; then
  exec build/bin/marlo-video-converter "$@"
fi
exec build/bin/marlo-convert --help
