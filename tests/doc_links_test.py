#!/usr/bin/env python3
"""Every relative link in the README and the pages of docs/ (and web/README.md)
leads to a file that is there, and every repository path they name in backticks
(`scripts/play`, `web/main.js`, `tools/pack/`) is there too.

  doc_links_test.py [TOP]

A path counts as the repository's when its first part is one of the folders at
the top of the tree (build products under build/ or dist/ are not); it may be
written from the page's own folder or from the top. Prints each broken one and
exits 1 when there is any.
"""

import glob
import pathlib
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
CODE = re.compile(r"`([^`\n]+)`")
PRODUCTS = {"build", "dist"}


def pages(top):
    return [top / "README.md", top / "web" / "README.md", *sorted((top / "docs").glob("*.md"))]


def exists(path, folders):
    for folder in folders:
        candidate = str(folder / path)
        if glob.glob(candidate) if any(c in path for c in "*?[") else pathlib.Path(candidate).exists():
            return True
    return False


def broken(page, top):
    tree = {p.name for p in top.iterdir() if p.is_dir() and not p.name.startswith(".")} - PRODUCTS
    text = page.read_text()
    problems = []
    for number, line in enumerate(text.splitlines(), 1):
        for target in LINK.findall(line):
            if re.match(r"[a-z]+:", target) or target.startswith("#"):
                continue
            path = target.split("#", 1)[0]
            if not (page.parent / path).exists():
                problems.append(f"{page.relative_to(top)}:{number}: link to {target}, which is not there")
        for code in CODE.findall(line):
            for word in code.split():
                word = word.rstrip(".,;:)")
                if "/" not in word or word.split("/", 1)[0] not in tree:
                    continue
                if not exists(word, (page.parent, top)):
                    problems.append(f"{page.relative_to(top)}:{number}: `{word}` is not in the repository")
    return problems


def main():
    top = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = [problem for page in pages(top) if page.exists() for problem in broken(page, top)]
    for problem in problems:
        print(problem)
    print(f"{len(problems)} broken links or paths in {len(pages(top))} pages")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
