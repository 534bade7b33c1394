#!/usr/bin/env python3
# The news page is HTML made from the changelog's plain text: what the text
# says in `<`, `>` and `&` is shown as written, in items, headings, paragraphs
# and code, and never becomes markup of the page.
import importlib.util, sys

found = importlib.util.spec_from_file_location("news", sys.argv[1])
news = importlib.util.module_from_spec(found)
found.loader.exec_module(news)

page, _ = news.render("## 9.9 <b>\n### Fixed & <i>\n- a <script> & `x<y>&z` **A&B**\n"
                      "  then <img>\n\nSaid 1 < 2 > 0.\n")
body = page[len(news.HEAD):-len(news.TAIL)]
expected = ("<h2>Zentrova 9.9 &lt;b&gt;</h2>\n<h3>Fixed &amp; &lt;i&gt;</h3>\n<ul>\n"
            "<li>a &lt;script&gt; &amp; <code>x&lt;y&gt;&amp;z</code> <b>A&amp;B</b> "
            "then &lt;img&gt;</li>\n</ul>\n<p>Said 1 &lt; 2 &gt; 0.</p>\n")
if body != expected:
    sys.exit(f"news page markup:\n{body}\nexpected:\n{expected}")
print("changelog text is escaped on the news page")
