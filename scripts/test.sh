#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. A test
# that fails fails the run: none is run a second time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh all
cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --preset default -j "$(nproc)"
