#!/usr/bin/env bash
# End to end on Windows: korvel-cli.exe under wine reads and writes every
# family through a COM port, against korvel-progsim (Linux) on a pseudo-terminal
# that the wine prefix maps to that port. The families come from the
# simulator's table of chips and the CLI's own help: a new family is driven
# without a line here.
#   scripts/windows-e2e.sh CLI.exe PROGSIM
#   scripts/windows-e2e.sh --plan CLI PROGSIM   prints the run's steps, no wine
#                                                (CLI: a native korvel-cli)
# The prefix is wine-run.sh's; KJ_WINE_BARE=1 runs an installed CLI without
# the build's DLL path. Needs the packages of `scripts/dev.sh deps windows`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export LC_ALL=C.UTF-8
plan_only=
if [ "${1:-}" = --plan ]; then
    plan_only=1
    shift
fi
[ $# -eq 2 ] || { sed -n '7,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
cli=$1
progsim=$2
port=COM9
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

# A family's own short actions, by its chip: korvel-cli words, several split
# by "|", run on its programmer before its image's round trip.
declare -A own_actions=(
    [keyboard]="keyboard scan --seconds 1"
    [mec16]="mec16 check"
    [ite]="ite apply --pins PD0=1,PD1=2|ite check"
)
# Tools that check what they write (an EDID's checksums): their round trip
# writes back the image read rather than a random one.
declare -A writes_what_it_read=([edid]=1)

fail() {
    echo "windows-e2e: $*" >&2
    exit 1
}

# The CLI's own text about a tool.
tool_help() {  # tool_help TOOL
    if [ -n "$plan_only" ]; then
        "$cli" "$1" --help 2>&1
    else
        timeout 120 "$here/scripts/wine-run.sh" "$cli" "$1" --help 2>&1
    fi
}

# The run, one step a line: "serve FIRMWARE", "cli WORDS...", or "round_trip
# TOOL SIZE [erase] [as-read]". A programmer of its own for every chip of
# korvel-progsim --list-chips (name, firmware, tool or -, bytes a write
# reaches); a chip whose image a tool moves gets that image read, written and
# read back, erased first where the tool can erase.
plan() {
    local chip firmware tool size first=1 words known
    local -A listed=()
    while read -r chip firmware tool size; do
        listed[$chip]=1
        echo "serve $firmware"
        if [ -n "$first" ]; then
            echo "cli test-connect"
            first=
        fi
        if [ -n "${own_actions[$chip]:-}" ]; then
            IFS='|' read -ra words <<<"${own_actions[$chip]}"
            printf 'cli %s\n' "${words[@]}"
        fi
        [ "$tool" = - ] && continue
        local extra="" help
        help=$(tool_help "$tool" </dev/null) || fail "korvel-cli has no tool \"$tool\" for chip $chip"
        grep -Eq "korvel-cli $tool erase( |$)" <<<"$help" && extra+=" erase"
        [ -n "${writes_what_it_read[$tool]:-}" ] && extra+=" as-read"
        echo "round_trip $tool $size$extra"
    done < <("$progsim" --list-chips)
    [ ${#listed[@]} -gt 0 ] || fail "korvel-progsim --list-chips lists no chip"
    # A row for a chip that is gone would be skipped without a word.
    for known in "${!own_actions[@]}"; do
        [ -n "${listed[$known]:-}" ] || fail "no chip \"$known\" for its own actions"
    done
}

# A Windows path for a file of the work folder: wine maps / to Z:.
winpath() { echo "Z:${1//\//\\}"; }

serve() {  # serve FIRMWARE: a fresh programmer behind COM9
    [ -n "$server" ] && kill "$server" && wait "$server" 2>/dev/null || true
    "$progsim" --family "$1" >"$work/progsim.out" &
    server=$!
    local line=""
    for _ in $(seq 100); do
        line=$(head -n1 "$work/progsim.out")
        [ -n "$line" ] && break
        sleep 0.1
    done
    [[ $line == "PORT "* ]] || fail "korvel-progsim did not start: $line"
    ln -sfn "${line#PORT }" "$WINEPREFIX/dosdevices/${port,,}"
}

cli() {  # cli TOOL ACTION [options]: must succeed
    echo "== korvel-cli --port $port $*"
    timeout 300 "$here/scripts/wine-run.sh" "$cli" --port "$port" "$@" >"$work/out" 2>&1 ||
        { cat "$work/out"; fail "korvel-cli $* failed"; }
    tail -n1 "$work/out"
}

pattern() {  # pattern FILE SIZE
    head -c "$2" /dev/urandom >"$1"
}

same() {
    cmp "$1" "$2" || fail "$2 is not what was written"
}

# Read, write an image, read it back.
round_trip() {  # round_trip TOOL SIZE [erase] [as-read]
    local tool=$1 size=$2 flag erase='' as_read=''
    for flag in "${@:3}"; do
        case $flag in
        erase) erase=1 ;;
        as-read) as_read=1 ;;
        esac
    done
    cli "$tool" read --output "$(winpath "$work/$tool-1.bin")"
    [ "$(stat -c %s "$work/$tool-1.bin")" -ge "$size" ] || fail "$tool read is short"
    if [ -n "$as_read" ]; then
        cp "$work/$tool-1.bin" "$work/$tool-new.bin"
    else
        pattern "$work/$tool-new.bin" "$size"
    fi
    [ -n "$erase" ] && cli "$tool" erase
    cli "$tool" write --input "$(winpath "$work/$tool-new.bin")"
    cli "$tool" read --output "$(winpath "$work/$tool-2.bin")"
    same "$work/$tool-new.bin" "$work/$tool-2.bin"
}

if [ -n "$plan_only" ]; then
    plan
    exit 0
fi

export WINEPREFIX=${WINEPREFIX:-${KJ_WIN_BUILD:-$here/build-windows}/wine}
export WINEDEBUG=-all
# Wine's mount manager rewrites dosdevices/ whenever the prefix's server
# starts: one server for the whole run, up before the first link is made.
# The server's own output goes to a log of its own.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >"$work/wineserver.log" 2>&1 || { cat "$work/wineserver.log"; fail "the wine server did not start"; }
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
"$here/scripts/wine-run.sh" cmd /c exit

steps=$(plan)
mapfile -t steps <<<"$steps"
for step in "${steps[@]}"; do
    read -ra words <<<"$step"
    "${words[@]}"
done

echo "windows-e2e: every family read and written through $port"
