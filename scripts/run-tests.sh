#!/usr/bin/env bash
# Builds savelink for Linux and Windows and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh

# The Windows program, so that its source cannot rot; warnings are errors.
cmake --preset windows >/dev/null
cmake --build --preset windows

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAVELINK_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
