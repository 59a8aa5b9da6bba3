#!/usr/bin/env python3
"""Lists the longest functions of C++ sources, from signature to closing brace.

A function is a brace block opened at namespace or class level after a
parenthesised parameter list; its length counts every line from the first
line of its signature to its closing brace. Comments and string literals are
blanked first, so that braces inside them do not count. Lambdas and blocks
count as part of the function that holds them.

usage: scripts/function-lengths.py [--top N] [--over LINES] PATH...
(folders are searched for .cpp and .h files)
"""

import argparse
import os
import re
import sys

CONTAINER = re.compile(r'\b(namespace|class|struct|union|enum)\b|^\s*extern\s+"C"')


def blanked(text):
    """The text with comments, string and character literals and preprocessor
    lines as spaces."""
    text = re.sub(r"(?m)^[ \t]*#(?:.*\\\n)*.*$", lambda m: re.sub(r"[^\n]", " ", m.group(0)),
                  text)
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c == 'R' and text.startswith('R"', i) and not text[i - 1:i].isalnum():
            delimiter = text[i + 2:text.find("(", i + 2)]
            j = text.find(")" + delimiter + '"', i)
            j = n if j < 0 else j + len(delimiter) + 2
        elif c in "\"'" and not (c == "'" and text[i - 1:i].isalnum()):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append("".join(ch if ch == "\n" else " " for ch in text[i:j]))
        i = j
    return "".join(out)


def functions(path):
    """(first line, last line, name) of each function defined in `path`."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = blanked(f.read())
    found, scopes, head_start, parens = [], [], 0, 0
    line = 1
    start_line = {}
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        elif c == "(":
            parens += 1
        elif c == ")":
            parens -= 1
        elif c in ";{}" and parens == 0:
            head = text[head_start:i]
            outer = all(kind == "container" for kind, _, _ in scopes)
            if c == "{":
                stripped = head.strip()
                first = line - head[len(head.rstrip()):].count("\n") - stripped.count("\n")
                if CONTAINER.search(head) and "(" not in head.split("{")[0].split("=")[0]:
                    kind = "container"
                elif (outer and "(" in stripped and
                      ("=" not in stripped.split("(")[0] or "operator" in stripped)):
                    kind = "function"
                else:
                    kind = "block"
                scopes.append((kind, first, stripped))
            elif c == "}" and scopes:
                kind, first, signature = scopes.pop()
                if kind == "function":
                    name = re.findall(r"([~\w:]+(?:operator\S*)?)\s*\(", signature)
                    found.append((first, line, name[0] if name else "?"))
            head_start = i + 1
    return found


def sources(paths):
    for p in paths:
        if os.path.isdir(p):
            for folder, _, names in sorted(os.walk(p)):
                for name in sorted(names):
                    if name.endswith((".cpp", ".h")):
                        yield os.path.join(folder, name)
        else:
            yield p


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--top", type=int, default=20)
    parser.add_argument("--over", type=int, default=0, help="only functions longer than this")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    rows = []
    for path in sources(args.paths):
        for first, last, name in functions(path):
            rows.append((last - first + 1, f"{path}:{first}", name))
    rows.sort(key=lambda r: (-r[0], r[1]))
    for length, where, name in [r for r in rows if r[0] > args.over][:args.top]:
        print(f"{length:5d}  {where}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
