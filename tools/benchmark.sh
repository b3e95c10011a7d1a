#!/usr/bin/env bash
# End-to-end figures for the README, on any machine: radio->client frames/s, added latency at 1200 and
# 9600 baud, client->radio lines/s, idle CPU, peak memory and start-up time of the real program, each
# side by side with a direct reader of the same packet engine (see tools/benchmark/Benchmark.h).
#
# Builds everything in build/, then measures build/ui/corvantle, or the program named by
# CORVANTLE=/path/to/corvantle. Other arguments go to corvantle-benchmark. Takes about a minute and a half
# once built; prints a Markdown table; missed targets are reported, not failed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=${CORVANTLE:-$top/build/ui/corvantle}

"$top/tools/install-deps.sh"
"$top/tools/build.sh" >/dev/null
"$top/build/tools/benchmark/corvantle-benchmark" --program "$program" "$@"
