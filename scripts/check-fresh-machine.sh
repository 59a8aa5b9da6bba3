#!/usr/bin/env bash
# Runs the README's two commands on a clean clone inside a fresh Debian 12
# root file system, so that nothing installed by hand on this machine can
# hide a missing install step. Needs root, debootstrap and network access to
# the Debian mirror. The root stays in ROOT (default /tmp/dof-fresh-root) for
# inspection; a second run starts from a new one.
# usage: scripts/check-fresh-machine.sh [ROOT]
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-/tmp/dof-fresh-root}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

if [ "$(id -u)" -ne 0 ]; then
  echo "error: debootstrap and chroot need root" >&2
  exit 1
fi
command -v debootstrap >/dev/null || { apt-get update -qq && apt-get install -y -qq debootstrap; }

cleanup() {
  for m in proc sys dev/pts dev; do umount "$root/$m" 2>/dev/null || true; done
}
trap cleanup EXIT

rm -rf "$root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >/dev/null
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind /sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"

# The README asks a newcomer for git (to clone) and make (to run it).
chroot "$root" bash -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends make >/dev/null'
git clone -q "$PWD" "$root/project"
chroot "$root" bash -c 'cd /project && make test && make demo'
echo "fresh machine: make test and make demo passed"
