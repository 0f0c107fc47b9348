#!/usr/bin/env bash
# Times every long operation of korvel-cli against korvel-progsim --pace, which
# takes as long as a real jig's USB bridge would, and prints a Markdown table:
# the session, the link model's own time for the same bytes, their ratio,
# korvel-cli's CPU time as a share of one core, and how late the simulator
# itself was (left out of the session). A benchmark, not a test: no figure
# fails it.
#
#   scripts/bench.sh [--runs N] [--build DIR] [--wine WINDOWS_BUILD_DIR]
#
# --wine runs the cross-built korvel-cli.exe under wine instead, through a COM
# port that the build's wine prefix maps to the simulator's pseudo-terminal:
# wine's serial layer is not Windows', so those rows are for information only.
#
# Each operation runs N times (default 3) on a fresh simulator; the row shows
# the run with the median ratio. An operation whose tool korvel-cli does not
# have yet is listed as skipped.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
runs=3
wine_build=""
readonly wine_port=COM9

while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --wine) wine_build=$(cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
case "$runs" in ''|*[!0-9]*|0) echo "bench.sh: --runs needs a positive number" >&2; exit 2 ;; esac

cli="$build/src/cli/korvel-cli"
progsim="$build/sim/korvel-progsim"
window="$build/bench/korvel-window-bench"

# The operations, one row each: title | firmware family | korvel-cli words |
# input image ("-" for none). {in} and {out} stand for the image files. A read
# and a write for every chip whose image a korvel-cli tool moves, from
# korvel-progsim's own table, then the window's rows.
operations=()
declare -A image_size=()
load_operations() {
    local family tool size
    while read -r _ family tool size; do
        [ "$tool" = "-" ] && continue
        image_size[$tool]=$size
        operations+=("${tool^^} read|$family|$tool read --output {out}|-"
            "${tool^^} write|$family|$tool write --input {in}|$tool")
    done < <("$progsim" --list-chips)
    operations+=("KB90XX read, window|V41|@window read {out}|-"
        "KB90XX write, window|V41|@window write {in}|kb90xx")
}

# Seconds; only to catch a simulator that never starts.
readonly start_bound=10

# The packages, and the three programs when they are not built; the build's
# output is shown only when it fails.
build_if_needed() {
    "$here/scripts/dev.sh" deps ${wine_build:+windows}
    local log=$work/build.log
    if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
        cmake -S "$here" -B "$build" -G Ninja >"$log" 2>&1 || build_failed
    fi
    cmake --build "$build" --target korvel-cli korvel-progsim korvel-window-bench >>"$log" 2>&1 || build_failed
}

build_failed() {
    cat "$work/build.log" >&2
    echo "bench.sh: the build in $build failed" >&2
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/kj-bench.XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
    if [ -n "$wine_build" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

random_bytes() { head -c "$1" /dev/urandom; }
erased_bytes() { head -c "$1" /dev/zero | tr '\0' '\377'; }

# Code in 4 KiB pieces with erased 4 KiB pieces between them, the way a
# controller image leaves about half its flash at 0xFF.
half_erased_image() {
    local piece
    for ((piece = 0; piece < $1 / 4096; piece++)); do
        if ((piece % 2 == 0)); then random_bytes 4096; else erased_bytes 4096; fi
    done
}

# Random bytes of the chip's size, but for two chips: an ITE write sends only
# what is not erased, so its image is half erased the way a controller image
# is; and the panel EEPROM the simulator serves, read back in the EDID read
# row, is the natural image to write (random bytes stand in when that failed).
make_input() {
    local kind=$1 file=$2
    case "$kind" in
    ite) half_erased_image "${image_size[$kind]}" >"$file" ;;
    edid) if [ -s "$work/edid-read.bin" ]; then cp "$work/edid-read.bin" "$file"; else random_bytes "${image_size[$kind]}" >"$file"; fi ;;
    *) random_bytes "${image_size[$kind]}" >"$file" ;;
    esac
}

# "unknown tool" from korvel-cli means the tool has not landed yet.
has_tool() {
    # Under wine every tool is there, and the window bench is a Linux program.
    [ -n "$wine_build" ] && { [ "$1" != "@window" ]; return; }
    [ "$1" = "@window" ] && return 0
    local said
    said=$("$cli" "$1" 2>&1 >/dev/null || true)
    [[ "$said" != *"unknown tool"* ]]
}

start_sim() {
    local family=$1 stats=$2 line
    coproc SIM { exec "$progsim" --pace --family "$family" --stats "$stats" 2>"$work/progsim.err"; }
    # shellcheck disable=SC2153  # set by coproc
    sim_pid=$SIM_PID
    if ! read -r -t "$start_bound" line <&"${SIM[0]}" || [[ "$line" != PORT\ * ]]; then
        echo "bench.sh: korvel-progsim did not start" >&2
        cat "$work/progsim.err" >&2
        exit 1
    fi
    port=${line#PORT }
}

stop_sim() {
    kill -TERM "$sim_pid"
    wait "$sim_pid" || true
    sim_pid=""
}

# One run of one operation: sets `result` to "ratio session model cpu lag", or
# to "failed: why".
run_once() {
    local family=$1 words=$2 input=$3 output=$4 stats="$work/stats" times="$work/times"
    rm -f "$stats" "$output"
    local args=() word status=0
    read -ra args <<<"$words"
    for word in "${!args[@]}"; do
        case "${args[$word]}" in
        "{in}") args[word]=$input ;;
        "{out}") args[word]=$output ;;
        esac
    done
    start_sim "$family" "$stats"
    # The window's rows run the KB90xx window offscreen through its buttons.
    local program=("$cli" --port "$port")
    if [ -n "$wine_build" ]; then
        ln -sfn "$port" "$wine_build/wine/dosdevices/${wine_port,,}"
        program=("$here/scripts/wine-run.sh" "$wine_build/src/cli/korvel-cli.exe" --port "$wine_port")
        for word in "${!args[@]}"; do
            [[ "${args[$word]}" == /* ]] && args[word]="Z:${args[$word]//\//\\}"
        done
    fi
    if [ "${args[0]}" = "@window" ]; then
        program=("$window" --port "$port")
        args=("${args[@]:1}")
    fi
    { TIMEFORMAT='%R %U %S'; time "${program[@]}" "${args[@]}" >"$work/log" 2>"$work/err"; } 2>"$times" || status=$?
    stop_sim
    if [ "$status" -ne 0 ]; then
        result="failed: exit $status, $(tail -n 1 "$work/log")"
    elif [ ! -s "$stats" ]; then
        result="failed: korvel-progsim wrote no figures"
    else
        result=$(awk -v t="$(cat "$times")" '
            $1 == "session_seconds" { s = $2 }
            $1 == "link_model_seconds" { m = $2 }
            $1 == "wall_seconds" { w = $2 }
            END {
                split(t, p, " ")
                printf "%.4f %.4f %.4f %.2f %.4f\n", s / m, s, m, 100 * (p[2] + p[3]) / p[1], w - s
            }' "$stats")
    fi
}

# Sets `result` to the run with the median ratio of `runs`, or to the first failure.
run_operation() {
    local family=$1 words=$2 kind=$3 name=$4 input="" output="$work/out.bin" results=() run
    if [ "$kind" != "-" ]; then
        input="$work/in-$kind.bin"
        make_input "$kind" "$input"
    fi
    for ((run = 0; run < runs; run++)); do
        run_once "$family" "$words" "$input" "$output"
        [[ "$result" == failed:* ]] && return
        results+=("$result")
    done
    if [ "$name" = "EDID read" ]; then cp "$output" "$work/edid-read.bin"; fi
    result=$(printf '%s\n' "${results[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
}

machine() {
    local cpu
    cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
    echo "$(uname -srm), ${cpu:-unknown CPU}, $(nproc) cores; $(git -C "$here" describe --always --dirty 2>/dev/null || echo "no git"); $(date -u '+%Y-%m-%d %H:%M UTC'); median of $runs runs"
}

build_if_needed
load_operations
if [ -n "$wine_build" ]; then
    # Wine's mount manager rewrites the COM links whenever the prefix's server
    # starts: one server for the whole run, up before the first link is made.
    export WINEPREFIX=$wine_build/wine WINEDEBUG=-all
    if ! wineserver -p >"$work/wineserver.log" 2>&1; then
        cat "$work/wineserver.log" >&2
        echo "bench.sh: the wine server did not start" >&2
        exit 1
    fi
    "$here/scripts/wine-run.sh" cmd /c exit
fi
echo "Machine: $(machine)"
echo
echo "| Operation | Session, s | Link model, s | Ratio | CPU, % of a core | Simulator lag, s |"
echo "|---|---:|---:|---:|---:|---:|"
for row in "${operations[@]}"; do
    IFS='|' read -r name family words kind <<<"$row"
    tool=${words%% *}
    if ! has_tool "$tool"; then
        echo "| $name | – | – | – | – | skipped: korvel-cli has no \`$tool\` tool yet |"
        continue
    fi
    run_operation "$family" "$words" "$kind" "$name"
    if [[ "$result" == failed:* ]]; then
        echo "| $name | – | – | – | – | ${result} |"
        continue
    fi
    read -r ratio session model cpu lag <<<"$result"
    echo "| $name | $session | $model | $ratio | $cpu | $lag |"
done
