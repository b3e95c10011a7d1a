#!/usr/bin/env bash
# check-with-tlf.sh: checks corvantle with a real logging program, tlf (Debian's contest logger, which has
# a DX cluster telnet client), driven through tmux. No radio needed.
#
# Installs what is missing (tlf and tmux besides the build dependencies), builds, then, inside
# tools/run-with-engines.sh (two Dire Wolf engines joined by a simulated radio channel), starts the
# project's cluster station GB7DXC on engine B, corvantle (N0CALL) on engine A listening on a free local
# port (not 4444, so that the demo can run beside it), and tlf in a detached tmux session whose working
# directory and HOME are in the run's temporary directory. It then checks, from tlf's screens and the
# cluster station's log, that:
#   - tlf connects through corvantle and shows the greeting and the cluster's "DX de" spots unaltered;
#   - "sh/dx" typed in tlf's packet terminal reaches the cluster as "sh/dx \r", and the answer shows;
#   - the spots show in tlf's cluster window and in its bandmap;
#   - leaving tlf makes corvantle drop the radio link, and corvantle keeps running.
#
# usage: tools/check-with-tlf.sh [--keep DIR] [--link-end-close]
# --link-end-close runs corvantle with LinkEnd=Close and checks that "bye" typed in tlf ends the link and
# the telnet connection.
#   --keep DIR   save the captured tlf screens and the logs in DIR
# Exits 0 when every check passes, 1 when one fails, 77 when direwolf is missing (as run-with-engines.sh).
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/lib/stations.sh
source "$top/tools/lib/stations.sh"

readonly kCluster=GB7DXC
readonly kMyCall=N0CALL
readonly kTlfColumns=100 kTlfLines=30   # tlf asks a question below 80x25
readonly kStartTimeout=30               # the cluster station, corvantle or tlf starting
readonly kLinkTimeout=60                # an AX.25 connect over the simulated channel, plus a spot
readonly kReplyTimeout=30               # a command and its answer over the channel

usage() {
    echo "usage: $0 [--keep DIR] [--link-end-close]" >&2
    exit 2
}

# ---------------------------------------------------------------------------------------------------------
# Helpers used inside the engines' run.

log() { printf '[%3ds] %s\n' "$SECONDS" "$*"; }

# A port nobody listens on, below the kernel's range for outgoing ports (32768 up) and other than 4444.
free_local_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 12768))
        port_listening "$port" || break
    done
    echo "$port"
}

tmux_tlf() { tmux -S "$tmux_socket" "$@"; }
screen_text() { tmux_tlf capture-pane -p -t tlf 2>/dev/null | sed 's/ *$//'; }
# Read into a string first: with pipefail, grep -q leaving a pipe early could fail the match.
screen_has() { grep -qE -- "$1" <<<"$(screen_text)"; }
screen_has_line() { grep -qFx -- "$1" <<<"$(screen_text)"; }
tlf_exited() { [ "$(tmux_tlf display-message -p -t tlf '#{pane_dead}' 2>/dev/null)" = 1 ]; }
save_screen() { screen_text >"$screens/$1.txt"; }

# wait_on_screen SECONDS COMMAND...: as wait_for, but gives up at once when tlf has exited.
wait_on_screen() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        if tlf_exited || [ "$SECONDS" -ge "$deadline" ]; then
            return 1
        fi
        sleep 0.2
    done
}

# Types text into tlf, then Enter. -l sends it literally, so that no word is read as a tmux key name.
type_line() {
    tmux_tlf send-keys -t tlf -l "$1"
    tmux_tlf send-keys -t tlf Enter
}

cluster_has() { grep -qF -- "$1" "$work/cluster.log"; }

# The text of the lines the cluster station sent, from the line matching $1 on (all of them without $1),
# as its log quotes them: TX N0CALL "text\r".
cluster_sent() {
    sed -n "/${1:-^}/,\$p" "$work/cluster.log" |
        sed -n "s/^TX $kMyCall \"\\(.*\\)\\\\r\"\$/\\1/p" | sed 's/ *$//'
}

# The calls spotted on the short-wave bands (tlf's bandmap leaves out the others), one a line.
spotted_calls() { cluster_sent | awk '$1 == "DX" && $2 == "de" && $4 < 30000 { print $5 }' | sort -u; }

passed=()
# Records a passed check, with what showed it.
pass() {
    passed+=("$1")
    log "PASS  $1"
    shift
    local line
    for line in "$@"; do printf '          | %s\n' "$line"; done
}

# Ends the check with a failure: shows what tlf showed last and where the logs are.
fail() {
    log "FAIL  $1"
    save_screen failed-screen
    echo "---- tlf's screen when it failed ----"
    cat "$screens/failed-screen.txt"
    echo "---- end of the cluster station's log ----"
    tail -n 15 "$work/cluster.log"
    summary 1
}

# ---------------------------------------------------------------------------------------------------------
# The steps.

start_stations() {
    start_cluster_station "$kCluster" || fail "the cluster station did not start"
    # The window is not looked at here, so no display is needed.
    QT_QPA_PLATFORM=offscreen start_corvantle "$kMyCall" "$kCluster" "$local_port" ||
        fail "corvantle does not listen on 127.0.0.1:$local_port (see corvantle.log)"
}

# tlf reads ./logcfg.dat; its HOME is pointed here as well, so that nothing in the real one is touched.
start_tlf() {
    tlf_dir="$work/tlf"
    mkdir -p "$tlf_dir"
    sed "s/@CLUSTER_PORT@/$local_port/" "$top/tools/tlf/logcfg.dat" >"$tlf_dir/logcfg.dat"
    # A private tmux server without the user's configuration; the pane stays after tlf exits, so that
    # its last screen can still be read.
    tmux -S "$tmux_socket" -f /dev/null start-server \; set-option -g remain-on-exit on \; \
        new-session -d -s tlf -x "$kTlfColumns" -y "$kTlfLines" -c "$tlf_dir" -e HOME="$tlf_dir" tlf
    tlf_started=$SECONDS
}

# At its first start in a directory tlf shows its licence, then waits for a key. Only press it when
# asked: a key too many would reach the packet terminal and go to the cluster as an empty line.
answer_first_start() {
    wait_on_screen "$kStartTimeout" screen_has "Press any key to continue|Trying 127\.0\.0\.1" ||
        fail "tlf did not start"
    if screen_has "Press any key to continue"; then
        tmux_tlf send-keys -t tlf Enter
    fi
}

# The spot lines on tlf's screen that are exactly as the cluster sent them: a stray byte, a lost character
# or a missing line break would spoil the match.
intact_spots() { grep -Fx -f <(cluster_sent | grep '^DX de ') <<<"$(screen_text)"; }
two_intact_spots() { [ "$(intact_spots | wc -l)" -ge 2 ]; }

check_connects_and_spots() {
    wait_on_screen "$kLinkTimeout" screen_has "\*\*\* CONNECTED With Station $kCluster" ||
        fail "tlf's packet terminal does not show '*** CONNECTED With Station $kCluster'"
    local greeting
    greeting=$(screen_text | sed -n "1,/CONNECTED With Station/p" | grep -v '^$')
    mapfile -t greeting_lines <<<"$greeting"
    pass "tlf connected through corvantle, $((SECONDS - tlf_started))s after it started; it shows:" \
        "${greeting_lines[@]}"
    # Two spots, so that the line break between them is checked too.
    if ! wait_on_screen "$kLinkTimeout" two_intact_spots; then
        screen_has "^DX de " || fail "no 'DX de' spot in tlf's packet terminal"
        fail "the spots in tlf's packet terminal differ from what the cluster sent"
    fi
    save_screen 1-packet-terminal
    mapfile -t spot_lines < <(intact_spots)
    pass "spots in tlf's packet terminal, exactly as the cluster sent them:" "${spot_lines[@]}"
}

# The first line the cluster sent after receiving sh/dx, in $answer; 1 while there is none.
find_answer() {
    answer=$(cluster_sent "^RX $kMyCall \"sh\\/dx" | head -n 1)
    [ -n "$answer" ]
}

check_command_reaches_cluster() {
    local sent_at=$SECONDS expected="RX $kMyCall \"sh/dx \\r\""
    type_line "sh/dx"
    wait_for "$kReplyTimeout" cluster_has "$expected" ||
        fail "the cluster did not receive $expected; it received: $(grep "^RX " "$work/cluster.log" || true)"
    # Nothing else should have arrived: an extra line would be a line end sent twice, or a stray key.
    mapfile -t received < <(grep "^RX " "$work/cluster.log")
    [ "${#received[@]}" -eq 1 ] || fail "the cluster received more than sh/dx: ${received[*]}"
    pass "sh/dx typed in tlf's packet terminal reached the cluster in $((SECONDS - sent_at))s, alone:" \
        "${received[@]}"
    answer=""
    wait_for "$kReplyTimeout" find_answer || fail "the cluster did not answer sh/dx"
    wait_on_screen "$kReplyTimeout" screen_has_line "$answer" ||
        fail "the answer to sh/dx does not show in tlf: '$answer'"
    save_screen 2-packet-terminal-sh-dx
    pass "the answer shows in tlf's packet terminal $((SECONDS - sent_at))s after sending; its first line:" \
        "$answer"
}

check_cluster_window() {
    # ":" alone leaves the packet terminal for the logging screen.
    type_line ":"
    wait_on_screen "$kReplyTimeout" screen_has "== qso ==" || fail "tlf did not go to its logging screen"
    wait_on_screen "$kReplyTimeout" screen_has "DX de " || fail "no 'DX de' spot in tlf's cluster window"
    save_screen 3-cluster-window
    mapfile -t window < <(grep -o "DX de .*Z" "$screens/3-cluster-window.txt")
    pass "spots in the cluster window of tlf's logging screen:" "${window[@]}"
}

check_bandmap() {
    # A bandmap entry: frequency, then one of the calls spotted so far.
    local pattern
    pattern="^ *[0-9]+\.[0-9] +($(spotted_calls | paste -sd'|')) "
    type_line ":map"
    wait_on_screen "$kReplyTimeout" screen_has "$pattern" ||
        fail "none of the spotted calls ($(spotted_calls | paste -sd' ')) shows in tlf's bandmap"
    save_screen 4-bandmap
    mapfile -t entries < <(grep -E "$pattern" "$screens/4-bandmap.txt" | sed 's/ *x.*$//')
    pass "spotted calls in tlf's bandmap (:map):" "${entries[@]}"
}

# With LinkEnd=Close: "bye" ends the link at the cluster, and corvantle then closes tlf's connection, as a
# telnet cluster does.
check_bye_closes_the_connection() {
    type_line ":pac"
    wait_on_screen "$kReplyTimeout" screen_has "CONNECTED With Station" || fail "tlf did not return to its packet terminal"
    local sent_at=$SECONDS
    type_line "bye"
    wait_for "$kReplyTimeout" cluster_has "DOWN $kMyCall" || fail "the cluster did not end the link after bye"
    wait_for "$kReplyTimeout" corvantle_logged "Closing the telnet client" ||
        fail "corvantle did not close the client's connection"
    wait_for "$kReplyTimeout" no_client_connection || fail "tlf's TCP connection to corvantle is still open"
    tlf_exited && fail "tlf exited when its connection was closed"
    sleep 1 # what tlf makes of it, for the record
    save_screen 5-after-bye
    mapfile -t last < <(screen_text | grep -v '^$' | tail -n 4)
    pass "bye: the cluster ended the link and corvantle closed tlf's connection in $((SECONDS - sent_at))s; tlf shows:" \
        "${last[@]}"
}

corvantle_logged() { grep -qF -- "$1" "$work/corvantle.log"; }
no_client_connection() { [ -z "$(ss -Htn state established "( sport = :$local_port )")" ]; }

check_leaving() {
    local left_at=$SECONDS
    type_line ":exit"
    wait_for "$kReplyTimeout" tlf_exited || fail "tlf did not exit after :exit"
    save_screen 5-after-exit
    wait_for "$kReplyTimeout" cluster_has "DOWN $kMyCall" || fail "the radio link stayed up after tlf left"
    kill -0 "$corvantle_pid" 2>/dev/null || fail "corvantle exited after tlf left"
    pass "tlf left with :exit; corvantle dropped the radio link in $((SECONDS - left_at))s and runs on"
}

summary() {
    local status=$1
    echo
    if [ "$status" -eq 0 ]; then
        echo "PASS: ${#passed[@]} checks passed in ${SECONDS}s (tlf $(dpkg-query -W -f='${Version}' tlf))."
    else
        echo "FAIL after ${#passed[@]} passed checks (${SECONDS}s)."
    fi
    if [ -n "$keep" ]; then
        cp "$work/cluster.log" "$work/corvantle.log" "$work/a.log" "$work/b.log" "$keep/" 2>/dev/null || true
        cp "$tlf_dir/logcfg.dat" "$keep/tlf-logcfg.dat" 2>/dev/null || true
        echo "Screens and logs: $keep"
    elif [ "$status" -ne 0 ]; then
        echo "Run with --keep DIR to keep tlf's screens and the logs."
    fi
    exit "$status"
}

# Runs inside tools/run-with-engines.sh, which stops every process of this run when it ends; the tmux
# server is stopped here as well, because it leaves its process group.
run_inside_engines() {
    work="$CORVANTLE_ENGINE_DIR"
    keep="${CHECK_WITH_TLF_KEEP:-}"
    screens="${keep:-$work/screens}"
    mkdir -p "$screens"
    tmux_socket="$work/tmux.socket"
    tlf_dir=""
    local_port=$(free_local_port)
    link_end="${CHECK_WITH_TLF_LINK_END:-keep}"
    if [ "$link_end" = close ]; then
        corvantle_settings='Config\LinkEnd=Close'
        corvantle_options=--verbose
    fi
    trap 'tmux -S "$tmux_socket" kill-server 2>/dev/null || true' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    SECONDS=0

    log "engines on AGW ports $CORVANTLE_ENGINE_A_PORT (A) and $CORVANTLE_ENGINE_B_PORT (B);" \
        "corvantle on 127.0.0.1:$local_port"
    start_stations
    start_tlf
    answer_first_start
    check_connects_and_spots
    check_command_reaches_cluster
    check_cluster_window
    check_bandmap
    if [ "$link_end" = close ]; then
        check_bye_closes_the_connection
    fi
    check_leaving
    summary 0
}

# ---------------------------------------------------------------------------------------------------------

if [ "${1:-}" = "--inside-engines" ]; then
    run_inside_engines
fi

keep=""
while [ $# -gt 0 ]; do
    case "$1" in
    --keep) [ $# -ge 2 ] || usage; keep="$2"; shift 2 ;;
    --link-end-close) export CHECK_WITH_TLF_LINK_END=close; shift ;;
    -h | --help) usage ;;
    *) usage ;;
    esac
done
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    CHECK_WITH_TLF_KEEP=$(cd "$keep" && pwd)
    export CHECK_WITH_TLF_KEEP
fi

"$top/tools/install-deps.sh" tlf tmux
"$top/tools/build.sh"
exec "$top/tools/run-with-engines.sh" -- "$0" --inside-engines
