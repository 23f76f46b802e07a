#!/usr/bin/env bash
# Runs the shipped default.cgi directly, as a web server would (the CGI
# variables in its environment), on sets made by the program, under each
# POSIX shell at hand: names a server could not even ask for, the header
# companion's lines, methods, empty and broken sets, chunk batches, range
# edge cases, another chunk-name pattern, and the fallback without stat.
#   script_test.sh PARCELOT
parcelot=$1
. "$(dirname "$0")/lib.sh"
cgi=$(dirname "$(readlink -f "$parcelot")")/default.cgi

# run SHELL SCRIPT_FILENAME [VAR=value...]: the script's answer, split into
# $work/h (header lines, CR removed) and $work/body.
run() {
  local shell=$1 script=$2
  shift 2
  timeout 60 env -i PATH="$PATH" REQUEST_METHOD=GET SCRIPT_FILENAME="$script" "$@" $shell "$script" >"$work/answer"
  sed -n '1,/^\r$/p' "$work/answer" >"$work/raw-headers"
  tr -d '\r' <"$work/raw-headers" >"$work/h"
  tail -c +"$(($(wc -c <"$work/raw-headers") + 1))" "$work/answer" >"$work/body"
}
status() { sed -n 's/^Status: //p' "$work/h" | head -n1 | grep . || echo "200 (none)"; }
has() { grep -qxF -- "$1" "$work/h"; }

split_tree() { # DIR SIZE [header script pattern]: splits DIR, every split must succeed
  local out
  out=$("$parcelot" -s "$@")
  ! grep -q '^Failed' <<<"$out"
}

shells=(sh)
command -v bash >/dev/null && shells+=("bash --posix")
command -v dash >/dev/null && [ "$(readlink -f "$(command -v sh)")" != "$(readlink -f "$(command -v dash)")" ] && shells+=(dash)

for shell in "${shells[@]}"; do
  d=$work/${shell%% *}
  mkdir -p "$d/names" "$d/sets" "$d/other" "$d/orig"
  # Names with a newline, quotes, a backslash, a leading dash, '%' and '$'.
  names=($'line\nbreak' "-dash \"q\" 'q' \\ \$HOME %41" "ünï")
  for n in "${names[@]}"; do head -c 25 /dev/urandom >"$d/names/$n"; cp "$d/names/$n" "$d/orig/$n"; done
  split_tree "$d/names" "*" 10
  for n in "${names[@]}"; do
    run "$shell" "$d/names/$n.cgi"
    check "$shell: name ${n@Q}: bytes" cmp -s "$work/body" "$d/orig/$n"
    check "$shell: name ${n@Q}: one Content-Disposition line" test "$(grep -c '^Content-Disposition: attachment; filename="[ !#-$&-[^-~]*"; filename\*=UTF-8'"''"'[A-Za-z0-9!#$&+.^_`|~%-]*$' "$work/h")" = 1
  done
  run "$shell" "$d/names/"$'line\nbreak.cgi'
  check "$shell: filename* of a newline" has "Content-Disposition: attachment; filename=\"line_break\"; filename*=UTF-8''line%0Abreak"
  run "$shell" "$d/names/-dash \"q\" 'q' \\ \$HOME %41.cgi"
  check "$shell: filename of quotes, backslash, percent" has "Content-Disposition: attachment; filename=\"-dash _q_ 'q' _ \$HOME _41\"; filename*=UTF-8''-dash%20%22q%22%20%27q%27%20%5C%20\$HOME%20%2541"

  # Sets: 0 bytes, 64 and 129 chunks of 10 bytes (the script lists chunk
  # names 64 at a time), a gap after chunk 1, chunk 1 without chunk 0.
  s=$d/sets
  : >"$s/empty"
  head -c 640 /dev/urandom >"$s/c64"
  head -c 1285 /dev/urandom >"$s/c129"
  head -c 40 /dev/urandom >"$s/gap"
  head -c 40 /dev/urandom >"$s/nochunk0"
  for f in empty c64 c129 gap nochunk0; do cp "$s/$f" "$d/orig/$f"; done
  split_tree "$s" "*" 10
  rm "$s/gap.002" "$s/nochunk0.000"

  run "$shell" "$s/empty.cgi"
  check "$shell: empty set: 200" test "$(status)" = "200 (none)"
  check "$shell: empty set: length 0" has "Content-Length: 0"
  check "$shell: empty set: no body" test ! -s "$work/body"
  for f in c64 c129; do
    run "$shell" "$s/$f.cgi"
    check "$shell: $f: bytes" cmp -s "$work/body" "$d/orig/$f"
    check "$shell: $f: length" has "Content-Length: $(wc -c <"$d/orig/$f")"
  done
  run "$shell" "$s/gap.cgi"
  check "$shell: a gap ends the chunks" cmp -s "$work/body" <(head -c 20 "$d/orig/gap")
  run "$shell" "$s/nochunk0.cgi"
  check "$shell: chunk 1 without chunk 0: 500" test "$(status)" = "500 Internal Server Error"
  check "$shell: chunk 1 without chunk 0: no file bytes" test "$(wc -c <"$work/body")" -lt 40

  # Ranges on c129 (1285 bytes): HTTP_RANGE [more env] -> status first last.
  while IFS='|' read -r range env want first last; do
    # shellcheck disable=SC2086
    run "$shell" "$s/c129.cgi" HTTP_RANGE="$range" $env
    check "$shell: range '$range' $env: status $(status)" test "$(status)" = "$want"
    case $want in
      206*)
        check "$shell: range '$range': Content-Range" has "Content-Range: bytes $first-$last/1285"
        check "$shell: range '$range': bytes" cmp -s "$work/body" <(bytes "$d/orig/c129" "$first" "$last")
        ;;
      200*) [ "$env" = REQUEST_METHOD=HEAD ] || check "$shell: range '$range' $env: whole file" cmp -s "$work/body" "$d/orig/c129" ;;
      416*) check "$shell: range '$range': Content-Range" has "Content-Range: bytes */1285" ;;
    esac
  done <<'RANGES'
bytes=0007-0012||206 Partial Content|7|12
bytes=1280-99999999999999999999999||206 Partial Content|1280|1284
bytes=-99999999999999999999999||206 Partial Content|0|1284
bytes=99999999999999999999999-||416 Range Not Satisfiable
BYTES=5-5||206 Partial Content|5|5
bytes= 9-30 ||206 Partial Content|9|30
bytes=630-649||206 Partial Content|630|649
bytes=0-0|HTTP_IF_RANGE="x"|200 (none)
bytes=0-0|REQUEST_METHOD=HEAD|200 (none)
items=0-0||200 (none)
bytes=0-1, 3-4||200 (none)
bytes=--5||200 (none)
RANGES
  run "$shell" "$s/empty.cgi" HTTP_RANGE=bytes=0-
  check "$shell: any range of an empty file: 416" test "$(status)" = "416 Range Not Satisfiable"

  # HEAD: the headers of a GET and no body; other methods: 405.
  run "$shell" "$s/c64.cgi" REQUEST_METHOD=HEAD
  check "$shell: HEAD: length" has "Content-Length: 640"
  check "$shell: HEAD: no body" test ! -s "$work/body"
  run "$shell" "$s/c64.cgi" REQUEST_METHOD=POST
  check "$shell: POST: 405" test "$(status)" = "405 Method Not Allowed"
  check "$shell: POST: Allow" has "Allow: GET, HEAD"

  # The set comes from SCRIPT_FILENAME alone and must be an absolute B.cgi.
  run "$shell" "$s/c64.cgi" SCRIPT_FILENAME=c64.cgi
  check "$shell: a relative SCRIPT_FILENAME: 500" test "$(status)" = "500 Internal Server Error"

  # A header companion as users write them: CR LF, a blank line, fields the
  # script decides, a line that is no header, no final line end. Beside it,
  # another chunk-name pattern set on the script's marked line.
  o=$d/other
  head -c 33 /dev/urandom >"$o/file"
  cp "$o/file" "$d/orig/file"
  printf 'Content-Type: video/mp4\r\n\r\nContent-Length: 3\nStatus: 302 Found\nno header here\nContent-Disposition: inline\nX-Extra: a b' >"$o/my.mime"
  sed "s/^EXTENSION='.%03u'\$/EXTENSION='-part%u'/" "$cgi" >"$o/my.cgi"
  chmod +x "$o/my.cgi"
  check "the pattern line is there to edit" grep -q "^EXTENSION='-part%u'\$" "$o/my.cgi"
  split_tree "$o" "file" 8 "$o/my.mime" "$o/my.cgi" "-part%u"
  run "$shell" "$o/file.cgi"
  check "$shell: -part%u: bytes" cmp -s "$work/body" "$d/orig/file"
  check "$shell: companion headers kept, the script's own fields decided by it" \
    test "$(cat "$work/h")" = "$(printf 'Content-Type: video/mp4\nContent-Disposition: inline\nX-Extra: a b\nAccept-Ranges: bytes\nContent-Length: 33\n')"
  check "$shell: every header line ends in CR LF" test "$(grep -c $'\r$' "$work/raw-headers")" = "$(wc -l <"$work/raw-headers")"

  # Without a working stat the sizes come from wc.
  mkdir -p "$work/nostat"
  printf '#!/bin/sh\nexit 1\n' >"$work/nostat/stat"
  chmod +x "$work/nostat/stat"
  PATH="$work/nostat:$PATH" run "$shell" "$s/c129.cgi" HTTP_RANGE=bytes=15-1000
  check "$shell: without stat: range bytes" cmp -s "$work/body" <(bytes "$d/orig/c129" 15 1000)

  # A missing header companion: 404.
  rm "$s/c64.mime"
  run "$shell" "$s/c64.cgi"
  check "$shell: no header companion: 404" test "$(status)" = "404 Not Found"
done
finish
