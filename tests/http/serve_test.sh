#!/usr/bin/env bash
# Splits a tree of varied files into a lighttpd document root with the
# shipped default.cgi and default.mime, then downloads every file through
# its script companion with curl and compares the bytes; asks for ranges and
# a HEAD; and checks that broken sets fail with an error status.
#   serve_test.sh PARCELOT
parcelot=$1
. "$(dirname "$0")/lib.sh"
[ -n "$(lighttpd_bin)" ] || skip "lighttpd is not installed (bash scripts/setup.sh lighttpd)"
command -v curl >/dev/null || skip "curl is not installed"

S=100000 # the chunk size of the split
orig=$work/orig
www=$work/www
mkdir -p "$orig/sub dir"
head -c 0 /dev/null >"$orig/empty"
head -c 1 /dev/urandom >"$orig/one byte"
head -c $((S - 1)) /dev/urandom >"$orig/chunk less one"
head -c $S /dev/urandom >"$orig/sub dir/exactly one chunk"
head -c $((S + 1)) /dev/urandom >"$orig/sub dir/100% one more"
head -c $((5 * S + 123)) /dev/urandom >"$orig/Größe – ünïcödé.bin"
head -c $((3 * 1048576 + 54321)) /dev/urandom >"$orig/big it's \"3 MiB\".iso"
printf 'plain text\r\nwith CR LF\n' >"$orig/-leading dash.txt"
cp -a "$orig" "$www"

out=$("$parcelot" -s "$www" "*" "$S")
check "every split succeeds" test "$(grep -c '^Succeeded\.$' <<<"$out")" -eq 8
check "no file remains unsplit" test -z "$(cd "$www" && find . -type f ! -name '*.cgi' ! -name '*.mime' ! -name '*.[0-9][0-9][0-9]')"
check "the companions are the shipped defaults" \
  cmp -s "$www/one byte.cgi" "$(dirname "$(readlink -f "$parcelot")")/default.cgi"
check "the script companion is executable" test -x "$www/sub dir/exactly one chunk.cgi"

start_server "$www"

# Each file whole, through its script companion.
while IFS= read -r -d '' rel; do
  rel=${rel#./}
  code=$(curl -sS -o "$work/got" -w '%{http_code}' "$base_url/$(url_path "$rel").cgi") || code=curl-error
  check "GET $rel: status $code" test "$code" = 200
  check "GET $rel: bytes" cmp -s "$work/got" "$orig/$rel"
done < <(cd "$orig" && find . -type f -print0)

big="big it's \"3 MiB\".iso"
url="$base_url/$(url_path "$big").cgi"
len=$(stat -c %s "$orig/$big")

# The headers of a whole download and of a HEAD.
for method in GET HEAD; do
  if [ $method = GET ]; then
    curl -sS -D "$work/headers" -o "$work/got" "$url"
  else
    curl -sS -I -o "$work/headers" "$url"
  fi
  tr -d '\r' <"$work/headers" >"$work/h"
  check "$method: 200" grep -q '^HTTP/1.1 200' "$work/h"
  check "$method: Content-Length" grep -qx "Content-Length: $len" "$work/h"
  check "$method: Content-Type from the header companion" grep -qix 'Content-Type: application/octet-stream' "$work/h"
  check "$method: Content-Disposition" grep -qxF \
    "Content-Disposition: attachment; filename=\"big it's _3 MiB_.iso\"; filename*=UTF-8''big%20it%27s%20%223%20MiB%22.iso" "$work/h"
  check "$method: Accept-Ranges" grep -qix 'Accept-Ranges: bytes' "$work/h"
done
curl -sS -D "$work/headers" -o "$work/got" "$base_url/$(url_path "Größe – ünïcödé.bin").cgi"
check "a non-ASCII name in filename*" grep -qF \
  "filename=\"Gr____e ___ __n__c__d__.bin\"; filename*=UTF-8''Gr%C3%B6%C3%9Fe%20%E2%80%93%20%C3%BCn%C3%AFc%C3%B6d%C3%A9.bin" "$work/headers"

# Ranges: RANGE STATUS FIRST LAST (FIRST and LAST of the bytes expected).
while read -r range status first last; do
  code=$(curl -sS -D "$work/headers" -o "$work/got" -w '%{http_code}' -H "Range: bytes=$range" "$url") || code=curl-error
  check "range $range: status $code, expected $status" test "$code" = "$status"
  tr -d '\r' <"$work/headers" >"$work/h"
  case $status in
    206)
      check "range $range: Content-Range" grep -qx "Content-Range: bytes $first-$last/$len" "$work/h"
      check "range $range: bytes" cmp -s "$work/got" <(bytes "$orig/$big" "$first" "$last")
      ;;
    200) check "range $range ignored: whole file" cmp -s "$work/got" "$orig/$big" ;;
    416) check "range $range: Content-Range" grep -qx "Content-Range: bytes \*/$len" "$work/h" ;;
  esac
done <<RANGES
0-0                    206 0 0
0-99                   206 0 99
1000000-1234566        206 1000000 1234566
$((S - 10))-$((S + 9)) 206 $((S - 10)) $((S + 9))
50000-350000           206 50000 350000
$((len - 1))-$((len - 1)) 206 $((len - 1)) $((len - 1))
$((len - 1))-          206 $((len - 1)) $((len - 1))
-500                   206 $((len - 500)) $((len - 1))
3000000-               206 3000000 $((len - 1))
$((len - 10))-$((len + 1000)) 206 $((len - 10)) $((len - 1))
$len-                  416
$((len + 5))-$((len + 9)) 416
-0                     416
0-1,5-6                200
9-3                    200
x-y                    200
RANGES

# The request names no file: path info and the query leave the answer as it is.
for extra in "/etc/passwd" "?../../../../etc/passwd" "/etc/passwd?f=../../etc/passwd"; do
  code=$(curl -sS --path-as-is -o "$work/got" -w '%{http_code}' "$url$extra") || code=curl-error
  check "GET ...cgi$extra: status $code" test "$code" = 200
  check "GET ...cgi$extra: the file itself" cmp -s "$work/got" "$orig/$big"
done

# Broken sets: no header companion, or no chunk 0 while chunk 1 is there.
rm "$www/sub dir/100% one more.mime"
rm "$www/Größe – ünïcödé.bin.000"
for case in "sub dir/100% one more:404" "Größe – ünïcödé.bin:500"; do
  rel=${case%:*}
  code=$(curl -sS -o "$work/got" -w '%{http_code}' "$base_url/$(url_path "$rel").cgi") || code=curl-error
  check "broken set $rel: status $code" test "$code" = "${case##*:}"
  check "broken set $rel: a short error text, no file bytes" test "$(stat -c %s "$work/got")" -lt 100
  check "curl -f fails on broken set $rel" test "$(curl -sf -o /dev/null "$base_url/$(url_path "$rel").cgi"; echo $?)" = 22
done

stop_server
check "the server logged no error" test -z "$(grep -v 'server started\|server stopped\|shutdown' "$work/lighttpd-error.log" || true)"
[ "$failed" -eq 0 ] || cat "$work/lighttpd-error.log"
finish
