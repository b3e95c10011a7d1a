#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time, starting from the
# seed corpus in tests/fuzz/corpus. A crash fails the run and names the saved input.
#   tools/fuzz.sh            about a minute per target (what CI runs)
#   tools/fuzz.sh 3600       an hour per target
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$top/tools/install-deps.sh" clang libclang-rt-14-dev
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DCORVANTLE_BUILD_BENCHMARK=OFF -DCORVANTLE_FUZZERS=ON \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null
targets=(frame_decoder client_lines engine_to_client ax25_frame kiss_decoder data_link)
cmake --build "$top/build-fuzz" -j"$(nproc)" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS="detect_leaks=0"
failed=0
for target in "${targets[@]}"; do
    corpus="$top/build-fuzz/corpus/$target"
    artifacts="$top/build-fuzz/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    cp -n "$top/tests/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    echo "== $target: $seconds s"
    if ! "$top/build-fuzz/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len=8192 \
        -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" >"$top/build-fuzz/$target.log" 2>&1; then
        failed=1
        tail -40 "$top/build-fuzz/$target.log"
        echo "FUZZER FAILED: $target; the input that failed is in $artifacts:" >&2
        ls -l "$artifacts" >&2
    else
        grep -E "^stat::number_of_executed_units|Done [0-9]+ runs" "$top/build-fuzz/$target.log" | tail -1
    fi
done
exit "$failed"
