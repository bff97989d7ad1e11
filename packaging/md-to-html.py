#!/usr/bin/env python3
"""Turns one of the docs into a page a Windows user opens with a double click.

usage: md-to-html.py CMARK-GFM INPUT.md OUTPUT.html [SHIPPED.md ...]

cmark-gfm renders the Markdown (tables included). Headings get the anchors
GitHub gives them, so the docs' own "#..." links work, and links to the other
docs that ship beside this one point at their .html pages.
"""
import html
import re
import subprocess
import sys

STYLE = """body { font-family: Segoe UI, Arial, sans-serif; max-width: 60em; margin: 2em auto;
       padding: 0 1em; line-height: 1.4; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #999; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
code, pre { font-family: Consolas, monospace; background: #f3f3f3; }
pre { padding: 0.5em; overflow-x: auto; }"""

HEADING = re.compile(r"<h([1-6])>(.*?)</h\1>", re.S)
LINK = re.compile(r'href="([^"#/:]+)\.md(#[^"]*)?"')


def slug(inner_html, seen):
    text = html.unescape(re.sub(r"<[^>]+>", "", inner_html)).strip().lower()
    base = re.sub(r"[^\w\- ]", "", text).replace(" ", "-")
    count = seen.get(base, 0)
    seen[base] = count + 1
    return base if count == 0 else f"{base}-{count}"


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    cmark, source, target = argv[1:4]
    shipped = {name[:-3] for name in argv[4:] if name.endswith(".md")}
    body = subprocess.run([cmark, "-e", "table", "-e", "autolink", "-e", "strikethrough",
                           "--to", "html", source],
                          check=True, capture_output=True, text=True, encoding="utf-8").stdout
    first = HEADING.search(body)
    title = html.unescape(re.sub(r"<[^>]+>", "", first[2])) if first else "JYNMB"
    seen = {}
    body = HEADING.sub(lambda m: f'<h{m[1]} id="{slug(m[2], seen)}">{m[2]}</h{m[1]}>', body)
    body = LINK.sub(lambda m: f'href="{m[1]}.html{m[2] or ""}"' if m[1] in shipped else m[0],
                    body)
    page = (f'<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
            f"<title>{html.escape(title)}</title>\n<style>\n{STYLE}\n</style>\n</head>\n"
            f"<body>\n{body}</body>\n</html>\n")
    with open(target, "w", encoding="utf-8", newline="\r\n") as out:
        out.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
