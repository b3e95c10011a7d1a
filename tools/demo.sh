#!/usr/bin/env bash
# The demo: corvantle working a DX cluster over a simulated radio channel, no radio needed.
#
# Installs what is missing, builds, then starts two Dire Wolf engines joined by a simulated channel, the
# project's cluster station GB7DXC on engine B, and corvantle (callsign N0CALL) on engine A with a
# throwaway settings store. Connect a telnet client to 127.0.0.1:4444. Ctrl-C (or closing the window)
# stops everything that was started and removes the temporary files.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
readonly kLocalPort=4444

# shellcheck source=tools/lib/stations.sh
source "$top/tools/lib/stations.sh"

# Runs inside tools/run-with-engines.sh, which stops every process of this run when it ends.
run_inside_engines() {
    work="$CORVANTLE_ENGINE_DIR"
    start_cluster_station GB7DXC || { echo "The cluster station did not start: $work/cluster.log" >&2; return 1; }

    if [ -z "${DISPLAY:-}" ]; then
        local display=":$((90 + RANDOM % 100))"
        Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        export DISPLAY="$display"
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
        echo "No display here: the corvantle window runs on the virtual display $DISPLAY (Xvfb)."
    fi

    if ! start_corvantle N0CALL GB7DXC "$kLocalPort"; then
        echo "corvantle did not start listening on port $kLocalPort:" >&2
        cat "$work/corvantle.log" >&2
        return 1
    fi
    cat <<TEXT

corvantle is running: N0CALL on engine A, the cluster station GB7DXC on engine B, joined by a simulated
radio channel.
  Next: telnet 127.0.0.1 $kLocalPort      (or point a logging program's DX cluster at 127.0.0.1:$kLocalPort)
  You should see the greeting, "*** CONNECTED With Station GB7DXC" and a spot every few seconds.
  Type sh/dx for the last spots, bye to leave. Ctrl-C here stops the demo.
Logs: $work/{a,b,cluster,corvantle}.log

TEXT
    wait "$corvantle_pid"
}

if [ "${1:-}" = "--inside-engines" ]; then
    run_inside_engines
    exit
fi

if port_listening "$kLocalPort"; then
    echo "Port $kLocalPort on 127.0.0.1 is busy: is another demo or corvantle already running? Stop it first." >&2
    exit 1
fi
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
exec "$top/tools/run-with-engines.sh" -- "$0" --inside-engines
