#!/usr/bin/env python3
# Plants each fault of tests/mutation/faults.txt in turn, rebuilds, runs the
# tests the fault names and puts the file back. Prints one line per fault:
#   CAUGHT  a selected test failed (or hung past the time limit)
#   MISSED  every selected test passed
#   BUILD   the fault did not compile (a fault to mend, not a catch)
#   STALE   the original text is not in the file exactly once
#   NOTESTS its ctest arguments choose no test any more
# and at the end "caught N of M" (M counts every fault that was run).
#
#   tests/mutation/run.py [--build-dir DIR] [--only N[,N...]] [--jobs J]
#
# Refuses a tree with uncommitted changes, and restores the file of the
# planted fault on any exit, interrupts included.
import argparse, os, pathlib, re, shlex, signal, subprocess, sys, tempfile, time

TOP = pathlib.Path(__file__).resolve().parents[2]
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
LIMIT = 1800  # seconds for one build or one test run; a hang counts as a failure
# "@@ number file :: ctest arguments", a line saying what goes wrong, then the
# original text between <<< and ===, its replacement between === and >>>.
FAULT = re.compile(r"^@@ (\d+) (.+?) :: (.*)\n(.*)\n<<<\n((?:.*\n)*?)===\n((?:.*\n)*?)>>>$", re.M)


def run(command, log):
    # A process group of its own, so that a timeout or an interrupt ends all of it.
    with open(log, "w") as out:
        child = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return child.wait(timeout=LIMIT) == 0
        except subprocess.TimeoutExpired:
            return False
        finally:
            if child.poll() is None:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", type=pathlib.Path, default=TOP / "build")
    ap.add_argument("--only", type=lambda s: {int(n) for n in s.split(",")})
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    build = args.build_dir.resolve()
    os.chdir(TOP)
    if subprocess.run(["git", "diff", "--quiet", "HEAD", "--"]).returncode != 0:
        sys.exit("run.py: the work tree has uncommitted changes; commit or stash them first")
    # {number: (file, ctest arguments, description, original text, replacement)},
    # the texts as bytes, so that a file is put back exactly as it was.
    text = (TOP / "tests/mutation/faults.txt").read_text(encoding="utf-8")
    faults = {int(m[1]): (m[2], m[3], m[4], m[5].encode(), m[6].encode())
              for m in FAULT.finditer(text)}
    if len(faults) != len(re.findall(r"^@@ ", text, re.M)):
        sys.exit("run.py: a fault in faults.txt is malformed or its number appears twice")
    logs = pathlib.Path(tempfile.mkdtemp(prefix="mutation."))
    if not (build / "CMakeCache.txt").exists():
        sys.exit(f"run.py: configure {build} first (cmake --preset default)")

    def build_tree(log):
        return run(["cmake", "--build", build, "-j", str(args.jobs)], logs / log)

    def run_tests(log, selection):
        # The guest's tests take minutes: only a fault that names them runs them.
        left_out = "^(fuzz|bench)$" if "qemu" in selection else "^(fuzz|qemu|bench)$"
        return run(["ctest", "--test-dir", build, "-j", str(args.jobs), "--timeout", "300",
                    "--stop-on-failure", "--no-tests=error", "-LE", left_out,
                    *shlex.split(selection)], logs / log)

    # A catch only counts when the tests pass without the fault.
    start = time.time()
    if not build_tree("clean-build.log"):
        sys.exit(f"run.py: the unchanged tree does not build; see {logs}/clean-build.log")
    if not run_tests("clean-tests.log", ""):
        sys.exit(f"run.py: tests fail on the unchanged tree; see {logs}/clean-tests.log")
    caught = total = 0
    for n, (file, selection, what, old, new) in sorted(faults.items()):
        if args.only and n not in args.only:
            continue
        t0, path = time.time(), TOP / file
        original = path.read_bytes() if path.exists() else b""
        # Whole lines only: the text must start at a line's start.
        found = (b"\n" + original).count(b"\n" + old) if old else 0
        if found != 1:
            print(f"{n:2} STALE   {file}: original text found {found} times; mend it", flush=True)
            continue
        total += 1
        try:
            path.write_bytes((b"\n" + original).replace(b"\n" + old, b"\n" + new, 1)[1:])
            if not build_tree(f"{n}.build"):
                verdict = "BUILD"
            elif run_tests(f"{n}.tests", selection):
                verdict = "MISSED"
            elif "No tests were found" in (logs / f"{n}.tests").read_text(errors="replace"):
                verdict = "NOTESTS"  # the labels it names have gone: mend the fault's arguments
            else:
                verdict = "CAUGHT"
                caught += 1
        finally:
            # A fresh time stamp, so that the next build compiles the original;
            # a second interrupt waits until the file is whole again.
            signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
            path.write_bytes(original)
            signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
        print(f"{n:2} {verdict:7} {what} ({file}; {time.time() - t0:.0f}s)", flush=True)
    # Leave the build tree matching the sources.
    if not build_tree("final-build.log"):
        print(f"run.py: the final rebuild failed; see {logs}", file=sys.stderr)
    print(f"caught {caught} of {total} in {time.time() - start:.0f} s; logs in {logs}")


if __name__ == "__main__":
    for sig in SIGNALS:  # each one ends the run as an interrupt does
        signal.signal(sig, signal.default_int_handler)
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(130)
