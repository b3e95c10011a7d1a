#!/usr/bin/env bash
# Builds corvantle and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitized/ and
# runs the whole suite there, the real program and the end-to-end tests over Dire Wolf included. Any
# sanitizer report ends the test that hit it, so it fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S "$top" -B "$top/build-sanitized" -DCMAKE_BUILD_TYPE=Debug -DCORVANTLE_BUILD_BENCHMARK=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$top/build-sanitized" -j"$(nproc)"
cd "$top/build-sanitized"
# Leaks are not what this run looks for: Qt and fontconfig keep caches until exit by design.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
