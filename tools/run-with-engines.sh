#!/usr/bin/env bash
# run-with-engines.sh: runs a command next to one or two real Dire Wolf packet engines on loopback.
#
# Engine A (MYCALL N0CALL) and engine B (MYCALL GB7DXC) are joined by a simulated radio channel: each one
# writes its transmitted audio into a FIFO through an ALSA "file" PCM, and reads the other's audio from a
# FIFO on its standard input. No sound card is needed. With --one only engine A runs, transmitting into
# ALSA "null". With --kiss-a engine A also serves KISS on a TCP port (otherwise it serves none). With
# --kiss-pty-a engine A also serves KISS on a pseudo-terminal of its own, as a TNC on a serial line would
# (Dire Wolf's -p; it also points the symbolic link /tmp/kisstnc at it, which concurrent runs overwrite, so
# the command is given the terminal's own name instead).
# With --lossy-channel N RELAY the channel loses every Nth transmission in each direction: each engine's audio
# passes through the program RELAY (tools/channel-relay), which silences those, as a frame lost on the air.
# With --paced-channel RELAY the channel behaves as a radio's: RELAY plays each engine's audio out to the
# other at the engines' sample rate (real time), and both engines run half duplex (FULLDUP OFF), so each
# waits for a clear channel before it transmits. Both options together give a paced channel that also loses
# every Nth transmission. Without either, the channel passes audio as fast as the engines write it (far
# faster than the air time) and the engines run full duplex: quick, for tests whose point is not the timing.
#
# The command sees:
#   CORVANTLE_ENGINE_A_PORT  AGW port of engine A (on 127.0.0.1)
#   CORVANTLE_ENGINE_B_PORT  AGW port of engine B (unset with --one)
#   CORVANTLE_ENGINE_A_KISS_PORT  KISS TCP port of engine A (only with --kiss-a)
#   CORVANTLE_ENGINE_A_KISS_PTY   KISS pseudo-terminal of engine A, e.g. /dev/pts/3 (only with --kiss-pty-a)
#   CORVANTLE_ENGINE_DIR     working directory; the engines' output is in a.log and b.log there, their
#                            process ids in a.pid and b.pid (a test that restarts an engine updates them);
#                            with --lossy-channel, each transmission from A to B is a line in lossy-ab.log
#                            ("transmission 7 dropped ..."), and from B to A in lossy-ba.log; the same
#                            with --paced-channel
#   CORVANTLE_ENGINE_PACED   1 with --paced-channel, unset otherwise
#
# Whatever way the command ends (success, failure, Ctrl-C, SIGTERM to this script), the engines and the
# command's remaining processes are stopped by process id, the temporary directory is removed, and the
# script exits with the command's status (128 + signal number when it was interrupted).
# --keep-dir DIR works in DIR instead of a temporary directory and leaves the configurations and logs there.
# --short-timings gives each transmission a short preamble and tail and no waits before it, instead of Dire
# Wolf's defaults (300 ms of TXDELAY and 100 ms of TXTAIL per transmission, among others): for tests whose
# point is not the air time. Each engine still keeps its transmitter busy for the real air time of what it
# sent, but only --paced-channel makes the other engine hear it over that time.
# Exits 77 (the CTest skip code) when direwolf is not installed.

set -u

# A non-interactive shell that starts this script in the background makes it ignore SIGINT, and bash cannot
# trap a signal that was ignored at entry. Restore the default, so that Ctrl-C in a calling script that runs
# us in the background still reaches the cleanup below.
if [ -n "$(trap -p INT)" ] && [ -z "${CORVANTLE_ENGINES_SIGINT_RESET:-}" ] &&
    env --default-signal=INT true 2>/dev/null; then
    CORVANTLE_ENGINES_SIGINT_RESET=1 exec env --default-signal=INT "$BASH" "$0" "$@"
fi
unset CORVANTLE_ENGINES_SIGINT_RESET

readonly kReadyText="Ready to accept AGW client application"
readonly kKissReadyText="Ready to accept KISS TCP client application"
readonly kKissPtyText="Virtual KISS TNC is available on "
readonly kReadyTimeoutSeconds=20

usage() {
    echo "usage: $0 [--one] [--kiss-a] [--kiss-pty-a] [--short-timings] [--lossy-channel N RELAY] [--paced-channel RELAY] [--keep-dir DIR] -- COMMAND [ARGS...]" >&2
    exit 2
}

one_engine=0
kiss_a=0
kiss_pty_a=0
short_timings=0
lossy_every=0
paced=0
relay=""
keep_dir=""
while [ $# -gt 0 ]; do
    case "$1" in
    --one) one_engine=1; shift ;;
    --kiss-a) kiss_a=1; shift ;;
    --kiss-pty-a) kiss_pty_a=1; shift ;;
    --short-timings) short_timings=1; shift ;;
    --lossy-channel) [ $# -ge 3 ] || usage; lossy_every="$2"; relay="$3"; shift 3 ;;
    --paced-channel) [ $# -ge 2 ] || usage; paced=1; relay="$2"; shift 2 ;;
    --keep-dir) [ $# -ge 2 ] || usage; keep_dir="$2"; shift 2 ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) usage ;;
    esac
done
[ $# -gt 0 ] || usage
# The lossy or paced channel lies between the two engines.
[ "$one_engine" -eq 0 ] || { [ "$lossy_every" -eq 0 ] && [ "$paced" -eq 0 ]; } || usage

if ! command -v direwolf >/dev/null 2>&1; then
    echo "$0: direwolf is not installed; skipping" >&2
    exit 77
fi

engine_pids=()
relay_pids=()
command_pid=""
work_dir=""
cleaned_up=0

# All processes below $1, deepest first, so that a parent cannot restart what we just stopped.
descendants_of() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        descendants_of "$child"
        echo "$child"
    done
}

# Whether any of the listed processes still runs. Zombies do not count: an orphan waits for a PID 1 that,
# in a container, may never collect it.
any_running() {
    local IFS=,
    ps -o stat= -p "$*" 2>/dev/null | grep -qv '^Z'
}

# Stops the listed processes: TERM, up to three seconds of grace (a station says goodbye on the air), then
# KILL for what is left.
stop_pids() {
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null
    local _
    for _ in $(seq 30); do
        any_running "$@" || break
        sleep 0.1
    done
    kill -KILL "$@" 2>/dev/null
    return 0
}

# Processes that inherited this run's CORVANTLE_ENGINE_DIR: what the command started, even when its parent
# has already exited and the tree walk cannot reach it any more. The directory name is unique to this run.
marked_processes() {
    local env_file pid
    for env_file in /proc/[0-9]*/environ; do
        pid="${env_file#/proc/}"
        pid="${pid%/environ}"
        [ "$pid" != "$$" ] || continue
        grep -qzxF "CORVANTLE_ENGINE_DIR=$work_dir" "$env_file" 2>/dev/null && echo "$pid"
    done
}

cleanup() {
    [ "$cleaned_up" -eq 0 ] || return 0
    cleaned_up=1
    local leftovers=() marked=()
    if [ -n "$command_pid" ]; then
        mapfile -t leftovers < <(descendants_of "$command_pid")
        leftovers+=("$command_pid")
    fi
    if [ -n "$work_dir" ]; then
        mapfile -t marked < <(marked_processes)
        leftovers+=("${marked[@]}")
    fi
    # The command's processes first, so that nothing of it outlives the engines it was talking to.
    stop_pids "${leftovers[@]}"
    [ -z "$command_pid" ] || wait "$command_pid" 2>/dev/null
    if [ ${#engine_pids[@]} -gt 0 ]; then
        stop_pids "${engine_pids[@]}"
        wait "${engine_pids[@]}" 2>/dev/null
    fi
    if [ ${#relay_pids[@]} -gt 0 ]; then
        stop_pids "${relay_pids[@]}"
        wait "${relay_pids[@]}" 2>/dev/null
    fi
    # Dire Wolf leaves its link to the pseudo-terminal behind; remove it unless another run has taken it.
    if [ -n "${CORVANTLE_ENGINE_A_KISS_PTY:-}" ] &&
        [ "$(readlink /tmp/kisstnc 2>/dev/null)" = "$CORVANTLE_ENGINE_A_KISS_PTY" ]; then
        rm -f /tmp/kisstnc
    fi
    if [ -n "$work_dir" ] && [ -d "$work_dir" ]; then
        if [ -n "$keep_dir" ]; then
            rm -f "$work_dir"/*.fifo
        else
            rm -rf "$work_dir"
        fi
    fi
}

# shellcheck disable=SC2317 # reached through the traps below
on_signal() {
    trap '' INT TERM HUP
    cleanup
    exit $((128 + $1))
}

trap 'cleanup' EXIT
trap 'on_signal 2' INT
trap 'on_signal 15' TERM
trap 'on_signal 1' HUP

# Prints $1 distinct TCP ports that are free on all interfaces (Dire Wolf listens on all of them). Dire Wolf
# refuses AGW ports above 49151, and the kernel hands out its own outgoing ports from 32768 up, so the
# choice stays in 20000..32767.
free_ports() {
    local ports=() port
    if command -v python3 >/dev/null 2>&1; then
        # Every socket stays bound until all are chosen, so the ports differ.
        read -r -a ports < <(python3 -c '
import random, socket, sys
held = []
while len(held) < int(sys.argv[1]):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.bind(("", random.randint(20000, 32767)))
        held.append(s)
    except OSError:
        s.close()
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1" 2>/dev/null)
    fi
    [ ${#ports[@]} -eq "$1" ] || ports=()
    # Without python (or if it failed): ports that nothing answers on loopback.
    while [ ${#ports[@]} -lt "$1" ]; do
        port=$((20000 + RANDOM % 12768))
        case " ${ports[*]} " in *" $port "*) continue ;; esac
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            ports+=("$port")
        fi
    done
    echo "${ports[*]}"
}

# The engines' audio: Dire Wolf's default rate, 16-bit mono samples. The paced channel plays it out at this.
readonly kAudioRate=44100
readonly kAudioBytesPerSecond=$((kAudioRate * 2))

# write_config FILE MYCALL AUDIO_OUT AGWPORT [KISSPORT]: KISS TCP port 0 (the default) serves none.
write_config() {
    # Full duplex keeps each engine from waiting for a carrier that, on the unpaced channel, comes and goes
    # faster than the air time; on the paced channel each waits for a clear channel as on a radio.
    local duplex=ON
    [ "$paced" -eq 0 ] || duplex=OFF
    cat >"$1" <<EOF
ADEVICE stdin $3
ARATE $kAudioRate
ACHANNELS 1
CHANNEL 0
MYCALL $2
MODEM 1200
FULLDUP $duplex
AGWPORT $4
KISSPORT ${5:-0}
EOF
    # Extra lines for engine A's configuration (a benchmark's link parameters: PACLEN, MAXFRAME, FRACK,
    # RETRY), from the environment.
    if [ "$2" = N0CALL ] && [ -n "${CORVANTLE_ENGINE_A_CONFIG:-}" ]; then
        printf '%s\n' "$CORVANTLE_ENGINE_A_CONFIG" >>"$1"
    fi
    if [ "$short_timings" -eq 1 ]; then
        # In 10 ms units: 50 ms of flags before each transmission are plenty for a receiver on a channel
        # without noise, 10 ms after it; no random wait for a free channel (on the paced channel each engine
        # still waits for the channel to be clear).
        cat >>"$1" <<EOF
TXDELAY 5
TXTAIL 1
DWAIT 0
SLOTTIME 1
PERSIST 255
EOF
    fi
}

# start_engine NAME HOME_DIR STDIN_FIFO [OPTION...]: starts direwolf in the work directory with NAME.conf and
# the options, output to NAME.log, process id in NAME.pid.
start_engine() {
    local name="$1" home="$2" input="$3"
    shift 3
    (
        cd "$work_dir" || exit 1
        HOME="$home" exec direwolf -c "$name.conf" -t 0 "$@" - 0<>"$input" >"$name.log" 2>&1
    ) &
    engine_pids+=($!)
    echo "$!" >"$work_dir/$name.pid"
}

# wait_ready NAME PID PORT: 0 once the engine listens on PORT; 2 if the port was taken meanwhile (worth
# another try with other ports); 1 for any other failure, after showing the engine's output.
wait_ready() {
    local log="$work_dir/$1.log"
    local deadline=$((SECONDS + kReadyTimeoutSeconds))
    while ! grep -q "$kReadyText 0 on port $3 " "$log" 2>/dev/null; do
        # Dire Wolf goes on running without its AGW port after these, so waiting longer is no use.
        if grep -qE "Bind failed|Invalid port number" "$log" 2>/dev/null; then
            return 2
        fi
        if ! kill -0 "$2" 2>/dev/null; then
            echo "$0: engine $1 exited while starting:" >&2
            cat "$log" >&2
            return 1
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "$0: engine $1 not ready after ${kReadyTimeoutSeconds}s:" >&2
            cat "$log" >&2
            return 1
        fi
        sleep 0.1
    done
}

# wait_kiss_ready NAME PID PORT: as wait_ready, for the KISS TCP port.
wait_kiss_ready() {
    local log="$work_dir/$1.log"
    local deadline=$((SECONDS + kReadyTimeoutSeconds))
    while ! grep -q "$kKissReadyText 0 on port $3 " "$log" 2>/dev/null; do
        grep -q "Bind failed" "$log" 2>/dev/null && return 2
        if ! kill -0 "$2" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            echo "$0: engine $1 serves no KISS port:" >&2
            cat "$log" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Engine A's KISS pseudo-terminal, when asked for: waits for its name in the engine's output and exports it.
kiss_pty_a_ready() {
    unset CORVANTLE_ENGINE_A_KISS_PTY
    [ "$kiss_pty_a" -eq 1 ] || return 0
    local log="$work_dir/a.log" pty=""
    local deadline=$((SECONDS + kReadyTimeoutSeconds))
    while [ -z "$pty" ]; do
        pty="$(sed -n "s|^$kKissPtyText\(/dev/[^ ]*\).*|\1|p" "$log" 2>/dev/null | head -n 1)"
        [ -z "$pty" ] || break
        if ! kill -0 "${engine_pids[0]}" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            echo "$0: engine a serves no KISS pseudo-terminal:" >&2
            cat "$log" >&2
            return 1
        fi
        sleep 0.1
    done
    export CORVANTLE_ENGINE_A_KISS_PTY="$pty"
}

# Engine A's KISS TCP port, when asked for: waits for it and exports it.
kiss_a_ready() {
    unset CORVANTLE_ENGINE_A_KISS_PORT
    [ "$kiss_a" -eq 1 ] || return 0
    wait_kiss_ready a "${engine_pids[0]}" "$1" || return
    export CORVANTLE_ENGINE_A_KISS_PORT="$1"
}

# The lossy or paced channel: each engine transmits into a FIFO of its own, and a relay passes the audio on
# to the other engine's receiver, at the audio's own rate when paced.
start_relays() {
    [ -x "$relay" ] || { echo "$0: no channel relay at \"$relay\"" >&2; return 1; }
    rm -f "$work_dir"/lossy-*.log
    mkfifo "$work_dir/a-tx.fifo" "$work_dir/b-tx.fifo" || return 1
    local rate=0
    [ "$paced" -eq 0 ] || rate="$kAudioBytesPerSecond"
    "$relay" "$work_dir/a-tx.fifo" "$work_dir/ab.fifo" "$lossy_every" "$work_dir/lossy-ab.log" "$rate" &
    relay_pids+=($!)
    "$relay" "$work_dir/b-tx.fifo" "$work_dir/ba.fifo" "$lossy_every" "$work_dir/lossy-ba.log" "$rate" &
    relay_pids+=($!)
}

# Starts the engine(s) on fresh ports; the status is that of wait_ready.
start_engines() {
    local port_a port_b kiss_port_a=0 engine_a_options=()
    [ "$kiss_pty_a" -eq 0 ] || engine_a_options+=(-p)
    rm -f "$work_dir"/*.fifo "$work_dir"/a.log "$work_dir"/b.log
    if [ "$one_engine" -eq 1 ]; then
        read -r port_a kiss_port_a <<<"$(free_ports $((1 + kiss_a)))"
        kiss_port_a="${kiss_port_a:-0}"
        mkfifo "$work_dir/a-in.fifo"
        write_config "$work_dir/a.conf" N0CALL null "$port_a" "$kiss_port_a"
        start_engine a "$work_dir/home-a" "$work_dir/a-in.fifo" "${engine_a_options[@]}"
        wait_ready a "${engine_pids[0]}" "$port_a" || return
        kiss_a_ready "$kiss_port_a" || return
        kiss_pty_a_ready || return
        export CORVANTLE_ENGINE_A_PORT="$port_a"
        unset CORVANTLE_ENGINE_B_PORT
        return 0
    fi
    read -r port_a port_b kiss_port_a <<<"$(free_ports $((2 + kiss_a)))"
    kiss_port_a="${kiss_port_a:-0}"
    mkfifo "$work_dir/ab.fifo" "$work_dir/ba.fifo"
    local to_b="$work_dir/ab.fifo" to_a="$work_dir/ba.fifo"
    { [ "$lossy_every" -eq 0 ] && [ "$paced" -eq 0 ]; } || { start_relays && to_b="$work_dir/a-tx.fifo" && to_a="$work_dir/b-tx.fifo"; } ||
        return 1
    # The "file" PCM writes raw samples into the FIFO that the other engine reads as its receiver.
    local asoundrc="pcm.toB { type file slave.pcm \"null\" file \"$to_b\" format \"raw\" }
pcm.toA { type file slave.pcm \"null\" file \"$to_a\" format \"raw\" }"
    echo "$asoundrc" >"$work_dir/home-a/.asoundrc"
    echo "$asoundrc" >"$work_dir/home-b/.asoundrc"
    write_config "$work_dir/a.conf" N0CALL toB "$port_a" "$kiss_port_a"
    write_config "$work_dir/b.conf" GB7DXC toA "$port_b"
    start_engine a "$work_dir/home-a" "$work_dir/ba.fifo" "${engine_a_options[@]}"
    start_engine b "$work_dir/home-b" "$work_dir/ab.fifo"
    wait_ready a "${engine_pids[0]}" "$port_a" || return
    wait_ready b "${engine_pids[1]}" "$port_b" || return
    kiss_a_ready "$kiss_port_a" || return
    kiss_pty_a_ready || return
    export CORVANTLE_ENGINE_A_PORT="$port_a"
    export CORVANTLE_ENGINE_B_PORT="$port_b"
}

if [ -n "$keep_dir" ]; then
    # Absolute, because the ALSA configuration names the FIFOs in it.
    mkdir -p "$keep_dir" && work_dir="$(cd "$keep_dir" && pwd)" || exit 1
else
    work_dir="$(mktemp -d "${TMPDIR:-/tmp}/corvantle-engines.XXXXXX")" || exit 1
fi
mkdir -p "$work_dir/home-a" "$work_dir/home-b"

# Another program may take a chosen port before the engine binds it; then try again with others.
for attempt in 1 2 3; do
    start_engines
    result=$?
    [ "$result" -eq 0 ] && break
    stop_pids "${engine_pids[@]}" "${relay_pids[@]}"
    wait "${engine_pids[@]}" "${relay_pids[@]}" 2>/dev/null
    engine_pids=()
    relay_pids=()
    if [ "$result" -ne 2 ] || [ "$attempt" -eq 3 ]; then
        [ "$result" -ne 2 ] || echo "$0: the engines found no free port in $attempt tries" >&2
        exit 1
    fi
done
export CORVANTLE_ENGINE_DIR="$work_dir"
if [ "$paced" -eq 1 ]; then
    export CORVANTLE_ENGINE_PACED=1
else
    unset CORVANTLE_ENGINE_PACED
fi

# In the background so that a signal to this script is handled at once rather than after the command ends;
# the explicit redirection keeps the terminal as its standard input (bash would give it /dev/null).
"$@" 0<&0 &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
cleanup
exit "$status"
