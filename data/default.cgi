#!/bin/sh
# Parcelot's script companion: run by a web server as B.cgi, it serves the
# split set of base path B as the one file that was split.
#
# The chunk-name pattern, as given to the split (printf format of the chunk
# index; the default of the split is .%03u). Change it here for sets that
# were split with another pattern:
EXTENSION='.%03u'
#
# The set is found from SCRIPT_FILENAME alone (B.cgi beside B.mime and the
# chunks B.000, B.001, ...). Nothing of the request names a file: the query,
# any path info and the URL play no part, so the script reads only its set.
# The answer: the header companion's header lines, Content-Length (the sum of
# the chunks), Content-Disposition (the file's name), Accept-Ranges, then the
# chunks in index order up to the first missing index. HEAD gets no body; a
# GET with one byte range (bytes=a-b, a-, -n) gets 206 or 416. Several
# ranges, a malformed one or an If-Range (the script gives no validators)
# get the whole file, as HTTP allows. POSIX sh and base utilities only.

LC_ALL=C
export LC_ALL
set -f
nl='
'
cr=$(printf '\r')

fail() { # status text
  printf 'Status: %s\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n\r\n' "$1"
  [ "${REQUEST_METHOD:-GET}" = HEAD ] || printf '%s\n' "$1"
  exit 0
}

# Digits without leading zeros (so that the shell does not read octal); the
# empty text stays empty. "big" stands for a number beyond any file's length.
number() {
  n=$1
  while :; do
    case $n in 0?*) n=${n#0} ;; *) break ;; esac
  done
  if [ "${#n}" -gt 18 ]; then n=big; fi
}

case ${REQUEST_METHOD:-GET} in
  GET | HEAD) method=${REQUEST_METHOD:-GET} ;;
  *)
    printf 'Status: 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Type: text/plain\r\n\r\n'
    printf 'Method not allowed.\n'
    exit 0
    ;;
esac

script=${SCRIPT_FILENAME-}
case $script in
  /*.cgi) ;;
  *) fail '500 Internal Server Error' ;;
esac
base=${script%.cgi}
header=$base.mime
[ -f "$header" ] && [ -r "$header" ] || fail '404 Not Found'
header_size=$(wc -c <"$header") || fail '500 Internal Server Error'
[ "$header_size" -le 65536 ] || fail '500 Internal Server Error'

# The chunks: names in "$@", their suffixes formed 64 at a time. (Each
# format starts with "%s" so that a pattern that starts with "-" is no option
# of printf.) A pattern that names two chunks alike would never end.
suffix1=$(printf "%s$EXTENSION" '' 1)
[ "$(printf "%s$EXTENSION" '' 0)" != "$suffix1" ] || fail '500 Internal Server Error'
set --
k=0
while :; do
  suffixes=$(i=0; while [ "$i" -lt 64 ]; do printf "%s$EXTENSION\\n" '' "$((k + i))" || exit 1; i=$((i + 1)); done) ||
    fail '500 Internal Server Error'
  [ -n "$suffixes" ] || fail '500 Internal Server Error'
  ended=
  IFS=$nl
  for suffix in $suffixes; do
    chunk=$base$suffix
    if [ -f "$chunk" ] && [ -r "$chunk" ]; then
      set -- "$@" "$chunk"
    else
      ended=yes
      break
    fi
  done
  unset IFS
  [ -z "$ended" ] || break
  k=$((k + 64))
done
# No chunk 0 is the set of an empty file; but a chunk 1 without a chunk 0 is
# a set that lost its first chunk, which must not pass for an empty file.
if [ "$#" -eq 0 ]; then
  [ ! -e "$base$suffix1" ] || fail '500 Internal Server Error'
fi

# The chunks' sizes, one a line: one stat for all where it can, else one wc
# a chunk.
sizes=
if [ "$#" -gt 0 ]; then
  sizes=$(stat -L -c %s -- "$@" 2>/dev/null) && sizes=$sizes$nl || sizes=
  if [ -z "$sizes" ]; then
    for chunk do
      size=$(wc -c <"$chunk") || fail '500 Internal Server Error'
      sizes=$sizes$((size))$nl
    done
  fi
fi
total=0
rest=$sizes
for chunk do
  size=${rest%%"$nl"*}
  rest=${rest#*"$nl"}
  case $size in '' | *[!0-9]*) fail '500 Internal Server Error' ;; esac
  total=$((total + size))
done
[ -z "$rest" ] || fail '500 Internal Server Error'

# The requested range, when there is exactly one well-formed range of bytes.
status=200
first=0
last=$((total - 1))
range=${HTTP_RANGE-}
if [ "$method" = GET ] && [ -n "$range" ] && [ -z "${HTTP_IF_RANGE-}" ]; then
  unit=${range%%=*}
  spec=${range#*=}
  while :; do
    case $spec in [' 	']*) spec=${spec#?} ;; *[' 	']) spec=${spec%?} ;; *) break ;; esac
  done
  case $unit in
    [Bb][Yy][Tt][Ee][Ss]) ;;
    *) spec= ;;
  esac
  case $spec in
    *-*-* | *[!0-9-]* | - | '') ;;
    -*)
      number "${spec#-}"
      if [ "$n" = 0 ] || [ "$total" -eq 0 ]; then
        status=416
      else
        status=206
        [ "$n" = big ] || [ "$n" -ge "$total" ] || first=$((total - n))
      fi
      ;;
    *)
      number "${spec%-*}"
      a=$n
      number "${spec#*-}"
      b=$n
      if [ -n "$b" ] && { [ "$a" = big ] || { [ "$b" != big ] && [ "$a" -gt "$b" ]; }; }; then
        : # first above last: not a valid range, so the whole file
      elif [ "$a" = big ] || [ "$a" -ge "$total" ]; then
        status=416
      else
        status=206
        first=$a
        [ -z "$b" ] || [ "$b" = big ] || [ "$b" -ge "$total" ] || last=$b
      fi
      ;;
  esac
fi

if [ "$status" = 416 ]; then
  printf 'Status: 416 Range Not Satisfiable\r\nContent-Range: bytes */%s\r\n' "$total"
  printf 'Content-Type: text/plain\r\n\r\nRange not satisfiable.\n'
  exit 0
fi

# The header companion's header lines, line ends made CR LF; blank lines and
# lines that are no "Name: value" header are dropped, and so are the fields
# that the script itself decides.
name=${base##*/}
disposition=yes
type=
headers=
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%"$cr"}
  field=${line%%:*}
  case $line in *:*) ;; *) continue ;; esac
  case $field in '' | *[!A-Za-z0-9-]*) continue ;; esac
  case $(printf '%s' "$field" | tr A-Z a-z) in
    status | content-length | content-range | accept-ranges) continue ;;
    content-type) type=yes ;;
    content-disposition) disposition= ;;
  esac
  headers=$headers$line$cr$nl
done <"$header"
[ -n "$type" ] || headers="${headers}Content-Type: application/octet-stream$cr$nl"

if [ -n "$disposition" ]; then
  # filename="..." with printable ASCII only (anything else, and the quote,
  # backslash and percent sign, become "_"), and the exact name, percent
  # encoded, in filename*.
  plain=
  encoded=
  rest=$name
  for byte in $(printf '%s' "$name" | od -An -v -tx1 | tr a-f A-F); do
    char=${rest%"${rest#?}"}
    rest=${rest#?}
    case $byte in
      3[0-9] | 4[1-9A-F] | 5[0-9A] | 6[1-9A-F] | 7[0-9A] | 21 | 23 | 24 | 26 | 2B | 2D | 2E | 5E | 5F | 60 | 7C | 7E)
        encoded=$encoded$char ;;
      *) encoded=$encoded%$byte ;;
    esac
    case $byte in
      22 | 25 | 5C | [0-1]? | 7F | [89A-F]?) plain=${plain}_ ;;
      *) plain=$plain$char ;;
    esac
  done
  headers="${headers}Content-Disposition: attachment; filename=\"$plain\"; filename*=UTF-8''$encoded$cr$nl"
fi

if [ "$status" = 206 ]; then
  printf 'Status: 206 Partial Content\r\nContent-Range: bytes %s-%s/%s\r\n' "$first" "$last" "$total"
fi
printf '%sAccept-Ranges: bytes\r\nContent-Length: %s\r\n\r\n' "$headers" "$((last - first + 1))"
[ "$method" = GET ] || exit 0

if [ "$status" = 200 ]; then
  [ "$#" -eq 0 ] || exec cat -- "$@"
  exit 0
fi

# Bytes first to last: each chunk's part of them, whole chunks with cat.
offset=0
rest=$sizes
for chunk do
  size=${rest%%"$nl"*}
  rest=${rest#*"$nl"}
  end=$((offset + size - 1))
  if [ "$end" -ge "$first" ] && [ "$offset" -le "$last" ]; then
    from=0
    [ "$first" -le "$offset" ] || from=$((first - offset))
    to=$((size - 1))
    [ "$last" -ge "$end" ] || to=$((last - offset))
    if [ "$from" -eq 0 ] && [ "$to" -eq $((size - 1)) ]; then
      cat -- "$chunk" || exit 1
    elif [ "$to" -eq $((size - 1)) ]; then
      tail -c +"$((from + 1))" -- "$chunk" || exit 1
    else
      tail -c +"$((from + 1))" -- "$chunk" | head -c "$((to - from + 1))" || exit 1
    fi
  fi
  offset=$((offset + size))
  [ "$offset" -le "$last" ] || break
done
exit 0
