#!/usr/bin/env bash
# Plants each fault of tests/mutation/faults.txt in turn, rebuilds, runs the
# tests the fault names and puts the file back. Prints one line per fault:
#   CAUGHT  a selected test failed (or hung past the time limit)
#   MISSED  every selected test passed
#   BUILD   the fault did not compile (a fault to mend, not a catch)
#   STALE   the original text is not in the file exactly once
#   NOTESTS its ctest arguments choose no test any more
# and at the end "caught N of M" (M counts every fault that was run).
#
#   tests/mutation/run.sh [--build-dir DIR] [--only N[,N...]] [--jobs J]
#
# Takes minutes (one incremental build per fault); not part of CTest. Export
# CCACHE_DIR (and CCACHE_BASEDIR) to have the rebuilds of the restored files
# come from the cache. Refuses a tree with uncommitted changes, and restores
# the file of the planted fault on any exit, interrupts included.
set -u -f

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
faults=$here/faults.txt
build=$top/build
only=
jobs=2
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --only) only=,$2,; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR] [--only N[,N...]] [--jobs J]" >&2; exit 2 ;;
    esac
done

cd "$top" || exit 2
if ! git diff --quiet HEAD --; then
    echo "run.sh: the work tree has uncommitted changes; commit or stash them first" >&2
    exit 2
fi
command -v python3 >/dev/null || { echo "run.sh: python3 is needed" >&2; exit 2; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROVA_WERROR=ON \
        "${launcher[@]}" >/dev/null || { echo "run.sh: configure failed" >&2; exit 2; }
fi

logs=$(mktemp -d) || exit 2
backup=$logs/original
planted=

restore() {
    if [ -n "$planted" ]; then
        # A fresh time stamp, so that the next build compiles the original.
        cat "$backup" >"$top/$planted"
        planted=
    fi
}
# Builds and tests run in the background so that a signal is handled at
# once: timeout leads a process group of its own, which goes with it.
child=
interrupted() {
    [ -n "$child" ] && kill -TERM -- "-$child" 2>/dev/null
    wait
    restore
    exit 130
}
trap interrupted INT TERM HUP
trap restore EXIT
in_background() {
    "$@" &
    child=$!
    wait "$child"
    local status=$?
    child=
    return "$status"
}

build_tree() {
    in_background timeout 1800 cmake --build "$build" -j "$jobs" >"$1" 2>&1
}
run_tests() {
    # shellcheck disable=SC2086 # the arguments come from the fault list
    in_background timeout 1800 ctest --test-dir "$build" -j "$jobs" --timeout 300 \
        --stop-on-failure --no-tests=error -LE '^(fuzz|qemu|bench)$' $2 >"$1" 2>&1
}

selected=()
for n in $(python3 "$here/fault.py" "$faults" numbers) ; do
    case $only in "" | *,$n,*) selected+=("$n") ;; esac
done

# A catch only counts when the tests pass without the fault.
start=$(date +%s)
if ! build_tree "$logs/clean-build.log"; then
    echo "run.sh: the unchanged tree does not build; see $logs/clean-build.log" >&2
    exit 1
fi
if ! run_tests "$logs/clean-tests.log" ""; then
    echo "run.sh: tests fail on the unchanged tree; see $logs/clean-tests.log" >&2
    exit 1
fi

caught=0
total=0
stale=0
for n in "${selected[@]}"; do
    IFS=$'\t' read -r file args what < <(python3 "$here/fault.py" "$faults" show "$n")
    t0=$(date +%s)
    cp "$top/$file" "$backup"
    if ! python3 "$here/fault.py" "$faults" apply "$n" "$top" 2>"$logs/$n.apply"; then
        printf '%2d STALE   %s: %s\n' "$n" "$file" "$(cat "$logs/$n.apply")"
        stale=$((stale + 1))
        continue
    fi
    planted=$file
    total=$((total + 1))
    if ! build_tree "$logs/$n.build"; then
        verdict=BUILD
    elif run_tests "$logs/$n.tests" "$args"; then
        verdict=MISSED
    elif grep -q "No tests were found" "$logs/$n.tests"; then
        verdict=NOTESTS # the labels it names have gone: mend the fault's arguments
    else
        verdict=CAUGHT
        caught=$((caught + 1))
    fi
    restore
    printf '%2d %-7s %s (%s; %ds)\n' "$n" "$verdict" "$what" "$file" $(($(date +%s) - t0))
done

# Leave the build tree matching the sources.
build_tree "$logs/final-build.log" || echo "run.sh: the final rebuild failed; see $logs" >&2
[ "$stale" -gt 0 ] && echo "$stale fault(s) STALE: mend their original text in $faults"
echo "caught $caught of $total in $(($(date +%s) - start)) s; logs in $logs"
