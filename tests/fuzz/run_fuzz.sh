#!/usr/bin/env bash
# Builds a fuzzer (the evaluation's by default) with clang in its own build
# tree and runs it briefly. Exit 77 (reported as SKIPPED) when clang or
# libFuzzer is missing. Fuzzers sharing a WORK_DIR share its build tree, so
# CTest runs them one at a time (RESOURCE_LOCK); each keeps its own corpus.
# Usage: run_fuzz.sh SOURCE_DIR WORK_DIR [RUNS [SECONDS [FUZZER]]]
set -euo pipefail
src=$1
work=$2
runs=${3:-1000000}
seconds=${4:-20}
fuzzer=${5:-evaluation_fuzz}
corpus="$work/corpus"
[ "$fuzzer" = evaluation_fuzz ] || corpus="$work/corpus-$fuzzer"

cxx=""
for c in clang++-14 clang++; do
    if command -v "$c" >/dev/null 2>&1; then
        cxx=$(command -v "$c")
        break
    fi
done
if [ -z "$cxx" ]; then
    echo "SKIPPED: no clang++ (Debian packages clang and libclang-rt-14-dev)"
    exit 77
fi

mkdir -p "$work"
probe="$work/probe.cpp"
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' >"$probe"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe" -o "$work/probe" >"$work/probe.log" 2>&1; then
    echo "SKIPPED: $cxx cannot link libFuzzer (Debian package libclang-rt-14-dev):"
    cat "$work/probe.log"
    exit 77
fi

cmake -S "$src/tests/fuzz" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROVA_SOURCE_DIR="$src" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j 2 --target "$fuzzer"

# A crash's stack names functions and lines only through the symbolizer of
# the same LLVM as the compiler (Debian package llvm).
symbolizer=""
for s in "llvm-symbolizer${cxx##*clang++}" llvm-symbolizer; do
    if command -v "$s" >/dev/null 2>&1; then
        symbolizer=$(command -v "$s")
        break
    fi
done
if [ -n "$symbolizer" ]; then
    export ASAN_SYMBOLIZER_PATH="$symbolizer"
else
    echo "run_fuzz: no llvm-symbolizer (Debian package llvm): a crash shows bare addresses"
fi

# Files are longer than the binary inputs: the demo drives file is 13 kB.
case "$fuzzer" in
simulated_drives_fuzz) max_len=16384 ;;
settings_file_fuzz) max_len=4096 ;;
*) max_len=1700 ;;
esac

mkdir -p "$corpus"
# The seeds kept in the repository start each run; new finds go to the
# build tree's corpus, which keeps them for later runs. A crashing input is
# left in $work. Rejected inputs print a line each on standard error, so it is
# closed; libFuzzer still shows its own output and the sanitizers' reports.
seeds="$src/tests/fuzz/corpus/$fuzzer"
"$work/build/$fuzzer" -runs="$runs" -max_total_time="$seconds" -max_len="$max_len" \
    -rss_limit_mb=2048 -close_fd_mask=2 -artifact_prefix="$work/$fuzzer-" \
    -print_final_stats=1 "$corpus" "$seeds"
