#!/usr/bin/env bash
# Parcelot's benchmark: split and join against split, cat and cp, on tmpfs and
# on the local disk; a tree of small files against cp -a; system calls per
# chunk and per small file; peak resident memory at 1 GiB and 4 GiB.
#
#   bash bench/run.sh                 # everything (about 10-15 minutes)
#   bash bench/run.sh --rounds 3      # fewer alternated rounds per case
#   bash bench/run.sh --only big,tree # some cases: big tree syscalls rss
#   bash bench/run.sh --check         # self-check: tiny sizes, one round
#
# It builds the program in Release (build/bench), works in /dev/shm and in
# /tmp (override with PARCELOT_BENCH_SHM / PARCELOT_BENCH_DISK) and removes
# what it made. Compared commands run alternately (A B A B ...) after a
# warm-up round; the report gives each command's median time and peak RSS
# and the median of the per-round ratios. Every join is compared with the
# original bytes: a wrong result stops the bench with an error.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

rounds=7
disk_rounds=3
tree_rounds=3 # a round of the 20,000-file tree takes a minute under load
only="big,tree,syscalls,rss"
check=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; disk_rounds=$2; tree_rounds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --check) check=1; rounds=1; disk_rounds=1; tree_rounds=1; shift ;;
    -h | --help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
want() { [[ ",$only," == *",$1,"* ]]; }

# Sizes; the self-check runs the same steps on small ones.
big_mib=1024
huge_mib=4096
tree_dirs=200
tree_files=100 # per directory
sys_files=500
disk_tree_dirs=10
if [ "$check" = 1 ]; then
  big_mib=16
  huge_mib=32
  tree_dirs=4
  tree_files=25
  sys_files=20
  disk_tree_dirs=2
fi

bash scripts/setup.sh strace time >/dev/null
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELOT_TESTS=OFF >/dev/null
cmake --build "$build" >/dev/null
P="$repo/$build/parcelot"

shm_root=${PARCELOT_BENCH_SHM:-/dev/shm}
disk_root=${PARCELOT_BENCH_DISK:-/tmp}
SHM=$(mktemp -d "$shm_root/parcelot-bench.XXXXXX")
DISK=$(mktemp -d "$disk_root/parcelot-bench.XXXXXX")
RES=$(mktemp -d)
trap 'rm -rf "$SHM" "$DISK" "$RES"' EXIT

die() {
  echo "bench: $*" >&2
  exit 1
}

# run NAME COMMAND...: runs the command once, timed, and appends
# "microseconds peak-RSS-KiB" to the results of NAME.
run() {
  local name=$1
  shift
  local t0 t1
  t0=$(date +%s%N)
  if ! /usr/bin/time -f %M -o "$RES/rss" "$@" >"$RES/out" 2>"$RES/err"; then
    cat "$RES/err" >&2
    die "$name failed"
  fi
  t1=$(date +%s%N)
  if grep -q 'Failed\.' "$RES/out"; then die "$name: parcelot reported a failure"; fi
  echo "$(((t1 - t0) / 1000)) $(tail -n 1 "$RES/rss")" >>"$RES/$name"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# stat NAME: "median-seconds max-RSS-KiB" of NAME's runs.
stat_of() {
  local t r
  t=$(awk '{ print $1 / 1e6 }' "$RES/$1" | median)
  r=$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { print m }' "$RES/$1")
  echo "$t $r"
}

# ratio A B: the median of A's time over B's, round by round.
ratio() { paste -d ' ' "$RES/$1" "$RES/$2" | awk '{ print $1 / $3 }' | median; }

# line NAME LABEL [VS-NAME VS-LABEL]...: one row of the report.
line() {
  local name=$1 label=$2
  shift 2
  read -r t r < <(stat_of "$name")
  local row
  row=$(printf '  %-34s %8.3f s %8d KiB' "$label" "$t" "$r")
  while [ $# -gt 0 ]; do
    row+=$(printf '   %5.2f x %s' "$(ratio "$name" "$1")" "$2")
    shift 2
  done
  echo "$row"
}

reset() { rm -f "$RES"/[a-z]*_*; }

# Drops the warm-up round from each result file.
drop_warmup() {
  local f
  for f in "$RES"/[a-z]*_*; do sed -i 1d "$f"; done
}

same() { cmp -s "$1" "$2" || die "$3: the bytes differ from the original"; }

# --- Case 1: one large file ------------------------------------------------

# big FS-DIR LABEL CHUNK-BYTES ROUNDS ON-DISK
big() {
  local root=$1 label=$2 size=$3 n=$4 disk=$5
  local w="$root/w" s="$root/s" c="$root/c"
  reset
  local sync_suffix=""
  [ "$disk" = 1 ] && sync_suffix=" && sync"
  local i
  for ((i = 0; i <= n; i++)); do
    rm -rf "$w" "$s" "$c"
    mkdir -p "$w" "$s" "$c"
    cp "$root/master" "$w/f"
    cp "$root/master" "$s/f"
    sync
    run p_split "$P" -s "$w" f "$size"
    [ -e "$w/f" ] && die "split kept its source"
    run s_split bash -c "split -a 4 -d -b $size '$s/f' '$s/f.'$sync_suffix"
    sync
    run c_cp cp "$root/master" "$c/f"
    if [ "$disk" = 1 ]; then
      rm -f "$c/f"
      sync
      run c_cpsync bash -c "cp '$root/master' '$c/f' && sync"
    fi
    sync
    run p_join "$P" -j "$w" f
    same "$w/f" "$root/master" "parcelot -j"
    [ -e "$w/f.000" ] && die "join kept a chunk"
    rm -f "$s/f"
    sync
    run s_join bash -c "cat '$s'/f.[0-9]* >'$s/f' && rm '$s'/f.[0-9]*$sync_suffix"
    same "$s/f" "$root/master" "cat"
    if [ "$disk" = 1 ]; then
      # The same split and join once more under strace, which reports the
      # time spent in the flushes alone.
      rm -f "$w/f" && cp "$root/master" "$w/f" && sync
      strace -f -T -e trace=fsync,fdatasync -o "$RES/flush.s" "$P" -s "$w" f "$size" >/dev/null
      strace -f -T -e trace=fsync,fdatasync -o "$RES/flush.j" "$P" -j "$w" f >/dev/null
      same "$w/f" "$root/master" "parcelot -j under strace"
      awk -F'<' '/fsync|fdatasync/ { t += $NF; n++ } END { printf "%d %d\n", t * 1e6, n }' "$RES/flush.s" >>"$RES/f_split"
      awk -F'<' '/fsync|fdatasync/ { t += $NF; n++ } END { printf "%d %d\n", t * 1e6, n }' "$RES/flush.j" >>"$RES/f_join"
    fi
    [ "$i" = 0 ] && drop_warmup
  done
  rm -rf "$w" "$s" "$c"
  local sfx=""
  [ "$disk" = 1 ] && sfx="+sync"
  echo "$label, chunk $size bytes, $n rounds (median time, peak RSS, median ratio per round):"
  line p_split "parcelot -s" s_split "split$sfx" c_cp "cp"
  line s_split "split -b$sfx" c_cp "cp"
  line p_join "parcelot -j" s_join "cat+rm$sfx" c_cp "cp"
  line s_join "cat+rm$sfx" c_cp "cp"
  line c_cp "cp"
  if [ "$disk" = 1 ]; then
    line c_cpsync "cp+sync"
    local fs fj
    fs=$(awk '{ print $1 / 1e6 }' "$RES/f_split" | median)
    fj=$(awk '{ print $1 / 1e6 }' "$RES/f_join" | median)
    printf '  flushing (fsync time under strace): split %.3f s in %d calls, join %.3f s in %d calls\n' \
      "$fs" "$(head -n 1 "$RES/f_split" | cut -d' ' -f2)" "$fj" "$(head -n 1 "$RES/f_join" | cut -d' ' -f2)"
  fi
  echo
}

if want big; then
  echo "== Case 1: one file of $big_mib MiB"
  for where in shm disk; do
    if [ "$where" = shm ]; then root=$SHM label="tmpfs ($shm_root)" n=$rounds disk=0; else root=$DISK label="local disk ($disk_root, $(df --output=fstype "$disk_root" | tail -n 1))" n=$disk_rounds disk=1; fi
    head -c $((big_mib << 20)) /dev/urandom >"$root/master"
    for size in 1048576 67108864; do big "$root" "$label" "$size" "$n" "$disk"; done
    rm -f "$root/master"
  done
fi

# --- Case 2: a tree of small files ------------------------------------------

# Makes DIR/dNNN/fNNN: tree_dirs directories of tree_files files of 0 to
# 16 KiB each, of varied text, written with shell builtins only.
make_tree() {
  local dir=$1 dirs=$2 files=$3
  local blob d f
  blob=$(head -c 24576 /dev/urandom | base64 -w 0)
  RANDOM=42
  for ((d = 0; d < dirs; d++)); do
    mkdir -p "$dir/d$d"
    for ((f = 0; f < files; f++)); do
      local len=$(((RANDOM * 32768 + RANDOM) % 16385))
      printf '%s' "${blob:$((RANDOM % 16000)):$len}" >"$dir/d$d/f$f"
    done
  done
}

# tree FS-DIR LABEL ROUNDS
tree_case() {
  local root=$1 label=$2 n=$3
  local count=$((tree_dirs * tree_files))
  reset
  make_tree "$root/master" "$tree_dirs" "$tree_files"
  local i
  for ((i = 0; i <= n; i++)); do
    rm -rf "$root/w" "$root/c"
    cp -a "$root/master" "$root/w"
    sync
    run p_split "$P" -s "$root/w"
    [ -e "$root/w/d0/f0" ] && die "tree split kept a source"
    sync
    run c_cp cp -a "$root/master" "$root/c"
    sync
    run p_join "$P" -j "$root/w"
    diff -r "$root/w" "$root/master" >/dev/null || die "tree join: the tree differs from the original"
    [ "$i" = 0 ] && drop_warmup
  done
  rm -rf "$root/w" "$root/c" "$root/master"
  echo "$label, $count files of 0-16 KiB in $tree_dirs directories, $n rounds:"
  local t
  for name in p_split p_join c_cp; do
    t=$(stat_of "$name" | cut -d' ' -f1)
    echo "$name $(awk -v c="$count" -v t="$t" 'BEGIN { printf "%.0f", c / t }')" >>"$RES/fps"
  done
  line p_split "parcelot -s" c_cp "cp -a"
  line p_join "parcelot -j" c_cp "cp -a"
  line c_cp "cp -a"
  awk '{ printf "  files per second: %s %s\n", $1, $2 }' "$RES/fps" | sed 's/p_split/split/; s/p_join/join/; s/c_cp/cp -a/'
  rm -f "$RES/fps"
  echo
}

if want tree; then
  echo "== Case 2: a tree of small files"
  tree_case "$SHM" "tmpfs ($shm_root)" "$tree_rounds"
  # Every member is flushed on its own, so the disk gives tens of files per
  # second: a smaller tree there.
  tree_dirs=$disk_tree_dirs
  tree_case "$DISK" "local disk ($disk_root)" 1
fi

# --- Case 3: system calls ---------------------------------------------------

# counts FILE: "syscall calls" lines of an strace -c -f report.
counts() { awk '$NF != "total" && $NF != "syscall" && $4 ~ /^[0-9]+$/ { print $NF, $4 }' "$1" | sort; }

# per FILE-MANY FILE-FEW N: the per-unit difference of two reports, by call.
per() {
  join -a 1 -e 0 -o 0,1.2,2.2 <(counts "$1") <(counts "$2") |
    awk -v n="$3" '{ d = ($2 - $3) / n; if (d > 0.005) { printf "%s %.2f\n", $1, d; t += d } } END { printf "TOTAL %.2f\n", t }' |
    sort -k2,2gr | awk '{ printf "%s=%s ", $1, $2 } END { print "" }'
}

if want syscalls; then
  echo "== Case 3: system calls (strace -c -f), tmpfs"
  d="$SHM/sys"
  # Per chunk: a 64 MiB file in 1 MiB chunks against a 1 MiB file.
  for chunks in 1 64; do
    rm -rf "$d" && mkdir -p "$d"
    head -c $((chunks << 20)) /dev/urandom >"$d/f"
    cp "$d/f" "$RES/orig"
    strace -c -f -o "$RES/split$chunks" "$P" -s "$d" f 1048576 >/dev/null
    strace -c -f -o "$RES/join$chunks" "$P" -j "$d" f >/dev/null
    same "$d/f" "$RES/orig" "join under strace"
  done
  echo "  per chunk, split: $(per "$RES/split64" "$RES/split1" 63)"
  echo "  per chunk, join:  $(per "$RES/join64" "$RES/join1" 63)"
  # Per small file: sys_files small files against none, in the same
  # directories.
  for files in 0 "$sys_files"; do
    rm -rf "$d" && mkdir -p "$d"
    make_tree "$d/t" 5 $((files / 5))
    mkdir -p "$d/t/d0" "$d/t/d1" "$d/t/d2" "$d/t/d3" "$d/t/d4"
    cp -a "$d/t" "$d/orig"
    strace -c -f -o "$RES/tsplit$files" "$P" -s "$d/t" >/dev/null
    strace -c -f -o "$RES/tjoin$files" "$P" -j "$d/t" >/dev/null
    diff -r "$d/t" "$d/orig" >/dev/null || die "tree join under strace: the tree differs"
  done
  echo "  per small file, split: $(per "$RES/tsplit$sys_files" "$RES/tsplit0" "$sys_files")"
  echo "  per small file, join:  $(per "$RES/tjoin$sys_files" "$RES/tjoin0" "$sys_files")"
  rm -rf "$d"
  echo
fi

# --- Peak resident memory against the file's size ---------------------------

if want rss; then
  echo "== Peak RSS against the file's size"
  avail=$(awk '/MemAvailable/ { print int($2 / 1024) }' /proc/meminfo)
  if [ "$avail" -gt $((huge_mib * 2 + 4096)) ]; then root=$SHM; else root=$DISK; fi
  reset
  head -c $((big_mib << 20)) /dev/urandom >"$RES/m1"
  for mib in "$big_mib" "$huge_mib"; do
    for size in 1048576 67108864; do
      rm -rf "$root/r" && mkdir -p "$root/r"
      for ((k = 0; k < mib / big_mib; k++)); do cat "$RES/m1"; done >"$root/r/f"
      run "p_split${mib}_$size" "$P" -s "$root/r" f "$size"
      run "p_join${mib}_$size" "$P" -j "$root/r" f
      for ((k = 0; k < mib / big_mib; k++)); do cat "$RES/m1"; done | cmp -s - "$root/r/f" ||
        die "join of $mib MiB: the bytes differ from the original"
      largest=$((size < (mib << 20) ? size : (mib << 20)))
      rs=$(cut -d' ' -f2 "$RES/p_split${mib}_$size")
      rj=$(cut -d' ' -f2 "$RES/p_join${mib}_$size")
      printf '  %5d MiB, chunk %9d: split %6d KiB (chunk + %d KiB), join %6d KiB (largest chunk + %d KiB)\n' \
        "$mib" "$size" "$rs" $((rs - size / 1024)) "$rj" $((rj - largest / 1024))
    done
  done
  echo "  (on $(df --output=fstype "$root" | tail -n 1))"
  rm -rf "$root/r" "$RES/m1"
fi
