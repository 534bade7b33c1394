#!/usr/bin/env python3
# Checks the welcome window's pages (every .html file of the folder given):
# a doctype and a title, each element closed in order, no script of any kind,
# and links and style sheets that name files beside them, so that every page
# reads whole without a network. Prints one line per fault; fails on any.
import html.parser, pathlib, sys, urllib.parse

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
        "track", "wbr"}


class Page(html.parser.HTMLParser):
    def __init__(self, path):
        super().__init__(convert_charrefs=True)
        self.path, self.open, self.faults = path, [], []
        self.doctype, self.title, self.in_title = False, "", False

    def fault(self, what):
        self.faults.append(f"{self.path.name}:{self.getpos()[0]}: {what}")

    def handle_decl(self, decl):
        self.doctype |= decl.lower() == "doctype html"

    def handle_starttag(self, tag, attrs):
        if tag == "script":
            self.fault("a script")
        for name, value in attrs:
            if name.startswith("on"):
                self.fault(f"a script in the attribute {name}")
            if name in ("href", "src"):
                self.link(value or "")
        if tag not in VOID:
            self.open.append((tag, self.getpos()[0]))
        self.in_title = tag == "title"

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.open.pop()

    def handle_endtag(self, tag):
        self.in_title = False
        if tag in VOID:
            return
        if not self.open or self.open[-1][0] != tag:
            opened = f"<{self.open[-1][0]}> of line {self.open[-1][1]}" if self.open else "nothing"
            self.fault(f"</{tag}> closes {opened}")
            return
        self.open.pop()

    def handle_data(self, data):
        if self.in_title:
            self.title += data.strip()

    def link(self, target):
        parts = urllib.parse.urlsplit(target)
        if parts.scheme or parts.netloc:
            self.fault(f"{target} is not a file beside the page")
        elif parts.path and not (self.path.parent / urllib.parse.unquote(parts.path)).is_file():
            self.fault(f"{target} names no file")

    def check(self):
        self.feed(self.path.read_text(encoding="utf-8"))
        self.close()
        if not self.doctype:
            self.fault("no <!DOCTYPE html>")
        if not self.title:
            self.fault("no title")
        for tag, line in self.open:
            self.fault(f"<{tag}> of line {line} is never closed")
        return self.faults


def main():
    pages = sorted(pathlib.Path(sys.argv[1]).glob("*.html")) if len(sys.argv) == 2 else []
    if not pages:
        sys.exit("usage: check_pages.py FOLDER (with .html pages)")
    faults = [f for page in pages for f in Page(page).check()]
    print("\n".join(faults) or f"{len(pages)} pages checked, no faults")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
