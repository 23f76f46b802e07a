#!/usr/bin/env bash
# The Windows suite: cross-builds parcelot.exe (and the unit tests) with
# mingw-w64, checks that the program needs no DLL beyond Windows' own, and
# runs the unit tests and the end-to-end tests (the host's test binary, with
# the Windows expectations) against it under Wine: ctest label "wine".
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$SECONDS

bash scripts/setup.sh libgtest-dev googletest g++-mingw-w64-x86-64-posix wine wine64

# The host's end-to-end test binary (scripts/test.sh has built it already).
host=build/test
if [ ! -f "$host/CMakeCache.txt" ]; then
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELOT_WERROR=ON >/dev/null
fi
cmake --build "$host" --target parcelot_e2e

# A Wine prefix of our own, made without questions (no Mono, no Gecko), and
# one Wine server kept running for the whole suite so that each run starts
# fast; both go at the end.
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/parcelot-wine-XXXXXX")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineserver -p
wineboot -i >/dev/null 2>&1

cmake --preset windows-cross -DPARCELOT_WERROR=ON \
  -DPARCELOT_HOST_E2E="$PWD/$host/tests/parcelot_e2e" >/dev/null
cmake --build build/windows -j2

imports=$(x86_64-w64-mingw32-objdump -p build/windows/parcelot.exe | awk '/DLL Name:/ {print $3}')
echo "parcelot.exe imports: $(echo $imports)"
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) echo "parcelot.exe needs $dll, which Windows does not have" >&2; exit 1 ;;
  esac
done

ctest --test-dir build/windows -L wine -j2 --output-on-failure --timeout 300
echo "Windows suite: $((SECONDS - start)) s"
