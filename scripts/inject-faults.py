#!/usr/bin/env python3
"""Checks that the tests notice small faults in the production routines.

Each mutation of scripts/faults.txt (or the list given with --faults) changes
one operator, index or constant in one source file. The script applies them
one at a time, rebuilds the test programs the mutation names, runs them
through CTest and records whether any of them failed (caught) or all passed
(missed). The source file is restored after every mutation, also when the run
is interrupted; a run killed outright leaves a copy under the build tree that
the next run puts back first.

usage: scripts/inject-faults.py [--preset native] [--jobs 2] [NAME_PART ...]

Exit status 0 when every mutation came out as its row expects (caught, or
surviving with a stated reason), 1 otherwise.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIELDS = ("name", "file", "find", "replace", "tests", "survives")


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def parse_faults(path):
    """Blocks of `key: value` lines separated by blank lines; # starts a comment line."""
    faults, block = [], {}
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines() + [""]
    for number, line in enumerate(lines, 1):
        if line.strip().startswith("#"):
            continue
        if not line.strip():
            if block:
                missing = [k for k in FIELDS[:5] if k not in block]
                if missing:
                    sys.exit(f"{path}:{number}: block lacks {', '.join(missing)}")
                faults.append(block)
                block = {}
            continue
        key, sep, value = line.partition(":")
        key = key.strip()
        if not sep or key not in FIELDS:
            sys.exit(f"{path}:{number}: expected one of {', '.join(FIELDS)}")
        block[key] = value.strip()
    for fault in faults:
        fault["find"] = unescape(fault["find"])
        fault["replace"] = unescape(fault["replace"])
        fault["tests"] = fault["tests"].split()
    return faults


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


def backup_path(backups, relative):
    return os.path.join(backups, relative.replace("/", "%"))


def restore_leftovers(backups):
    """Puts back sources that a run killed outright left mutated."""
    for name in os.listdir(backups):
        relative = name.replace("%", "/")
        with open(os.path.join(backups, name), "rb") as f:
            original = f.read()
        with open(os.path.join(ROOT, relative), "wb") as f:
            f.write(original)
        os.remove(os.path.join(backups, name))
        print(f"restored {relative} left by an interrupted run")


def run(command, log, timeout=None):
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    try:
        return subprocess.run(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        log.write("timed out\n")
        return -1


def try_fault(fault, args, backups, log):
    """Returns (outcome, detail): caught, missed, no build or stale."""
    path = os.path.join(ROOT, fault["file"])
    with open(path, "rb") as f:
        original = f.read()
    text = original.decode("utf-8")
    count = text.count(fault["find"])
    if count != 1:
        return "stale", f"the text to change occurs {count} times"
    log.write(f"### {fault['name']}: {fault['file']}\n")
    keep = backup_path(backups, fault["file"])
    with open(keep, "wb") as f:
        f.write(original)
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(fault["find"], fault["replace"]))
        targets = [t + "_tests" for t in fault["tests"]]
        if run(["cmake", "--build", "--preset", args.preset, "-j", str(args.jobs), "--target",
                *targets], log) != 0:
            return "no build", "the mutated source does not compile"
        # A folder's program is one CTest test, or one per test it holds
        # (FOLDER.Suite.Test); the first failure settles it.
        failed = [t for t in fault["tests"]
                  if run(["ctest", "--preset", args.preset, "-R", f"^{t}(\\.|$)", "-j",
                          str(args.jobs), "--stop-on-failure", "--timeout", str(args.timeout)],
                         log) != 0]
        if failed:
            return "caught", "by " + " ".join(failed)
        return "missed", "every test passed"
    finally:
        with open(path, "wb") as f:
            f.write(original)
        os.remove(keep)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--preset", default="native")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=600, help="seconds per test program")
    parser.add_argument("--faults", default=os.path.join(ROOT, "scripts", "faults.txt"))
    parser.add_argument("names", nargs="*", help="run only mutations whose name contains one")
    args = parser.parse_args()

    faults = [f for f in parse_faults(args.faults)
              if not args.names or any(n in f["name"] for n in args.names)]
    build = os.path.join(ROOT, "build", args.preset)
    backups = os.path.join(build, "fault-injection", "originals")
    os.makedirs(backups, exist_ok=True)
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, on_signal)
    restore_leftovers(backups)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.run(["cmake", "--preset", args.preset], cwd=ROOT, check=True)

    report = os.path.join(build, "fault-injection", "report.txt")
    unexpected = []
    with open(os.path.join(build, "fault-injection", "log.txt"), "w") as log, \
            open(report, "w") as out:
        for index, fault in enumerate(faults, 1):
            started = time.time()
            try:
                outcome, detail = try_fault(fault, args, backups, log)
            except Interrupted as stop:
                print(f"stopped by {stop}; {fault['file']} restored")
                return 1
            expected = "missed" if "survives" in fault else "caught"
            if outcome != expected:
                unexpected.append(fault["name"])
            if "survives" in fault and outcome == "missed":
                detail = "expected: " + fault["survives"]
            line = (f"[{index}/{len(faults)}] {fault['name']:<28} {outcome:<8} {detail} "
                    f"({time.time() - started:.0f} s)")
            print(line, flush=True)
            out.write(line + "\n")
    print(f"{len(faults) - len(unexpected)} of {len(faults)} as expected; report in {report}")
    if unexpected:
        print("not as expected: " + " ".join(unexpected))
    return 1 if unexpected else 0


if __name__ == "__main__":
    sys.exit(main())
