#!/usr/bin/env bash
# Builds savelink for Linux and Windows and runs every test, the Windows
# program's on Wine among them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh

# The Windows program and its release zip; warnings are errors.
cmake --preset windows >/dev/null
cmake --build --preset windows
(cd build-windows && cpack >/dev/null)
version=$(sed -n 's/^project(savelink VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAVELINK_WERROR=ON \
  -DSAVELINK_WINDOWS_EXE="$PWD/build-windows/savelink.exe" \
  -DSAVELINK_WINDOWS_ZIP="$PWD/build-windows/savelink-$version-win64.zip" >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
