#!/usr/bin/env python3
# Makes the welcome window's "What is new" page, share/guide/news.html, from
# CHANGELOG.md, whose newest version must be the one CMakeLists.txt builds.
# With --check it writes nothing and fails when the page is not the one the
# changelog makes (a test runs it so).
#
# The changelog is plain: "## version" and "### kind" headings, "- " items
# (continued by indented lines) and paragraphs; `code` and **bold** inline.
import html, os, pathlib, re, sys, tempfile

TOP = pathlib.Path(__file__).resolve().parents[1]
PAGE = TOP / "share/guide/news.html"

HEAD = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>What is new in Zentrova</title>
<link rel="stylesheet" href="guide.css">
</head>
<body>
<!-- Made from CHANGELOG.md by scripts/make-news-page.py: edit that file. -->
<h1>What is new in Zentrova</h1>
<p>What each version brought, newest first.</p>
"""
TAIL = """<nav>
<a href="backup.html">Backing up a drive</a> &middot;
<a href="drive-care.html">Caring for a drive</a> &middot;
<a href="smart.html">What S.M.A.R.T. tells you</a>
</nav>
</body>
</html>
"""


def inline(text):
    text = html.escape(text, quote=False)
    text = re.sub(r"`([^`]+)`", r"<code>\1</code>", text)
    return re.sub(r"\*\*(.+?)\*\*", r"<b>\1</b>", text)


def render(changelog):
    out, versions = [HEAD], []
    block, kind, in_list = [], None, False  # kind: "li" or "p" while a block is open

    def close(list_too):
        nonlocal block, kind, in_list
        if block:
            out.append(f"<{kind}>{inline(' '.join(block))}</{kind}>\n")
        block, kind = [], None
        if list_too and in_list:
            out.append("</ul>\n")
            in_list = False

    for line in changelog.splitlines():
        if line.startswith("#"):
            close(True)
            level, title = len(line) - len(line.lstrip("#")), line.lstrip("#").strip()
            if level == 2:
                versions.append(title.split()[0])
                title = "Zentrova " + title
            if versions and level in (2, 3):
                out.append(f"<h{level}>{inline(title)}</h{level}>\n")
        elif not versions:
            continue  # the file's own preamble is for its editors
        elif line.startswith("- "):
            close(False)
            if not in_list:
                out.append("<ul>\n")
            block, kind, in_list = [line[2:].strip()], "li", True
        elif not line.strip():
            close(False)
        elif line.startswith("  ") and kind == "li":
            block.append(line.strip())
        else:
            if kind != "p":
                close(True)
            block, kind = block + [line.strip()], "p"
    close(True)
    out.append(TAIL)
    return "".join(out), versions


def main():
    check = sys.argv[1:] == ["--check"]
    if sys.argv[1:] not in ([], ["--check"]):
        sys.exit("usage: make-news-page.py [--check]")
    page, versions = render((TOP / "CHANGELOG.md").read_text(encoding="utf-8"))
    built = re.search(r"project\(Zentrova VERSION ([0-9.]+)",
                      (TOP / "CMakeLists.txt").read_text(encoding="utf-8"))
    if not versions or not built or versions[0] != built[1]:
        sys.exit(f"CHANGELOG.md: its newest version {versions[:1]} is not the one built "
                 f"({built[1] if built else 'none found in CMakeLists.txt'})")
    if check:
        if PAGE.read_text(encoding="utf-8") != page:
            sys.exit(f"{PAGE.relative_to(TOP)} is not made from CHANGELOG.md: "
                     "run scripts/make-news-page.py")
        print("news.html is made from CHANGELOG.md")
        return
    # Whole or not at all: a page cut short would be worse than an old one.
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=PAGE.parent, delete=False) as f:
        f.write(page)
        f.flush()
        os.fsync(f.fileno())
    os.chmod(f.name, 0o644)
    os.replace(f.name, PAGE)


if __name__ == "__main__":
    main()
