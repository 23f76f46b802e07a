#!/usr/bin/env bash
# Measures download throughput of one file through its script companion
# against the same file served statically by the same lighttpd (not part of
# the test run; run by hand):
#   bash tests/http/throughput.sh build/http/parcelot [MiB] [rounds]
parcelot=$1
mib=${2:-256}
rounds=${3:-5}
. "$(dirname "$0")/lib.sh"
[ -n "$(lighttpd_bin)" ] || skip "lighttpd is not installed"

mkdir -p "$work/www/static" "$work/www/split"
head -c $((mib * 1048576)) /dev/urandom >"$work/www/static/file"
cp "$work/www/static/file" "$work/www/split/file"
"$parcelot" -s "$work/www/split" >/dev/null
start_server "$work/www"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
: >"$work/cgi"
: >"$work/static"
for round in $(seq "$rounds"); do
  for kind in static cgi; do
    url=$base_url/static/file
    [ $kind = static ] || url=$base_url/split/file.cgi
    curl -sS -o /dev/null -w '%{speed_download} %{size_download}\n' "$url" >"$work/one"
    read -r speed size <"$work/one"
    [ "$size" -eq $((mib * 1048576)) ] || { echo "short download: $size bytes"; exit 1; }
    echo "round $round $kind: $(awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }') MiB/s"
    echo "$speed" >>"$work/$kind"
  done
done
for kind in static cgi; do
  echo "median $kind: $(median <"$work/$kind" | awk '{ printf "%.1f", $1 / 1048576 }') MiB/s"
done
