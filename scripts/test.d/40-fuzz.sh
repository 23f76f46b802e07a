#!/usr/bin/env bash
# Fuzzing: each libFuzzer target runs for FUZZ_SECONDS (default 60) from its
# checked-in seed corpus, with AddressSanitizer and UndefinedBehaviorSanitizer.
# New inputs go to a temporary directory, never into the seeds.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/setup.sh clang libclang-rt-14-dev
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARCELOT_WERROR=ON -DPARCELOT_TESTS=OFF -DPARCELOT_FUZZ=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  >/dev/null
cmake --build "$build"

seconds="${FUZZ_SECONDS:-60}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
for target in command_line chunk_name; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  # -close_fd_mask=1: the command line prints its title and refusals.
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, no finding"
    passed=$((passed + 1))
  else
    echo "fuzz_$target: FAILED"
    tail -n 40 "$log"
    for artifact in "$work"/crash-* "$work"/timeout-* "$work"/leak-*; do
      [ -e "$artifact" ] && { echo "input $artifact:"; od -c "$artifact" | head -n 20; }
    done
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
