#!/usr/bin/env python3
"""Reads tests/mutation/faults.txt for run.sh.

  fault.py FAULTS numbers            the fault numbers, one a line
  fault.py FAULTS show N             "file<TAB>ctest arguments<TAB>description"
  fault.py FAULTS apply N ROOT       plants fault N in its file under ROOT;
                                     exit 3 (STALE) unless the original text
                                     is there exactly once
"""
import sys


def parse(path):
    faults, fault, part = {}, None, None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if part in ("old", "new"):
                if line in ("===", ">>>"):
                    if line == "===" and part == "old":
                        part = "new"
                    elif line == ">>>" and part == "new":
                        part = None
                    else:
                        sys.exit(f"{path}: fault {fault['n']}: misplaced {line}")
                else:
                    fault[part].append(line)
            elif line.startswith("@@ "):
                head, _, ctest = line[3:].partition(" :: ")
                number, _, file = head.strip().partition(" ")
                fault = {"n": int(number), "file": file.strip(), "ctest": ctest.strip(),
                         "what": "", "old": [], "new": []}
                if fault["n"] in faults:
                    sys.exit(f"{path}: fault {number} appears twice")
                faults[fault["n"]] = fault
            elif line == "<<<" and fault is not None:
                part = "old"
            elif fault is not None and not fault["what"] and line and not line.startswith("#"):
                fault["what"] = line
    if part is not None:
        sys.exit(f"{path}: fault {fault['n']} is not closed with >>>")
    return faults


def text_of(lines):
    return "".join(line + "\n" for line in lines)


def main():
    faults = parse(sys.argv[1])
    command = sys.argv[2]
    if command == "numbers":
        print("\n".join(str(n) for n in sorted(faults)))
        return 0
    fault = faults.get(int(sys.argv[3]))
    if fault is None:
        sys.exit(f"no fault {sys.argv[3]}")
    if command == "show":
        print(f"{fault['file']}\t{fault['ctest']}\t{fault['what']}")
        return 0
    if command == "apply":
        path = f"{sys.argv[4]}/{fault['file']}"
        try:
            with open(path, encoding="utf-8", newline="") as f:
                content = f.read()
        except OSError as e:
            print(f"cannot read {path}: {e.strerror}", file=sys.stderr)
            return 3
        # Whole lines only: the text must start at a line's start.
        old = "\n" + text_of(fault["old"])
        found = ("\n" + content).count(old) if fault["old"] else 0
        if found != 1:
            print(f"original text found {found} times in {fault['file']}", file=sys.stderr)
            return 3
        planted = ("\n" + content).replace(old, "\n" + text_of(fault["new"]), 1)[1:]
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(planted)
        return 0
    sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    sys.exit(main())
