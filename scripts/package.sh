#!/usr/bin/env bash
# Builds the Debian package build/varno_<version>_amd64.deb (CPack) with the distribution's
# build flags (dpkg-buildflags with every hardening feature: fortify, stack protector,
# relro, bind now), in a build folder of its own (build/deb), and checks it with lintian,
# which must find no error and none of its hardening tags (its warnings are printed).
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/deps.sh"
need=()
for p in dpkg-dev lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${need[@]}"
fi
flag() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cxxflags="$(flag CPPFLAGS) $(flag CXXFLAGS)"
ldflags="$(flag LDFLAGS)"
echo "package: CXXFLAGS=$cxxflags"
echo "package: LDFLAGS=$ldflags"
cmake -S . -B build/deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNO_BUILD_TESTS=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" "$@" >/dev/null
cmake --build build/deb -j 2
"$(dirname "$0")/web-build.sh" build/deb/web >/dev/null # installed as /usr/share/varno/www
rm -f build/varno_*.deb build/deb/varno_*.deb
(cd build/deb && cpack -G DEB >/dev/null)
mv build/deb/varno_*.deb build/
deb=$(ls build/varno_*.deb)
ls -l "$deb"
report=$(lintian --fail-on error --display-info --info "$deb") || { echo "$report"; exit 1; }
echo "$report"
if grep -q "hardening-" <<<"$report"; then
  echo "lintian: hardening tags remain in $deb" >&2
  exit 1
fi
echo "lintian: no errors and no hardening tags in $deb"
