#!/usr/bin/env bash
# Builds the Debian package build/varno_<version>_amd64.deb (CPack).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "install ok installed" || {
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get install -y dpkg-dev
}
cd build && cpack -G DEB
ls -l varno_*.deb
