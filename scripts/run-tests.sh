#!/usr/bin/env bash
# Builds savelink for Linux and Windows and runs every test: the fuzzer for a
# fixed time, the tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# then every test of the ordinary build, the Windows program's on Wine among them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
fuzz_seconds=${SAVELINK_FUZZ_SECONDS:-60}

# The fuzzer, from the seed corpus; what it finds new goes to a scratch folder.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAVELINK_FUZZ=ON >/dev/null
cmake --build build-fuzz --target directory_tree_fuzzer
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A small quarantine keeps memory flat on long paths.
ASAN_OPTIONS=quarantine_size_mb=16 build-fuzz/tests/directory_tree_fuzzer \
  -max_total_time="$fuzz_seconds" -max_len=8400 -print_final_stats=1 "$scratch" tests/fuzz/corpus 2>&1 | tail -n 12

# Unit and end-to-end tests with the sanitizers; any report aborts its test.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAVELINK_SANITIZE=ON \
  -DSAVELINK_WERROR=ON >/dev/null
cmake --build build-sanitize
ctest --test-dir build-sanitize --output-on-failure

# The Windows program and its release zip; warnings are errors.
cmake --preset windows >/dev/null
cmake --build --preset windows
(cd build-windows && cpack >/dev/null)
# The test programs for Windows, with the posix-thread MinGW that GoogleTest needs.
cmake --preset windows-tests >/dev/null
cmake --build --preset windows-tests --target savelink_logic_tests savelink_platform_tests
version=$(sed -n 's/^project(savelink VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Every test of the ordinary build, with the Windows program's on Wine.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSAVELINK_WERROR=ON \
  -DSAVELINK_WINDOWS_EXE="$PWD/build-windows/savelink.exe" \
  -DSAVELINK_WINDOWS_ZIP="$PWD/build-windows/savelink-$version-win64.zip" \
  -DSAVELINK_WINDOWS_TESTS_DIR="$PWD/build-windows-tests/tests" >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
