#!/usr/bin/env bash
# link-bench.sh: measures the program's own AX.25 link (KISS engine) beside Dire Wolf's own (AGW engine) on
# a channel that behaves like a radio's, and prints one table row for each.
#
# Each row gets a fresh pair of Dire Wolf engines joined by the paced channel (tools/run-with-engines.sh
# --paced-channel: the audio plays out at real time, both engines half duplex, each waiting for a clear
# channel), engine A configured with the same link parameters the KISS engine gets. The row's program
# (kiss_link_bench) connects N0CALL to the cluster station GB7DXC on engine B, sends LINES numbered lines up
# (the cluster answers each, as it answers a user's commands), then asks for LINES numbered lines down, and
# disconnects.
#
# Columns: up and down, the time from the first line queued to the last one's arrival; frames A->B, every
# frame engine B decoded from us; our I frames, with those it heard more than once (same N(S) and text) in
# brackets; polls, our I and supervisory commands with the poll bit; greetings, how often the cluster's
# greeting reached us (one per connect). A last line gives the own link's figures over Dire Wolf's.
#
# Usage: tools/link-bench.sh [--lines N] [--paclen P] [--maxframe M] [--frack SECONDS] [--retry N2]
#                            [--lossy N] [--kiss-only] [--keep-dir DIR]
# Defaults: 100 lines, the KISS engine's defaults (PACLEN 128, MAXFRAME 4, FRACK 3, RETRY 10), no loss.
# About 2 minutes per row for 100 lines; 500 lines take 5 to 10 minutes per row. Needs a build in build/.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"

lines=100 paclen=128 maxframe=4 frack=3 retry=10 lossy=0 kiss_only=0 keep_dir=""
usage() {
    sed -n '/^# Usage:/,/^# Defaults/s/^# //p' "$0" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --lines) lines="$2"; shift 2 ;;
    --paclen) paclen="$2"; shift 2 ;;
    --maxframe) maxframe="$2"; shift 2 ;;
    --frack) frack="$2"; shift 2 ;;
    --retry) retry="$2"; shift 2 ;;
    --lossy) lossy="$2"; shift 2 ;;
    --kiss-only) kiss_only=1; shift ;;
    --keep-dir) keep_dir="$2"; shift 2 ;;
    *) usage ;;
    esac
done

bench="$build/tests/kiss/kiss_link_bench"
relay="$build/tools/channel-relay/corvantle-channel-relay"
for program in "$bench" "$relay"; do
    [ -x "$program" ] || { echo "$0: $program is missing: build first (tools/build.sh)" >&2; exit 1; }
done

channel=(--paced-channel "$relay")
[ "$lossy" -eq 0 ] || channel+=(--lossy-channel "$lossy" "$relay")
# V20: with the same parameters, Dire Wolf's own link too speaks AX.25 2.0 (otherwise it connects with SABME
# and a window of its own), so the two rows compare like with like.
export CORVANTLE_ENGINE_A_CONFIG="V20 GB7DXC
PACLEN $paclen
MAXFRAME $maxframe
FRACK $frack
RETRY $retry"

# run_row LINK LABEL: one row, or a line saying why there is none.
run_row() {
    local keep=()
    [ -z "$keep_dir" ] || keep=(--keep-dir "$keep_dir/$1")
    "$top/tools/run-with-engines.sh" --kiss-a "${channel[@]}" "${keep[@]}" -- \
        "$bench" "$1" "$lines" "$paclen" "$maxframe" "$frack" "$retry" "$2" ||
        echo "| $2 | failed | | | | | |"
}

parameters="MAXFRAME $maxframe, PACLEN $paclen, FRACK $frack, RETRY $retry"
[ "$lossy" -eq 0 ] || parameters+=", every ${lossy}th transmission lost"
echo "Paced half-duplex channel at 1200 baud, $lines lines up and $lines down, $parameters"
echo
echo "| link | up | down | frames A->B | our I frames (resent) | polls | greetings |"
echo "|---|---|---|---|---|---|---|"
rows=()
if [ "$kiss_only" -eq 0 ]; then
    rows+=("$(run_row agw "Dire Wolf's own")")
    echo "${rows[-1]}"
fi
rows+=("$(run_row kiss "own KISS link")")
echo "${rows[-1]}"

# The own link against Dire Wolf's: frames and times, each as a multiple of Dire Wolf's.
if [ ${#rows[@]} -eq 2 ]; then
    printf '%s\n' "${rows[@]}" | awk -F'|' '
        { gsub(/ s/, ""); up[NR] = $3; down[NR] = $4; frames[NR] = $5 }
        END {
            if (up[1] + 0 > 0 && down[1] + 0 > 0 && frames[1] + 0 > 0)
                printf "\nown / Dire Wolf: frames %.2f, up %.2f, down %.2f\n",
                       frames[2] / frames[1], up[2] / up[1], down[2] / down[1]
        }'
fi
