#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project:
# compilers for both platforms, the 32-bit emulator, and the host side's
# libraries. Does nothing when everything is there.
set -euo pipefail

# libfftw3-dev: the transforms that spread a picture of the aperture.
# python3-openimageio and python3-numpy: scripts/compare-to-reference.py.
# openimageio-tools: Debian's OpenImageIO CMake package names its command-line
# tools among its imported targets, and configuring fails without them.
packages=(
  make cmake ninja-build g++ g++-multilib qemu-user binutils python3
  googletest libgtest-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools libopenexr-dev libcli11-dev nlohmann-json3-dev libfftw3-dev
  slurm-wlm munge
  python3-openimageio python3-numpy
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "error: these packages are missing and this user cannot install them: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
