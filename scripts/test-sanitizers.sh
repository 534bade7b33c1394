#!/usr/bin/env bash
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (the asan preset, build-asan/), the soak included. The QEMU test is left out:
# its probe must be static, which the sanitizer runtimes are not. The fuzzers
# (their own sanitized clang build) and the benchmarks (timings the sanitizers
# distort) run in the ordinary suite only. Any sanitizer report fails a test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)"
