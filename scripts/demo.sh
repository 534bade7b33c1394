#!/usr/bin/env bash
# Installs what is missing, builds the monitor and starts it on the demo drives.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target zentrova
mkdir -p build/demo
cd build/demo
ZENTROVA_SIMULATED_DRIVES="$PWD/../../share/demo-drives.json" exec ../monitor/zentrova
