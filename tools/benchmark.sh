#!/usr/bin/env bash
# Speed and memory figures for the README, on any machine: the engine library's and the frame pump's cost
# per received frame (corvantle-benchmark), and the memory and idle CPU of the real program registered
# with a real Dire Wolf engine, on the offscreen platform.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
readonly kIdleSeconds=${IDLE_SECONDS:-30}

# A port nothing listens on, for the program's telnet side.
free_local_port() {
    local port
    for port in $(seq 45000 45100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}

measure_program() {
    local work="$CORVANTLE_ENGINE_DIR"
    mkdir -p "$work/config/corvantle"
    printf '%s\n' '[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]' 'Config\MyCallsign=N0CALL' \
        'Config\Cluster=GB7DXC' "Config\\LocalPort=$(free_local_port)" "Engine\\Port=$CORVANTLE_ENGINE_A_PORT" \
        >"$work/config/corvantle/settings.ini"
    XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$top/build/ui/corvantle" 2>/dev/null &
    local pid=$! ticks_per_second
    ticks_per_second=$(getconf CLK_TCK)
    sleep 3
    local before after
    before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep "$kIdleSeconds"
    after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    echo "corvantle, registered and idle, polling twice a second:"
    grep -E '^(VmRSS|VmHWM)' "/proc/$pid/status" | sed 's/^/  /'
    awk -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$kIdleSeconds" \
        'BEGIN { printf "  CPU time over %d s idle: %.2f s (%.2f%% of one core)\n", s, t / hz, 100 * t / hz / s }'
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

if [ "${1:-}" = "--inside-engines" ]; then
    measure_program
    exit
fi
"$top/tools/install-deps.sh"
"$top/tools/build.sh" >/dev/null
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
"$top/build/tools/benchmark/corvantle-benchmark" 100000
"$top/tools/run-with-engines.sh" --one -- "$0" --inside-engines
