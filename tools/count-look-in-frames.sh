#!/usr/bin/env bash
# Counts what telnet connections that only look in (a port scan, a monitoring check) put on the air: the real
# program, headless, on Dire Wolf engine A with its cluster set to a station nobody answers for, so that a
# connect would be retried until the engine gives up; COUNT clients that each connect and leave after STAY
# seconds; then, WAIT seconds later, the frames engine B heard from N0CALL, by kind.
#
#   tools/count-look-in-frames.sh [COUNT] [STAY_SECONDS] [WAIT_SECONDS]     (defaults: 1 0 60)
#
# Needs a build (tools/build.sh). Dire Wolf keeps its default timings here: the point is the air.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--inner" ]; then
    exec "$top/tools/run-with-engines.sh" -- "$0" --inner "${1:-1}" "${2:-0}" "${3:-60}"
fi
count=$2
stay=$3
wait_seconds=$4
program="$top/build/ui/corvantle"
[ -x "$program" ] || { echo "$0: no program at $program: run tools/build.sh" >&2; exit 1; }

dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$dir/settings.ini" <<INI
[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]
Config\MyCallsign=N0CALL
Config\Cluster=GB7XYZ
Config\LocalPort=$port
Engine\Port=$CORVANTLE_ENGINE_A_PORT
INI
"$program" --headless --config "$dir/settings.ini" 2>"$dir/program.log" &
pid=$!
for _ in $(seq 100); do
    grep -q "Listening for a telnet client" "$dir/program.log" && break
    sleep 0.1
done

for _ in $(seq "$count"); do
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    sleep "$stay"
    exec 3>&-
done
sleep "$wait_seconds"

heard=$(grep -o "N0CALL>GB7XYZ:([A-Z]*" "$CORVANTLE_ENGINE_DIR/b.log" | sed 's/.*(//' | sort | uniq -c |
        awk '{printf "%s%s %s", sep, $1, $2; sep=", "}' || true)
total=$(grep -c "N0CALL>GB7XYZ:(" "$CORVANTLE_ENGINE_DIR/b.log" || true)
echo "$count client(s) staying ${stay} s: engine B heard $total frame(s) from N0CALL in ${wait_seconds} s${heard:+ ($heard)}"
