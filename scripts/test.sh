#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh all
cmake --preset default
cmake --build --preset default -j "$(nproc)"
# A test that fails is run once more on its own, so that a desktop test hit by
# the load of a parallel run shows as a failure in the log but a real fault,
# which fails twice, still fails the run.
ctest --preset default -j "$(nproc)" || {
    echo "Running the failed tests once more, one at a time:"
    ctest --preset default --rerun-failed
}
