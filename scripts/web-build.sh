#!/usr/bin/env bash
# Builds the line page into one folder any web server can serve (build/web/ unless told
# otherwise): the page, its style, and its script with the MQTT client and the charts
# bundled in (one classic script: mosquitto's own web server gives files no MIME type,
# which browsers refuse for module scripts). Needs web/node_modules (scripts/deps.sh).
# Usage: scripts/web-build.sh [OUTPUT FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/web}"
[ -x web/node_modules/.bin/esbuild ] || {
  echo "web-build: web/node_modules is missing (scripts/deps.sh installs it)" >&2
  exit 1
}
rm -rf "$out.tmp"
mkdir -p "$out.tmp/vendor"
cp web/index.html web/line.css "$out.tmp/"
cp web/node_modules/uplot/dist/uPlot.min.css "$out.tmp/vendor/"
web/node_modules/.bin/esbuild web/js/main.js --bundle --format=iife --target=es2020 \
  --minify-syntax --minify-whitespace --legal-comments=linked --log-level=warning --outfile="$out.tmp/line.js"
rm -rf "$out"
mv "$out.tmp" "$out"
echo "web-build: the line page is in $out/"
