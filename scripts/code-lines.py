#!/usr/bin/env python3
"""Counts code lines (not blank, not comment-only) of the tracked sources, and the share of
them under tests/. Usage: scripts/code-lines.py [REPO]"""
import os
import re
import subprocess
import sys

repo = sys.argv[1] if len(sys.argv) > 1 else "."
SOURCE = re.compile(r"\.(cpp|h|hpp|c|py|sh|cmake)$|(^|/)CMakeLists\.txt$")
files = subprocess.run(["git", "-C", repo, "ls-files"], capture_output=True, text=True,
                       check=True).stdout.split()


def code_lines(path):
    hash_comments = path.endswith((".py", ".sh", ".cmake", "CMakeLists.txt"))
    n, in_block = 0, False
    for line in open(f"{repo}/{path}", encoding="utf-8", errors="replace"):
        s = line.strip()
        if in_block:
            if "*/" in s:
                in_block = False
            continue
        if not s or s.startswith("//") or (hash_comments and s.startswith("#")):
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        n += 1
    return n


total = tests = 0
for f in files:
    if SOURCE.search(f) and os.path.exists(f"{repo}/{f}"):
        n = code_lines(f)
        total += n
        tests += n if f.startswith("tests/") else 0
print(f"code lines: {total}, under tests/: {tests} ({100.0 * tests / max(total, 1):.1f}%)")
