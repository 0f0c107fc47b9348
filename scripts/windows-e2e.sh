#!/usr/bin/env bash
# End to end on Windows: korvel-cli.exe under wine reads and writes every family
# through a COM port, against korvel-progsim (Linux) on a pseudo-terminal that
# the wine prefix maps to that port.
#   scripts/windows-e2e.sh CLI.exe PROGSIM
# The prefix is wine-run.sh's; KJ_WINE_BARE=1 runs an installed CLI without
# the build's DLL path. Needs the packages of `scripts/dev.sh deps windows`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$1
progsim=$2
export LC_ALL=C.UTF-8
export WINEPREFIX=${WINEPREFIX:-${KJ_WIN_BUILD:-$here/build-windows}/wine}
export WINEDEBUG=-all
port=COM9
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
    echo "windows-e2e: $*" >&2
    exit 1
}

# A Windows path for a file of the work folder: wine maps / to Z:.
winpath() { echo "Z:${1//\//\\}"; }

serve() {  # serve FAMILY: a fresh programmer behind COM9
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

# Read, write a new image, read it back: the flash families.
round_trip() {  # round_trip TOOL SIZE [erase]
    local tool=$1 size=$2
    cli "$tool" read --output "$(winpath "$work/$tool-1.bin")"
    [ "$(stat -c %s "$work/$tool-1.bin")" -ge "$size" ] || fail "$tool read is short"
    pattern "$work/$tool-new.bin" "$size"
    [ "${3:-}" = erase ] && cli "$tool" erase
    cli "$tool" write --input "$(winpath "$work/$tool-new.bin")"
    cli "$tool" read --output "$(winpath "$work/$tool-2.bin")"
    same "$work/$tool-new.bin" "$work/$tool-2.bin"
}

# Wine's mount manager rewrites dosdevices/ whenever the prefix's server
# starts: one server for the whole run, up before the first link is made.
# The server's own output goes to a log of its own.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >"$work/wineserver.log" 2>&1 || { cat "$work/wineserver.log"; fail "the wine server did not start"; }
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
"$here/scripts/wine-run.sh" cmd /c exit

serve V41
cli test-connect
cli edid read --output "$(winpath "$work/edid-1.bin")"
cli edid write --input "$(winpath "$work/edid-1.bin")"
cli edid read --output "$(winpath "$work/edid-2.bin")"
same "$work/edid-1.bin" "$work/edid-2.bin"
round_trip kb90xx 131072
cli keyboard scan --seconds 1

serve V42
cli mec16 check
round_trip mec16 196608 erase

serve ITE
cli ite apply --pins PD0=1,PD1=2
cli ite check
round_trip ite 131072

serve NPCE
round_trip npce 131072

echo "windows-e2e: every family read and written through $port"
