#!/usr/bin/env bash
# The HTTP and install tests: installs lighttpd and curl when missing, builds
# the program in a build of its own with these tests registered (ctest label
# "http"), and runs them. Each server test starts and stops its own lighttpd
# on 127.0.0.1. The main ctest run never registers these tests.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/setup.sh lighttpd curl
build=build/http
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELOT_WERROR=ON \
  -DPARCELOT_TESTS=OFF -DPARCELOT_HTTP_TESTS=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" -L http --output-on-failure --timeout 300
