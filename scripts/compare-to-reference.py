#!/usr/bin/python3
"""Compares a depth-of-field result with a reference render of the same shot.

    compare-to-reference.py RESULT.exr REFERENCE.exr PINHOLE.exr [--focus D] [--json]

RESULT is what a post-process made of PINHOLE (the sharp frame, whose Z
channel holds each pixel's distance); REFERENCE is the renderer's own lens
render of the shot. Printed:

* PSNR over the frame, display-referred: the linear R, G, B of both, clipped
  to 0..1 and encoded as sRGB, compared on a 0..1 scale (the same figure as
  on an 8-bit 0..255 scale).
* Mean absolute error of those display values (0..1, mean of R, G, B) in
  depth bands taken from PINHOLE's Z: "in focus" within --focus-tolerance
  (a share of the focus distance, default 0.03: at 3.86 m, 3.74 to 3.98 m,
  the vase and the cube beside it in the still life), "nearer", "farther",
  and "nothing hit" (Z at or above --no-hit-above, default 1e9).
* The light of the frame: the sum of RESULT's linear R, G, B over
  REFERENCE's.

Reading needs Debian's python3-openimageio and python3-numpy.
"""
import argparse
import json
import math
import sys

import numpy as np
import OpenImageIO as oiio


def fail(message):
    print(f"compare-to-reference: {message}", file=sys.stderr)
    sys.exit(1)


def read(path, channels):
    """The named channels of the file's first part, as float64 H x W x N."""
    image = oiio.ImageInput.open(path)
    if image is None:
        fail(f"{path}: cannot read: {oiio.geterror()}")
    header = image.spec()
    names = list(header.channelnames)
    missing = [c for c in channels if c not in names]
    if missing:
        image.close()
        fail(f"{path}: no channel {', '.join(missing)} (has {', '.join(names)})")
    pixels = image.read_image(0, 0, 0, header.nchannels, "float")
    image.close()
    if pixels is None:
        fail(f"{path}: corrupt or truncated: {oiio.geterror()}")
    pixels = np.asarray(pixels, dtype=np.float64).reshape(header.height, header.width, header.nchannels)
    return pixels[..., [names.index(c) for c in channels]]


def display(linear):
    """sRGB encoding of linear values clipped to 0..1."""
    v = np.clip(np.nan_to_num(linear, nan=0.0), 0.0, 1.0)
    return np.where(v <= 0.0031308, 12.92 * v, 1.055 * np.power(v, 1.0 / 2.4) - 0.055)


def compare(result, reference, depth, focus, tolerance, no_hit_above):
    shown, truth = display(result), display(reference)
    mse = float(np.mean((shown - truth) ** 2))
    psnr = math.inf if mse == 0.0 else 10.0 * math.log10(1.0 / mse)
    error = np.mean(np.abs(shown - truth), axis=2)
    hit = depth < no_hit_above
    in_focus = hit & (np.abs(depth - focus) <= tolerance * focus)
    bands = {
        "in focus": in_focus,
        "nearer": hit & ~in_focus & (depth < focus),
        "farther": hit & ~in_focus & (depth > focus),
        "nothing hit": ~hit,
    }
    reference_light = float(np.sum(reference))
    return {
        "psnr": psnr,
        "bands": {
            name: {"pixels": int(mask.sum()),
                   "meanAbsoluteError": float(error[mask].mean()) if mask.any() else None}
            for name, mask in bands.items()
        },
        "light": float(np.sum(result)) / reference_light if reference_light > 0 else math.nan,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("result")
    parser.add_argument("reference")
    parser.add_argument("pinhole")
    parser.add_argument("--focus", type=float, default=3.86,
                        help="focus distance, in Z's units (default 3.86)")
    parser.add_argument("--focus-tolerance", type=float, default=0.03,
                        help="half-width of the in-focus band, a share of --focus (default 0.03)")
    parser.add_argument("--no-hit-above", type=float, default=1e9,
                        help="Z at or above this means nothing was hit (default 1e9)")
    parser.add_argument("--json", action="store_true", help="one JSON object on standard output")
    args = parser.parse_args()
    if not args.focus > 0.0:
        fail(f"--focus {args.focus}: must be above 0")

    result = read(args.result, ["R", "G", "B"])
    reference = read(args.reference, ["R", "G", "B"])
    depth = read(args.pinhole, ["Z"])[..., 0]
    for path, image in ((args.reference, reference), (args.pinhole, depth)):
        if image.shape[:2] != result.shape[:2]:
            fail(f"{path}: {image.shape[1]}x{image.shape[0]}, but {args.result} is "
                 f"{result.shape[1]}x{result.shape[0]}")

    figures = compare(result, reference, depth, args.focus, args.focus_tolerance,
                      args.no_hit_above)
    if args.json:
        print(json.dumps(figures))
        return
    print(f"PSNR (sRGB, 0..1): {figures['psnr']:.2f} dB")
    print(f"light (result / reference): {figures['light']:.4f}")
    print("mean absolute error (sRGB, 0..1) by depth:")
    for name, band in figures["bands"].items():
        error = band["meanAbsoluteError"]
        shown = "-" if error is None else f"{error:.4f}"
        print(f"  {name:12} {shown:>8}  ({band['pixels']} pixels)")


if __name__ == "__main__":
    main()
