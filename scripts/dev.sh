#!/usr/bin/env bash
# Set up a fresh Debian 12 machine, build, and run the program or the tests.
#   scripts/dev.sh run       build and start korvel-jig on the simulated programmer
#   scripts/dev.sh test      build and run every test
#   scripts/dev.sh sanitize  build with AddressSanitizer/UBSan and run every test
#   scripts/dev.sh tsan      build with clang and ThreadSanitizer, run the tests without windows
#   scripts/dev.sh fuzz [S]  build the fuzzers with clang and run each for S seconds (default 30)
#   scripts/dev.sh package   build korvel-jig_<version>_amd64.deb with CPack and check it with lintian
#   scripts/dev.sh deps      install the Debian packages only
# KJ_WERROR=ON in the environment treats warnings as errors (CI does).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
werror=${KJ_WERROR:-OFF}

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev
          libgl-dev libgtest-dev fonts-liberation edid-decode
          clang libclang-rt-14-dev)

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

build() {  # build DIR [cmake options...]; KJ_TARGET names one target instead of all
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" -G Ninja -DKJ_WERROR="$werror" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs" ${KJ_TARGET:+--target "$KJ_TARGET"}
}

run_tests() {  # run_tests DIR [ctest options...]
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 "$@"
}

case "${1:-}" in
deps) install_deps ;;
package)
    packages+=(help2man lintian dpkg-dev)
    install_deps
    build "$here/build"
    (cd "$here/build" && cpack -G DEB)
    deb=$(ls "$here"/build/korvel-jig_*_*.deb)
    lintian --fail-on error "$deb"
    echo "$deb"
    ;;
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
tsan)
    install_deps
    # The windows are built (so that clang compiles them too) but their tests
    # need an instrumented toolkit, so only the core and command-line tests run.
    CXX=clang++ build "$here/build-tsan" -DKJ_TSAN=ON
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests "$here/build-tsan" -LE gui
    ;;
fuzz)
    install_deps
    CXX=clang++ KJ_TARGET=fuzzers build "$here/build-fuzz" -DKJ_FUZZ=ON -DKJ_GUI=OFF
    seconds=${2:-30}
    for target in "$here"/build-fuzz/fuzz/fuzz_*; do
        name=$(basename "$target")
        work=$(mktemp -d)
        mkdir "$work/corpus"
        cp -r "$here/fuzz/corpus/${name#fuzz_}/." "$work/corpus/" 2>/dev/null || true
        echo "== $name, $seconds s"
        if ! (cd "$work" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
                -print_final_stats=1 corpus >"$work/log" 2>&1); then
            tail -50 "$work/log"
            exit 1
        fi
        grep -E "stat::number_of_executed_units" "$work/log"
        rm -rf "$work"
    done
    ;;
*)
    sed -n '2,11p' "$0"
    exit 2
    ;;
esac
