#!/usr/bin/env bash
# Renders a fixed set of cases with two builds of dof3d and compares every
# file each case writes byte for byte (cmp), with its standard output and
# standard error: a change meant to keep behaviour shows here that it does.
# Dates and times of writing stamped into a file are not compared.
#
# usage: scripts/compare-outputs.sh OLD_DOF3D NEW_DOF3D [DATA_DIR]
#
# Each build finds the effect in effects/ beside its bin/, as dof3d does by
# default. DATA_DIR (default: ../shared/data beside the repository) holds the
# sample images (openexr-images/) and frames (frames/); further inputs are
# made from them with oiiotool in a temporary folder. JSON summaries are
# compared with their "seconds" fields removed.
#
# Prints one line per case (same, differs with the files that differ, or
# failed with the exit statuses) and a last line with the counts. Exit status
# 0 only when every case wrote the same bytes with both builds and exited as
# its row expects; then the temporary folder is removed. Otherwise it is kept
# and named, with the outputs of each build in old/ and new/ (one folder per
# case; NAME.stdout, NAME.stderr and NAME.status beside it). Bad arguments
# or inputs that cannot be made: 2.
set -euo pipefail

fail() {
    echo "compare-outputs: $*" >&2
    exit 2
}

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    fail "usage: $0 OLD_DOF3D NEW_DOF3D [DATA_DIR]"
fi
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
for program in "$1" "$2"; do
    if [ ! -f "$program" ] || [ ! -x "$program" ]; then
        fail "$program: not an executable file"
    fi
done
OLD=$(absolute "$1")
NEW=$(absolute "$2")
DATA=${3:-$(dirname "$0")/../../shared/data}
for folder in openexr-images frames; do
    [ -d "$DATA/$folder" ] || fail "$DATA: no $folder/ folder (give DATA_DIR)"
done
DATA=$(cd "$DATA" && pwd)
command -v oiiotool >/dev/null || fail "oiiotool not found (Debian: openimageio-tools)"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/compare-outputs.XXXXXX")
keep=0
cleanup() { [ "$keep" = 1 ] || rm -rf "$WORK"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
IN=$WORK/inputs
mkdir -p "$IN" "$WORK/old" "$WORK/new"

# Inputs: a 320 x 180 cut of the 540p frame around the vase (half colour,
# float Z) and what is made from it: the same pixels inside the full display
# window, 8 and 16-bit pictures with separate depth images, colour layers and
# data channels beside the beauty, and a three-frame sequence.
make_inputs() {
    local frame=$DATA/frames/still_life_540.exr exr=(-d half -d Z=float)
    oiiotool "$frame" --cut 320x180+410+210 "${exr[@]}" -o "$IN/crop.exr"
    oiiotool "$frame" --crop 320x180+410+210 "${exr[@]}" -o "$IN/window.exr"
    oiiotool "$IN/crop.exr" --ch R,G,B,A -d uint8 -o "$IN/beauty.png"
    oiiotool "$IN/crop.exr" --ch R,G,B,A -d uint16 -o "$IN/beauty16.tif"
    oiiotool "$IN/crop.exr" --ch Z -o "$IN/depth.exr"
    oiiotool "$IN/crop.exr" --ch Z --mulc -1 -o "$IN/negative.exr"
    oiiotool "$IN/crop.exr" --ch R,G,B --mulc 0.75 --chnames diffuse.R,diffuse.G,diffuse.B \
        -o "$IN/diffuse.exr"
    oiiotool "$IN/crop.exr" --ch R,G,B --mulc 0.25 --chnames specular.R,specular.G,specular.B \
        -o "$IN/specular.exr"
    oiiotool "$IN/crop.exr" --ch "N.x=G,N.y=B,N.z=R,objectId=0.5" -o "$IN/data.exr"
    oiiotool "$IN/crop.exr" "$IN/diffuse.exr" --chappend "$IN/specular.exr" --chappend \
        "$IN/data.exr" --chappend "${exr[@]}" -o "$IN/aovs.exr"
    local frame_number x=200
    for frame_number in 1001 1002 1003; do
        oiiotool "$frame" --cut 240x135+$x+220 "${exr[@]}" -o "$IN/shot.$frame_number.exr"
        x=$((x + 160))
    done
}
make_inputs >"$WORK/inputs.log" 2>&1 || {
    keep=1
    fail "oiiotool could not make the inputs (see $WORK/inputs.log)"
}

# One case a line: its name, the exit status it should end with, and the
# arguments after dof3d (shell words; $IN the inputs made above, $DATA the
# data folder). Outputs are named relative to the case's own folder.
CASES=$(cat <<'EOF'
splat-slabs          0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --method splat
splat-slabs-1-thread 0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --threads 1 --method splat
splat-slabs-2-threads 0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --threads 2 --method splat
splat-3-slabs        0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 20 --layers 3 --method splat
splat-one-1-thread   0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --layers 1 --threads 1
splat-one-2-threads  0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --layers 1 --threads 2
splat-slabs-8        0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --format 8 --method splat
splat-one-16         0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --format 16 --layers 1
splat-one-10         0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --format 10 --layers 1
box-float            0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --method box
box-16-2-threads     0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --method box --format 16 --threads 2
box-8-1-thread       0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --method box --format 8 --threads 1
box-12               0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --method box --format 12
data-window          0 render "$IN/window.exr" -o out.exr --focus 3.86 --radius 12 --coc-map coc.png
sharp-zone           0 render "$IN/crop.exr" -o out.exr --focus 3.86 --sharp-until 6 --radius 10
aspect-and-scale     0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --pixel-aspect 2 --scale 0.5,1
no-hit-focus         0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 12 --no-hit focus --no-hit-above 8
png-depth-auto       0 render "$IN/beauty.png" --depth "$IN/depth.exr" -o out.png --focus 3.86 --radius 8 --format auto --coc-map coc.png
png-depth-box        0 render "$IN/beauty.png" --depth "$IN/depth.exr" -o out.png --focus 3.86 --radius 8 --method box
png-to-exr           0 render "$IN/beauty.png" --depth "$IN/depth.exr" -o out.exr --focus 3.86 --radius 8 --layers 1
tif16-negative-depth 0 render "$IN/beauty16.tif" --depth "$IN/negative.exr" --depth-convention negative --focus=-3.86 --radius 8 -o out.tif
to-png               0 render "$IN/crop.exr" -o out.png --focus 3.86 --radius 8
to-jpeg              0 render "$IN/crop.exr" -o out.jpg --focus 3.86 --radius 8
to-tiff              0 render "$IN/crop.exr" -o out.tif --focus 3.86 --radius 8
to-tiff-uint16       0 render "$IN/crop.exr" -o out.tif --focus 3.86 --radius 8 -d uint16
to-exr-half          0 render "$IN/crop.exr" -o out.exr --focus 3.86 --radius 8 -d half
to-png-half-refused  2 render "$IN/crop.exr" -o out.png --focus 3.86 --radius 8 -d half
aovs-splat           0 render "$IN/aovs.exr" -o out.exr --focus 3.86 --radius 10
aovs-box             0 render "$IN/aovs.exr" -o out.exr --focus 3.86 --radius 10 --method box --json
aovs-rgba-only       0 render "$IN/aovs.exr" -o out.exr --focus 3.86 --radius 10 --rgba-only
aovs-to-tiff         0 render "$IN/aovs.exr" -o out.tif --focus 3.86 --radius 10 --layers 1
sequence-2-jobs      0 render "$IN/shot.####.exr" -o out.####.exr --frames 1001-1003 -j 2 --focus 3.86 --radius 8 --coc-map coc.####.png --json
deep                 0 render "$DATA/openexr-images/v2_LowResLeftView_Balls.exr" -o out.exr --focus-at 780,390 --radius 8
deep-one-box         0 render "$DATA/openexr-images/v2_LowResLeftView_Balls.exr" -o out.exr --focus-at 780,390 --radius 8 --method box --coc-map coc.png
lens                 0 render "$DATA/frames/still_life_540.exr" -o out.exr --focus 3.86 --fstop 1.2 --focal-length 50 --sensor-width 36 --coc-map coc.png --json
views-one-part       0 render "$DATA/openexr-images/Beachball_singlepart.0001.exr" -o out.exr --focus-at 1100,700 --radius 8
views-parts          0 render "$DATA/openexr-images/Beachball_multipart.0001.exr" -o out.exr --focus-at 1100,700 --radius 8
views-to-png         0 render "$DATA/openexr-images/Beachball_singlepart.0001.exr" -o out.png --focus-at 1100,700 --radius 8 --method box
large-box            0 render "$DATA/frames/still_life_1080.exr" -o out.exr --focus 3.86 --radius 16 --method box --format 16
blur-gaussian        0 blur "$IN/beauty.png" -o out.png --kernel gaussian --sigma 2.5
blur-box-weighted    0 blur "$IN/beauty.png" -o out.png --kernel box --radius 3 --alpha-weighted
EOF
)

# run BUILD PROGRAM NAME ARGS...: the case in BUILD's folder of its own.
run() {
    local build=$1 program=$2 name=$3 status=0
    shift 3
    mkdir "$WORK/$build/$name"
    (cd "$WORK/$build/$name" && "$program" "$@") </dev/null \
        >"$WORK/$build/$name.stdout" 2>"$WORK/$build/$name.stderr" || status=$?
    echo "$status" >"$WORK/$build/$name.status"
    # Timings vary from run to run; what else the summary says must not.
    sed -E -i 's/"seconds":(\{[^}]*\}|[^,}]*)/"seconds":null/g' "$WORK/$build/$name.stdout"
}

# The file with every date and time of the form "2024:05:31 12:00:00"
# zeroed: an OpenEXR written from a frame that carries no date gets the time
# of writing, which differs between the two runs by a second at times.
without_time() {
    perl -0777 -pe 's/\d{4}:\d\d:\d\d \d\d:\d\d:\d\d/0000:00:00 00:00:00/g' "$1"
}

# Files of NAME that differ between the builds (or exist in one only).
differing() {
    local name=$1 file
    {
        (cd "$WORK/old/$name" && find . -type f)
        (cd "$WORK/new/$name" && find . -type f)
    } | sort -u | while read -r file; do
        local was=$WORK/old/$name/$file is=$WORK/new/$name/$file
        cmp -s "$was" "$is" ||
            { [ -f "$was" ] && [ -f "$is" ] && cmp -s <(without_time "$was") <(without_time "$is"); } ||
            echo "${file#./}"
    done
    for file in stdout stderr; do
        cmp -s "$WORK/old/$name.$file" "$WORK/new/$name.$file" || echo "$file"
    done
}

same=0 differ=0 failed=0
while read -r name expected arguments; do
    eval "set -- $arguments"
    run old "$OLD" "$name" "$@" &
    run new "$NEW" "$name" "$@" &
    wait
    was=$(cat "$WORK/old/$name.status") is=$(cat "$WORK/new/$name.status")
    files=$(differing "$name" | tr '\n' ' ')
    if [ "$was" != "$expected" ] || [ "$is" != "$was" ]; then
        failed=$((failed + 1))
        printf '%-22s failed: status %s with OLD, %s with NEW (expected %s)\n' \
            "$name" "$was" "$is" "$expected"
    elif [ -n "$files" ]; then
        differ=$((differ + 1))
        printf '%-22s differs: %s\n' "$name" "${files% }"
    else
        same=$((same + 1))
        files=$(cd "$WORK/old/$name" && find . -type f -printf '%P\n' | sort | tr '\n' ' ')
        files=${files% }
        printf '%-22s same: %s\n' "$name" "${files:-no files}"
    fi
done <<<"$CASES"

echo "$((same + differ + failed)) cases: $same same, $differ differ, $failed failed"
if [ $((differ + failed)) -gt 0 ]; then
    keep=1
    echo "outputs kept in $WORK (old/ and new/, a folder per case)"
    exit 1
fi
