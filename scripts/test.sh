#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 300
