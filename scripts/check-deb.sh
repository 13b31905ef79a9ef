#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal Debian 12 (debootstrap, as root) and
# starts the installed program there with the simulated sensor. The packages come from
# the mirror this machine's own APT sources name (sources.list, sources.list.d/*.list and
# the deb822 *.sources, as APT itself reads them), so it works wherever apt works.
# Usage: scripts/check-deb.sh [chroot folder, default /tmp/varno-deb12]
set -euo pipefail
cd "$(dirname "$0")/.."
root="${1:-/tmp/varno-deb12}"
scripts/package.sh >/dev/null
deb=$(ls build/varno_*_amd64.deb | head -n 1)
command -v debootstrap >/dev/null || apt-get install -y debootstrap
# The first "deb" source that carries the release itself (not -updates or -security),
# named by its codename or, once apt-get update has read its Release file, a suite name.
mirror=$(apt-get indextargets --format '$(TARGET_OF) $(RELEASE) $(REPO_URI) $(CODENAME)' |
  awk '$1 == "deb" && ($2 == "bookworm" || $4 == "bookworm") { print $3; exit }')
[ -n "$mirror" ] || {
  echo "check-deb: no APT source of this machine carries bookworm (see /etc/apt/sources.list*)" >&2
  exit 1
}
echo "check-deb: packages from $mirror"
[ -x "$root/bin/bash" ] || debootstrap --variant=minbase bookworm "$root" "$mirror"
cp "$deb" "$root/tmp/varno.deb"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
chroot "$root" /bin/bash -c "apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/varno.deb >/dev/null &&
  varno --version &&
  cd /tmp && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp varno --simulate --screenshot /tmp/shot.png &&
  test -s /tmp/shot.png && echo 'installed program showed its panel'"
