#!/usr/bin/env python3
# Checks the relative links of README.md, ARCHITECTURE.md and docs/*.md: each
# names a file of the repository and, after a '#', a heading of that file (its
# anchor as the forges make it). Prints one line per broken link; fails on any.
import pathlib, re, sys


def anchors(path):
    text = re.sub(r"^```.*?^```", "", path.read_text(encoding="utf-8"), flags=re.S | re.M)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-")
            for h in re.findall(r"^#+ (.*)$", text, re.M)}


def main():
    top = pathlib.Path(sys.argv[1]) if len(sys.argv) == 2 else None
    if top is None or not (top / "README.md").is_file():
        sys.exit("usage: check_doc_links.py REPOSITORY")
    pages = [top / "README.md", top / "ARCHITECTURE.md", *sorted((top / "docs").glob("*.md"))]
    faults = []
    for page in pages:
        text = re.sub(r"^```.*?^```", "", page.read_text(encoding="utf-8"), flags=re.S | re.M)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue
            name, _, anchor = target.partition("#")
            linked = (page.parent / name) if name else page
            if not linked.exists():
                faults.append(f"{page.relative_to(top)}: {target} names no file")
            elif anchor and anchor not in anchors(linked):
                faults.append(f"{page.relative_to(top)}: {target} names no heading")
    print("\n".join(faults) or f"{len(pages)} pages checked, no broken links")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
