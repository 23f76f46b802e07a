#!/usr/bin/env bash
# Fault tests: the program built with its fault-injection seam, under failing
# calls, a file-size limit, a full small file system, kills at every call,
# concurrent runs and hostile trees.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/setup.sh libgtest-dev util-linux
build=build/faults
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELOT_WERROR=ON \
  -DPARCELOT_FAULTS=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" -L faults --output-on-failure --timeout 900
