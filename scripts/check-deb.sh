#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal Debian 12 (debootstrap, as root) and
# starts the installed program there with the simulated sensor. Needs the network to
# deb.debian.org. Usage: scripts/check-deb.sh [chroot folder, default /tmp/varno-deb12]
set -euo pipefail
cd "$(dirname "$0")/.."
root="${1:-/tmp/varno-deb12}"
scripts/package.sh >/dev/null
deb=$(ls build/varno_*_amd64.deb | head -n 1)
command -v debootstrap >/dev/null || apt-get install -y debootstrap
[ -x "$root/bin/bash" ] || debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
cp "$deb" "$root/tmp/varno.deb"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
chroot "$root" /bin/bash -c "apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/varno.deb >/dev/null &&
  varno --version &&
  cd /tmp && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp varno --simulate --screenshot /tmp/shot.png &&
  test -s /tmp/shot.png && echo 'installed program showed its panel'"
