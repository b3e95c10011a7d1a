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

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Runs inside tools/run-with-engines.sh, which stops every process of this run when it ends.
run_inside_engines() {
    local work="$CORVANTLE_ENGINE_DIR"
    mkdir -p "$work/config/corvantle"
    cat >"$work/config/corvantle/settings.ini" <<INI
[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]
Config\\MyCallsign=N0CALL
Config\\Cluster=GB7DXC
Config\\LocalPort=$kLocalPort
Engine\\Host=127.0.0.1
Engine\\Port=$CORVANTLE_ENGINE_A_PORT
INI

    "$top/build/tools/cluster-station/corvantle-cluster-station" --port "$CORVANTLE_ENGINE_B_PORT" \
        --call GB7DXC >"$work/cluster.log" 2>&1 &

    if [ -z "${DISPLAY:-}" ]; then
        local display=":$((90 + RANDOM % 100))"
        Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        export DISPLAY="$display"
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
        echo "No display here: the corvantle window runs on the virtual display $DISPLAY (Xvfb)."
    fi

    XDG_CONFIG_HOME="$work/config" "$top/build/ui/corvantle" 2>"$work/corvantle.log" &
    local corvantle=$!
    for _ in $(seq 100); do port_busy "$kLocalPort" && break; sleep 0.1; done
    cat <<TEXT

corvantle is running: N0CALL on engine A, the cluster station GB7DXC on engine B, joined by a simulated
radio channel.
  Next: telnet 127.0.0.1 $kLocalPort      (or point a logging program's DX cluster at 127.0.0.1:$kLocalPort)
  You should see the greeting, "*** CONNECTED With Station GB7DXC" and a spot every few seconds.
  Type sh/dx for the last spots, bye to leave. Ctrl-C here stops the demo.
Logs: $work/{a,b,cluster,corvantle}.log

TEXT
    wait "$corvantle"
}

if [ "${1:-}" = "--inside-engines" ]; then
    run_inside_engines
    exit
fi

if port_busy "$kLocalPort"; then
    echo "Port $kLocalPort on 127.0.0.1 is busy: is another demo or corvantle already running? Stop it first." >&2
    exit 1
fi
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
exec "$top/tools/run-with-engines.sh" -- "$0" --inside-engines
