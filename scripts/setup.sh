#!/usr/bin/env bash
# Installs, from Debian's packages, whichever of the named packages is
# missing (with no names: what building Parcelot needs). Runs apt-get as root
# (through sudo when the caller is not root).
#   bash scripts/setup.sh                 # cmake ninja-build g++
#   bash scripts/setup.sh libgtest-dev    # those and the named packages
set -euo pipefail

need=()
for pkg in cmake ninja-build g++ "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "Installing: ${need[*]}"
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${need[@]}" >/dev/null
fi
