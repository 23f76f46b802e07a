#!/usr/bin/env bash
# Sets up, builds Parcelot with its tests (warnings as errors) and runs every
# test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --tests
build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELOT_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300
