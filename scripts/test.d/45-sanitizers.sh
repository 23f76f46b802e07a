#!/usr/bin/env bash
# The unit and end-to-end tests in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer: the program that the end-to-end tests run is
# instrumented too, and any report it prints fails the test that ran it.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/setup.sh libgtest-dev
build=build/sanitizers
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARCELOT_WERROR=ON \
  "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$build" -L "unit|e2e" --output-on-failure --timeout 600
