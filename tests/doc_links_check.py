#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
"""Every relative link and anchor in the Markdown documents leads somewhere.

Anchors are GitHub's: one per heading (lower case, punctuation dropped, spaces
as hyphens, a repeated heading numbered), plus each explicit <a id="...">.
Usage: doc_links_check.py SOURCE_DIR
"""
import re
import sys
from pathlib import Path

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
EXPLICIT = re.compile(r"""<a\s+(?:[^>]*\s)?(?:id|name)=["']([^"']+)["']""")
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+\1")


def prose_lines(path):
    """The lines outside fenced code blocks, with their numbers."""
    inside = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if FENCE.match(line):
            inside = not inside
        elif not inside:
            yield number, line


def slug(heading):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link counts by its text
    text = re.sub(r"<[^>]+>", "", text).replace("`", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found = set()
    seen = {}
    for _, line in prose_lines(path):
        found.update(EXPLICIT.findall(line))
        match = HEADING.match(line)
        if match:
            base = slug(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
    return found


def main(root):
    root = Path(root).resolve()
    documents = [root / "README.md", root / "firmware" / "README.md"]
    documents += sorted((root / "docs").glob("*.md"))
    problems = []
    for document in documents:
        for number, line in prose_lines(document):
            for target in LINK.findall(CODE_SPAN.sub("", line)):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                    continue  # a URL, not ours to check here
                where = f"{document.relative_to(root)}:{number}: {target}"
                name, _, anchor = target.partition("#")
                path = (document.parent / name).resolve() if name else document
                if not path.exists():
                    problems.append(f"{where}: no such file")
                elif anchor and path.suffix != ".md":
                    problems.append(f"{where}: an anchor into a file that is not Markdown")
                elif anchor and anchor not in anchors(path):
                    problems.append(f"{where}: no such anchor in {path.relative_to(root)}")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
