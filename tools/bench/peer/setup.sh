#!/usr/bin/env bash
# Installs what the peer comparison needs and nothing the product needs: Node.js and pandas
# from Debian, DuckDB's Node client from the npm registry into the build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: setup.sh BUILD_DIR}
packages=(nodejs npm python3-pandas python3-numpy bc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# A Node.js that came another way (nvm, the machine's image) serves as well as Debian's.
if command -v node >/dev/null && command -v npm >/dev/null; then
  missing=("${missing[@]/nodejs/}"); missing=("${missing[@]/npm/}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
mkdir -p "$out/peer"
cp "$here/package.json" "$here/peer_screens.mjs" "$out/peer/"
if [ ! -d "$out/peer/node_modules/@duckdb/node-api" ]; then
  (cd "$out/peer" && npm install --no-audit --no-fund --silent)
fi
