# shellcheck shell=bash disable=SC2154,SC2034
# Shared by the demo and the tlf check (sourced, not run): a throwaway corvantle with its settings store,
# and the project's cluster station, both on the engines of tools/run-with-engines.sh.
#
# Needs: $top (the checkout), $work (a temporary directory), and the engines' CORVANTLE_ENGINE_A_PORT and
# CORVANTLE_ENGINE_B_PORT.

# Whether something listens on TCP port $1. Read from the kernel's table rather than probed with a
# connection: a connection to corvantle counts as a telnet client and starts a radio link.
port_listening() {
    local hex
    printf -v hex '%04X' "$1"
    grep -qE "^ *[0-9]+: [0-9A-F]+:$hex [0-9A-F]+:[0-9A-F]{4} 0A " /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; 1 if it never did in time.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# start_cluster_station CALL: the cluster station on engine B, its log in $work/cluster.log. Returns once
# it has registered, 1 if it did not within 30 s.
start_cluster_station() {
    "$top/build/tools/cluster-station/corvantle-cluster-station" --port "$CORVANTLE_ENGINE_B_PORT" \
        --call "$1" >"$work/cluster.log" 2>&1 &
    wait_for 30 grep -qF "READY $1" "$work/cluster.log"
}

# start_corvantle MYCALL CLUSTER LOCAL_PORT: corvantle on engine A with a store of its own in
# $work/config, its messages in $work/corvantle.log, its process id in $corvantle_pid. Returns once it
# listens, 1 if it did not within 30 s. Further "Config\Key=Value" lines in $corvantle_settings are added
# to the store, and the options in $corvantle_options to the command line.
start_corvantle() {
    mkdir -p "$work/config/corvantle"
    cat >"$work/config/corvantle/settings.ini" <<INI
[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]
Config\\MyCallsign=$1
Config\\Cluster=$2
Config\\LocalPort=$3
Engine\\Host=127.0.0.1
Engine\\Port=$CORVANTLE_ENGINE_A_PORT
${corvantle_settings:-}
INI
    # shellcheck disable=SC2086 # further options, word by word
    XDG_CONFIG_HOME="$work/config" "$top/build/ui/corvantle" ${corvantle_options:-} 2>"$work/corvantle.log" &
    corvantle_pid=$!
    wait_for 30 port_listening "$3"
}
