#!/usr/bin/env bash
# Set up a fresh Debian 12 machine, build, and run the program or the tests.
#   scripts/dev.sh run       build and start korvel-jig on the simulated programmer
#   scripts/dev.sh test      build and run every test
#   scripts/dev.sh sanitize  build with AddressSanitizer/UBSan and run every test
#   scripts/dev.sh deps      install the Debian packages only
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev
          libgl-dev libgtest-dev fonts-liberation edid-decode)

install_deps() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {  # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
    ctest --test-dir "$1" --output-on-failure -j "$jobs" --timeout 300
}

case "${1:-}" in
deps) install_deps ;;
run)
    install_deps
    build "$here/build"
    exec "$here/build/src/app/korvel-jig" --simulate
    ;;
test)
    install_deps
    build "$here/build"
    run_tests "$here/build"
    ;;
sanitize)
    install_deps
    build "$here/build-asan" -DKJ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_tests "$here/build-asan"
    ;;
*)
    sed -n '2,7p' "$0"
    exit 2
    ;;
esac
