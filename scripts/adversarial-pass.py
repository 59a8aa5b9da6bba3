#!/usr/bin/env python3
"""Adversarial pass over `dof3d render`: damaged copies of real image files.

Every seed file is cut short at many lengths and has single bytes flipped at
many offsets (densely in the first kilobyte, where the headers are, then
spread over the file). Each damaged copy is rendered by the sanitizer build
of dof3d with a time limit, and the run must end in one of two ways:

  * status 0, an output file, and nothing on standard error but warnings
    and notes (the focus picked, the channels kept sharp);
  * status 1, exactly one line "dof3d: ..." on standard error, and no output.

Anything else is counted as a fault: another status (a crash, a sanitizer
report, a hang killed by the time limit), more than one line, an output
left beside a failure, or a temporary file left in the folder.

Then the first seed is written, whole, as every output type the image
library names (each written, or refused before rendering with status 2 in
one line), and, as root, to a full disk (a small tmpfs filled up) as the
output and as the radius map, alone and as a two-job sequence: status 1,
one line of ours before the summary, no file left on that disk.

The seeds are small crops of the sample images beside this repository, in
the file types dof3d reads (OpenEXR scanline and tiled, deep OpenEXR, PNG,
TIFF), made with oiiotool; other seeds may be given on the command line.

    scripts/adversarial-pass.py [--dof3d build/asan/bin/dof3d] [--jobs 2]
                                [--cuts 24] [--flips 48] [seed ...]
"""

import argparse
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SAMPLES = os.path.join(ROOT, "..", "shared", "data")
TIME_LIMIT = 60  # seconds; a run still going then counts as a hang

# Leaks inside the libraries, not ours: OpenImageIO's PNG reader keeps a
# string alive across libpng's longjmp when a file ends early. Matching it
# takes whole stacks of allocations (fast_unwind_on_malloc=0) for PNG seeds.
LEAKS_NOT_OURS = """leak:OpenImageIO_v2_4::PNGInput::PngReadCallback
"""


def make_seeds(folder):
    """Small crops of the sample images, as (path, extra arguments)."""
    exr = os.path.join(SAMPLES, "openexr-images")
    beach = os.path.join(exr, "Beachball_singlepart.0001.exr")
    deep = os.path.join(exr, "v2_LowResLeftView_Trunks.exr")
    still = os.path.join(SAMPLES, "frames", "still_life_540.exr")
    seeds = []

    def oiiotool(*args):
        subprocess.run(["oiiotool", *args], check=True, capture_output=True)

    crop = ["--cut", "96x64+400+300"]
    oiiotool(still, *crop, "-o", os.path.join(folder, "zip.exr"))
    seeds.append(("zip.exr", ["--focus", "5"]))
    oiiotool(still, *crop, "--compression", "piz", "--tile", "32", "32", "-o",
             os.path.join(folder, "tiled.exr"))
    seeds.append(("tiled.exr", ["--focus", "5"]))
    oiiotool(still, *crop, "--ch", "Z", "-o", os.path.join(folder, "depth.exr"))
    oiiotool(still, *crop, "--ch", "R,G,B,A", "-d", "uint8", "-o", os.path.join(folder, "rgba.png"))
    seeds.append(("rgba.png", ["--depth", "depth.exr", "--focus", "5"]))
    oiiotool(still, *crop, "--ch", "R,G,B,A", "-d", "uint16", "--compression", "none", "-o",
             os.path.join(folder, "rgba.tif"))
    seeds.append(("rgba.tif", ["--depth", "depth.exr", "--focus", "5"]))
    if os.path.exists(beach):
        oiiotool(beach, "--cut", "96x64+900+600", "-o", os.path.join(folder, "beach.exr"))
        seeds.append(("beach.exr", ["--focus-at", "48,32"]))
    if os.path.exists(deep):
        shutil.copy(deep, os.path.join(folder, "deep.exr"))
        seeds.append(("deep.exr", ["--focus", "200", "--radius", "2"]))
    return seeds


# What a render that succeeds may say on standard error besides warnings: the
# focus it picked, the lens it read, the channels it kept sharp or left out.
NOTES = (": focus distance ", ": lens from the file: ", ": kept sharp: ",
         ": left out of this file type: ")


def is_note(line):
    return line.startswith("dof3d: ") and (
        line.startswith("dof3d: warning: ") or any(n in line for n in NOTES))


def offsets(size, cuts, flips, rng):
    """Lengths to cut at and offsets to flip, within a file of `size` bytes."""
    lengths = sorted({0, 1, 8, 16, 64, 256, size - 1} |
                     {size * k // cuts for k in range(1, cuts)})
    head = min(size, 1024)
    flipped = sorted({rng.randrange(head) for _ in range(flips // 2)} |
                     {rng.randrange(size) for _ in range(flips - flips // 2)})
    return [n for n in lengths if 0 <= n < size], flipped


def run_case(dof3d, folder, name, data, extra):
    """Renders one damaged copy in a folder of its own: "rendered", "refused",
    or what is wrong."""
    work = tempfile.mkdtemp(dir=folder)
    try:
        damaged = os.path.join(work, name)
        with open(damaged, "wb") as f:
            f.write(data)
        for argument in extra:  # a depth file beside the seed goes along
            if os.path.exists(os.path.join(folder, argument)):
                shutil.copy(os.path.join(folder, argument), work)
        before = set(os.listdir(work))
        output = os.path.join(work, "out" + os.path.splitext(name)[1])
        # Whole allocation stacks are slow to take: only where they are needed.
        png = name.endswith(".png")
        env = dict(os.environ,
                   ASAN_OPTIONS="exitcode=86:detect_leaks=1:fast_unwind_on_malloc=%d" % (not png),
                   UBSAN_OPTIONS="exitcode=87:print_stacktrace=1",
                   LSAN_OPTIONS="exitcode=88:print_suppressions=0:suppressions=" +
                   os.path.join(folder, "leaks-not-ours.txt"))
        try:
            run = subprocess.run([dof3d, "render", damaged, "-o", output, "-q", *extra],
                                 cwd=work, env=env, capture_output=True, timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            return "hang"
        err = run.stderr.decode("utf-8", "replace")
        lines = err.splitlines()
        left = set(os.listdir(work)) - before - {os.path.basename(output)}
        if run.returncode not in (0, 1):
            return "status %d: %s" % (run.returncode, (lines or [""])[0][:160])
        if left:
            return "left behind: " + ", ".join(sorted(left))
        if run.returncode == 0:
            if not os.path.exists(output):
                return "status 0 without an output"
            if any(not is_note(line) for line in lines):
                return "status 0 with an error: " + err[:160]
            return "rendered"
        if os.path.exists(output):
            return "an output beside a failure"
        if len(lines) != 1 or not lines[0].startswith("dof3d: "):
            return "%d lines: %s" % (len(lines), err[:200].replace("\n", " | "))
        return "refused"
    finally:
        shutil.rmtree(work, ignore_errors=True)


# Output extensions the image library has writers for, and a few it reads only.
OUTPUT_EXTENSIONS = ("exr", "sxr", "tif", "tiff", "tx", "png", "jpg", "jpeg", "dpx", "bmp", "dib",
                     "tga", "ppm", "pgm", "pbm", "pfm", "hdr", "sgi", "rgb", "gif", "webp",
                     "heic", "avif", "fits", "ico", "iff", "jp2", "rla", "pic", "zfile", "null",
                     "term", "psd", "cin", "dds", "xyz")


def judge(run, output, left, refusal, lines_of_ours=1):
    """What is wrong with a run that must write `output` or be refused with
    status `refusal` in one line (one per frame); "rendered" or "refused" when
    nothing is."""
    lines = run.stderr.decode("utf-8", "replace").splitlines()
    errors = [line for line in lines if not is_note(line) and " rendered, " not in line]
    if left:
        return "left behind: " + ", ".join(sorted(left))
    if run.returncode == 0 and os.path.exists(output) and not errors:
        return "rendered"
    if run.returncode == refusal and not os.path.exists(output) \
            and len(errors) == lines_of_ours and all(e.startswith("dof3d: ") for e in errors):
        return "refused"
    return "status %d, %d error lines: %s" % (run.returncode, len(errors),
                                              " | ".join(errors)[:200])


def output_cases(dof3d, folder, seed, extra):
    """The seed written as every output type, and (as root) to a full disk."""
    outcomes = []
    for extension in OUTPUT_EXTENSIONS:
        work = tempfile.mkdtemp(dir=folder)
        output = os.path.join(work, "out." + extension)
        run = subprocess.run([dof3d, "render", seed, "-o", output, "-q", *extra], cwd=folder,
                             capture_output=True, timeout=TIME_LIMIT)
        left = set(os.listdir(work)) - {"out." + extension}
        outcomes.append(("output type ." + extension, judge(run, output, left, 2)))
        shutil.rmtree(work, ignore_errors=True)
    if os.geteuid() != 0:
        print("adversarial-pass: not root: the full-disk cases are skipped")
        return outcomes
    disk = tempfile.mkdtemp(dir=folder)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk]).returncode:
        print("adversarial-pass: cannot mount a tmpfs: the full-disk cases are skipped")
        return outcomes
    try:
        with open(os.path.join(disk, "filler"), "wb") as f:
            try:
                f.write(b"x" * (1 << 20))
            except OSError:
                pass
        base = os.path.splitext(os.path.basename(seed))[0]
        for i in (1, 2):
            shutil.copy(seed, os.path.join(folder, "%s.seq.%d.exr" % (base, i)))
        for extension in ("jpg", "png", "tif", "exr", "dpx"):
            good = tempfile.mkdtemp(dir=folder)
            full = os.path.join(disk, "o." + extension)
            runs = {
                "output": ["-o", full],
                "map": ["-o", os.path.join(good, "o.exr"), "--coc-map", full],
                "sequence": ["-o", os.path.join(disk, "o.#." + extension), "--frames", "1-2",
                             "-j", "2"],
            }
            for what, outputs in runs.items():
                source = seed if what != "sequence" else os.path.join(folder, base + ".seq.#.exr")
                run = subprocess.run([dof3d, "render", source, *outputs, "-q", "--json", *extra],
                                     cwd=folder, capture_output=True, timeout=TIME_LIMIT)
                left = (set(os.listdir(disk)) - {"filler"}) | set(os.listdir(good))
                outcome = judge(run, full, left, 1, 2 if what == "sequence" else 1)
                if outcome == "rendered":
                    outcome = "written to a full disk"
                elif outcome == "refused" and b'"frames"' not in run.stdout:
                    outcome = "no JSON summary"
                outcomes.append(("full disk %s .%s" % (what, extension), outcome))
            shutil.rmtree(good, ignore_errors=True)
    finally:
        subprocess.run(["umount", disk])
    return outcomes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dof3d", default=os.path.join(ROOT, "build", "asan", "bin", "dof3d"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--cuts", type=int, default=24)
    parser.add_argument("--flips", type=int, default=48)
    parser.add_argument("--seed", type=int, default=12, help="random seed of the flip offsets")
    parser.add_argument("seeds", nargs="*", help="further seed files (EXR with Z)")
    args = parser.parse_args()
    args.dof3d = os.path.abspath(args.dof3d)  # the cases run in folders of their own
    if not os.access(args.dof3d, os.X_OK):
        sys.exit("adversarial-pass: no dof3d at %s (build the asan preset)" % args.dof3d)

    rng = random.Random(args.seed)
    folder = tempfile.mkdtemp(prefix="dof3d-adversarial-")
    try:
        with open(os.path.join(folder, "leaks-not-ours.txt"), "w") as f:
            f.write(LEAKS_NOT_OURS)
        seeds = make_seeds(folder)
        for path in args.seeds:
            shutil.copy(path, folder)
            seeds.append((os.path.basename(path), ["--focus", "5"]))
        cases = []
        for name, extra in seeds:
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            lengths, flipped = offsets(len(data), args.cuts, args.flips, rng)
            for n in lengths:
                cases.append((name, "cut at %d" % n, data[:n], extra))
            for at in flipped:
                damaged = bytearray(data)
                damaged[at] ^= 1 << rng.randrange(8) if rng.random() < 0.5 else 0xFF
                cases.append((name, "flip at %d" % at, bytes(damaged), extra))

        counts = {"rendered": 0, "refused": 0}
        faults = []
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = {pool.submit(run_case, args.dof3d, folder, name, data, extra):
                       (name, what) for name, what, data, extra in cases}
            for future in concurrent.futures.as_completed(futures):
                outcome = future.result()
                if outcome in counts:
                    counts[outcome] += 1
                else:
                    faults.append("%s, %s: %s" % (*futures[future], outcome))
        first = os.path.join(folder, seeds[0][0])
        outputs = output_cases(args.dof3d, folder, first, seeds[0][1])
        for what, outcome in outputs:
            if outcome in counts:
                counts[outcome] += 1
            else:
                faults.append("%s: %s" % (what, outcome))
        for line in sorted(faults):
            print("FAULT " + line)
        print("adversarial-pass: %d damaged files from %d seeds and %d output-type and full-disk "
              "cases: %d rendered, %d refused in one line, %d faults"
              % (len(cases), len(seeds), len(outputs), counts["rendered"], counts["refused"],
                 len(faults)))
        return 1 if faults else 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
