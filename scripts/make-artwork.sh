#!/usr/bin/env bash
# Redraws the monitor's artwork (monitor/resources/images) with the project's
# own drawing program.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target zentrova_artwork
build/monitor/zentrova_artwork monitor/resources/images
