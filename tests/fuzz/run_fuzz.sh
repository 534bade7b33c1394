#!/usr/bin/env bash
# Builds a fuzzer (the evaluation's by default) with clang in its own build
# tree and runs it briefly. Exit 77 (reported as SKIPPED) when clang or
# libFuzzer is missing. Fuzzers sharing a WORK_DIR share its build tree, so
# CTest runs them one at a time (RESOURCE_LOCK); each keeps its own corpus.
# Usage: run_fuzz.sh SOURCE_DIR WORK_DIR [RUNS [SECONDS [FUZZER]]]
set -euo pipefail
src=$1 work=$2 runs=${3:-1000000} seconds=${4:-20} fuzzer=${5:-evaluation_fuzz}
corpus="$work/corpus${5:+-$fuzzer}" # the evaluation's, named by default, in "corpus"

cxx=$(command -v clang++-14 || command -v clang++) ||
    { echo "SKIPPED: no clang++ (Debian packages clang and libclang-rt-14-dev)"; exit 77; }
mkdir -p "$work" "$corpus"
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
    "$cxx" -fsanitize=fuzzer,address,undefined -x c++ - -o "$work/probe" >"$work/probe.log" 2>&1; then
    echo "SKIPPED: $cxx cannot link libFuzzer (Debian package libclang-rt-14-dev):"
    cat "$work/probe.log"
    exit 77
fi

cmake -S "$src/tests/fuzz" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j 2 --target "$fuzzer"

# A crash's stack names functions and lines only through the symbolizer of
# the same LLVM as the compiler (Debian package llvm).
if symbolizer=$(command -v "llvm-symbolizer${cxx##*clang++}" || command -v llvm-symbolizer); then
    export ASAN_SYMBOLIZER_PATH="$symbolizer"
else
    echo "run_fuzz: no llvm-symbolizer (Debian package llvm): a crash shows bare addresses"
fi

# The seeds kept in the repository start each run; new finds go to the
# build tree's corpus, which keeps them for later runs. A crashing input is
# left in $work. Rejected inputs print a line each on standard error, so it is
# closed; libFuzzer still shows its own output and the sanitizers' reports.
# Inputs may grow to the largest seed (the demo drives file is 13 kB).
"$work/build/$fuzzer" -runs="$runs" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -close_fd_mask=2 -artifact_prefix="$work/$fuzzer-" -print_final_stats=1 \
    "$corpus" "$src/tests/fuzz/corpus/$fuzzer"
