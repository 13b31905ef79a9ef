#!/usr/bin/env bash
# Builds the Debian package build/varno_<version>_amd64.deb (CPack) and checks it with
# lintian, which must find no error (its warnings are printed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
need=()
for p in dpkg-dev lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${need[@]}"
fi
rm -f build/varno_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/varno_*.deb)
ls -l "$deb"
lintian --fail-on error --info "$deb"
echo "lintian: no errors in $deb"
