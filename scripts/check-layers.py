#!/usr/bin/env python3
"""Checks that the host side's folders depend on each other one way only.

Each folder of host/ may include its own headers and those of the folders
below it, and the image library only where it is allowed:

    tool     -> io, render, demo, model, util, runtime, the plug-in's headers
    io       -> model, util; the image library
    render   -> model, util, runtime, the plug-in's records
    demo     -> model, runtime, the plug-in's records
    model    -> the standard library only
    util     -> the image library's utilities, in its sources only
    runtime  -> the plug-in's records

A header of io/ that includes the image library is that folder's own: only
io/ and tests/io/ may include it, so that the tool never sees an image type.
Prints every include that breaks a rule; exit status 1 when there is one.

usage: scripts/check-layers.py [ROOT]
"""

import os
import re
import sys

# Project folders each folder may include (beside its own); "host" and the
# other plug-in folders are the plug-in's headers (records, line blurs).
ALLOWED = {
    "tool": {"io", "render", "demo", "model", "util", "runtime", "host", "blur", "kernels"},
    "io": {"model", "util"},
    "render": {"model", "util", "runtime", "host"},
    "demo": {"model", "runtime", "host"},
    "model": set(),
    "util": set(),
    "runtime": {"host"},
}
# The image library's headers each folder may include.
IMAGE_LIBRARY = {
    "io": None,  # any
    "util": {"filesystem.h", "sysutil.h", "thread.h", "strutil.h"},
}
PROJECT = set(ALLOWED) | {"host", "blur", "kernels", "dof"}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def includes(path):
    with open(path, encoding="utf-8") as f:
        return INCLUDE.findall(f.read())


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))
    host = os.path.join(root, "host")
    problems = []
    internal = set()  # io headers that name the image library
    for name in sorted(os.listdir(os.path.join(host, "io"))):
        if name.endswith(".h") and any(
                i.startswith("OpenImageIO/") for i in includes(os.path.join(host, "io", name))):
            internal.add("io/" + name)
    for folder, allowed in ALLOWED.items():
        for name in sorted(os.listdir(os.path.join(host, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            where = f"host/{folder}/{name}"
            for included in includes(os.path.join(host, folder, name)):
                top, _, rest = included.partition("/")
                if top == "OpenImageIO":
                    library = IMAGE_LIBRARY.get(folder, set())
                    if library is not None and (rest not in library or name.endswith(".h")):
                        problems.append(f"{where}: includes the image library's {included}")
                elif included in internal and folder != "io":
                    problems.append(f"{where}: includes io's own {included}")
                elif rest and top in PROJECT and top not in allowed | {folder}:
                    problems.append(f"{where}: includes {included} of host/{top}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
