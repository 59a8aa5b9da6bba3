#!/bin/bash
# Crops of the still life's highlights, side by side: the pinhole input, the
# path tracer's lens render and dof3d's methods, as an sRGB PNG.
#
#   scripts/make-highlight-crops.sh RENDERS FRAMES OUT.png
#
# FRAMES holds still_life_540.exr and still_life_540_lens_f1.2.exr (the
# README names ../shared/data/frames); RENDERS holds aperture.exr, splat.exr,
# single.exr and box.exr, each made from still_life_540.exr with
# --focus 3.86 --fstop 1.2 --focal-length 50 --sensor-width 36 and the method
# its name says (single: --slabs 1). Needs oiiotool and the DejaVu fonts.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 RENDERS FRAMES OUT.png" >&2
  exit 2
fi
renders=$1 frames=$2 out=$3
crop=360x120+380+20  # the lamps and the chrome ball above the boxes
args=()
for entry in "$frames/still_life_540.exr:pinhole" "$frames/still_life_540_lens_f1.2.exr:lens" \
             "$renders/aperture.exr:aperture" "$renders/splat.exr:splat" \
             "$renders/single.exr:--slabs 1" "$renders/box.exr:box"; do
  file=${entry%%:*} label=${entry#*:}
  [ -r "$file" ] || { echo "$0: $file: cannot read" >&2; exit 1; }
  args+=(-i "$file" --ch R,G,B --cut "$crop" --origin +0+0 --fullpixels
         --colorconvert linear sRGB --text:x=6:y=18:size=16:color=1,1,0:font=DejaVuSans "$label")
done
tmp=$(mktemp --suffix=.png)
trap 'rm -f "$tmp"' EXIT
oiiotool "${args[@]}" --mosaic:pad=4 2x3 -d uint8 -o "$tmp"
mv "$tmp" "$out"
trap - EXIT
