#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program
# through its bin/ link from another directory: the companions it copies must
# be the installed defaults. Then builds the Debian package, checks its
# contents, and runs the program unpacked from it the same way.
#   install_test.sh BUILD_DIR SOURCE_DIR
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
. "$(dirname "$0")/lib.sh"

# try PREFIX WHAT: splits and joins a small tree with PREFIX/bin/parcelot
# run from $work/elsewhere, with the defaults of PREFIX/lib/parcelot (whose
# header file is first marked, so that no other default.mime could pass).
try() {
  local prefix=$1 what=$2 private=$1/lib/parcelot out
  printf 'X-Installed: %s\n' "$what" >>"$private/default.mime"
  rm -rf "$work/elsewhere"
  mkdir -p "$work/elsewhere/tree/sub"
  head -c 10 /dev/urandom >"$work/elsewhere/tree/sub/ten"
  cp "$work/elsewhere/tree/sub/ten" "$work/ten"
  out=$(cd "$work/elsewhere" && "$prefix/bin/parcelot" -s tree "*" 4)
  check "$what: the split succeeds" grep -qx 'Succeeded\.' <<<"$out"
  check "$what: header companion from the installation" cmp -s "$work/elsewhere/tree/sub/ten.mime" "$private/default.mime"
  check "$what: script companion from the installation" cmp -s "$work/elsewhere/tree/sub/ten.cgi" "$private/default.cgi"
  check "$what: script companion executable" test -x "$work/elsewhere/tree/sub/ten.cgi"
  out=$(cd "$work/elsewhere" && "$prefix/bin/parcelot" -j tree)
  check "$what: the join gives the file back" cmp -s "$work/elsewhere/tree/sub/ten" "$work/ten"
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
check "bin/parcelot is a relative link" test "$(readlink "$prefix/bin/parcelot")" = ../lib/parcelot/parcelot
check "installed default.cgi is the shipped one" cmp -s "$prefix/lib/parcelot/default.cgi" "$source/data/default.cgi"
check "installed default.cgi is executable" test -x "$prefix/lib/parcelot/default.cgi"
check "installed default.mime is the shipped one" cmp -s "$prefix/lib/parcelot/default.mime" "$source/data/default.mime"
check "manual page installed" test -s "$prefix/share/man/man1/parcelot.1"
if command -v groff >/dev/null; then
  check "manual page formats without warnings" test -z "$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/parcelot.1" 2>&1)"
fi
try "$prefix" "cmake --install"

if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
  echo "cpack or dpkg-deb missing: the package is not tested"
  finish
  exit
fi
(cd "$work" && cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) || cat "$work/cpack.log"
deb=$(find "$work/package" -maxdepth 1 -name 'parcelot_*.deb' 2>/dev/null | head -n1 || true)
check "cpack -G DEB builds a package" test -n "$deb"
if [ -n "$deb" ]; then
  dpkg-deb -c "$deb" >"$work/listing"
  awk '{ line = substr($1, 1, 1); for (i = 6; i <= NF; i++) line = line " " $i; print line }' "$work/listing" >"$work/contents"
  for entry in "l ./usr/bin/parcelot -> ../lib/parcelot/parcelot" "- ./usr/lib/parcelot/parcelot" \
    "- ./usr/lib/parcelot/default.cgi" "- ./usr/lib/parcelot/default.mime" "- ./usr/share/man/man1/parcelot.1"; do
    check "package holds $entry" grep -qxF -- "$entry" "$work/contents"
  done
  check "package's default.cgi is executable" grep -q '^-rwxr-xr-x .* ./usr/lib/parcelot/default.cgi$' "$work/listing"
  check "package name and dependencies" test "$(dpkg-deb -f "$deb" Package Depends)" = "$(printf 'Package: parcelot\nDepends: libc6, libgcc-s1, libstdc++6')"
  dpkg-deb -x "$deb" "$work/unpacked"
  try "$work/unpacked/usr" "package"
fi
finish
