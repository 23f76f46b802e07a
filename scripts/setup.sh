#!/usr/bin/env bash
# Installs what building Parcelot and running its tests need, from Debian's
# packages, when it is missing. Runs apt-get as root (through sudo when the
# caller is not root).
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
if [ "${1:-}" = "--tests" ]; then
  have_pkg libgtest-dev || need+=(libgtest-dev)
fi

if [ "${#need[@]}" -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "Installing: ${need[*]}"
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${need[@]}" >/dev/null
fi
