#!/usr/bin/env bash
# Builds the programs alone (the product preset, in build-product/) and makes
# the Debian package build-product/zentrova_<version>_amd64.deb from them with
# CPack (packaging/CMakeLists.txt says what goes in). Install it with
#   sudo apt install ./build-product/zentrova_<version>_amd64.deb
# BUILD_DIR names another build folder of the product preset.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build-product}"

scripts/deps.sh product
cmake --preset product -B "$build_dir"
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
cpack -G DEB --config CPackConfig.cmake
version=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_VERSION "\(.*\)")$/\1/p' CPackConfig.cmake)
echo "package.sh: made $build_dir/zentrova_${version}_amd64.deb"
