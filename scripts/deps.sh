#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing, then the
# line page's npm packages (web/node_modules) when they are missing or older than
# web/package-lock.json.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev qt6-tools-dev
      qt6-charts-dev libgtest-dev libgmock-dev xvfb xauth mosquitto mosquitto-clients
      libmosquitto-dev chromium)
# Node.js from Debian only where there is none (a newer one may be installed already).
command -v node >/dev/null || pkgs+=(nodejs)
command -v npm >/dev/null || pkgs+=(npm)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
# The line page's packages, exactly as the lock file pins them; the lock's checksum kept
# beside them says when they are stale.
lock="$root/web/package-lock.json"
stamp="$root/web/node_modules/.varno-lock.sha256"
want=$(sha256sum "$lock" | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  echo "Installing the line page's packages (npm ci in web/)"
  (cd "$root/web" && npm ci --no-audit --no-fund --loglevel=error)
  echo "$want" >"$stamp"
fi
