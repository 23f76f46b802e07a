#!/usr/bin/env bash
# Sets up, builds Parcelot with its tests (warnings as errors) and runs every
# test: the main suite through ctest, then each further suite of
# scripts/test.d/ in name order (each installs and starts what it needs).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh libgtest-dev
build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELOT_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300

for suite in scripts/test.d/*.sh; do
  [ -e "$suite" ] || continue
  echo "== $suite"
  bash "$suite"
done
