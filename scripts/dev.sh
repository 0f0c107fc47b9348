#!/usr/bin/env bash
# Set up a fresh Debian 12 machine, build, and run the program or the tests.
#   scripts/dev.sh run       build and start korvel-jig on the simulated programmer
#   scripts/dev.sh test      build and run every test
#   scripts/dev.sh sanitize  build with AddressSanitizer/UBSan and run every test
#   scripts/dev.sh tsan      build with clang and ThreadSanitizer and run every test
#   scripts/dev.sh fuzz [S]  build the fuzzers with clang and run each for S seconds (default 30)
#   scripts/dev.sh package   build korvel-jig_<version>_amd64.deb with CPack and check it with lintian
#   scripts/dev.sh windows   cross-build for Windows, run the tests under wine, make the installer
#   scripts/dev.sh deps [windows]  install the Debian packages only (the Windows build's too)
#   scripts/dev.sh fresh [MODE...]  .ci/run, or this script's MODE, as root in a new Debian 12
#                            root made from this machine's apt sources, with only PATH and HOME set
# KJ_WERROR=ON in the environment treats warnings as errors (CI does).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
werror=${KJ_WERROR:-OFF}

# Builds and tests get the same UTF-8 locale whatever the caller's: test data
# folders have Cyrillic names, which wine maps through the locale. C.UTF-8 is
# part of Debian's libc.
[ "${1:-}" = run ] || export LC_ALL=C.UTF-8

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev
          libgl-dev libgtest-dev libsqlite3-dev fonts-liberation edid-decode
          clang libclang-rt-14-dev)

windows_packages=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools googletest wine wine64 nsis zip xz-utils)
# The Qt archive that scripts/build-qt-mingw.sh makes, from shared/ unless named.
qt_archive=${KJ_QT_ARCHIVE:-$here/../shared/toolchains/qt-6.4.2-mingw-w64.tar.xz}
sqlite_archive=$here/../shared/toolchains/sqlite-3.40.1-mingw-w64.tar.xz

install_deps() {
    install_packages "${packages[@]}" "$@"
}

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# quietly LOG COMMAND...: the command's output goes to LOG; when it fails, the
# output is shown and the command named.
quietly() {
    local log=$1
    shift
    mkdir -p "$(dirname "$log")"
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "dev.sh: failed (output above, kept in $log): $*" >&2
        return 1
    fi
}

build() {  # build DIR [cmake options...]; KJ_TARGET names one target instead of all
    local dir=$1
    shift
    quietly "$dir/configure.log" cmake -S "$here" -B "$dir" -G Ninja -DKJ_WERROR="$werror" "$@"
    cmake --build "$dir" -j "$jobs" ${KJ_TARGET:+--target "$KJ_TARGET"}
}

run_tests() {  # run_tests DIR [ctest options...]
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 "$@"
}

# The Windows build: Qt and SQLite for mingw from the shared archives,
# GoogleTest from Debian's sources, all into the build folder, then the project.
build_windows() {
    local dir=$1
    mkdir -p "$dir"
    if [ ! -f "$dir/qt6-mingw/lib/cmake/Qt6/Qt6Config.cmake" ]; then
        tar -xJf "$qt_archive" -C "$dir"
    fi
    if [ ! -f "$dir/sqlite-mingw/include/sqlite3.h" ]; then
        tar -xJf "$sqlite_archive" -C "$dir"
    fi
    local toolchain=(-DCMAKE_TOOLCHAIN_FILE="$here/packaging/windows/mingw-w64-x86_64.cmake")
    if [ ! -f "$dir/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
        quietly "$dir/gtest-build/configure.log" \
            cmake -S /usr/src/googletest -B "$dir/gtest-build" -G Ninja "${toolchain[@]}" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$dir/gtest" -DBUILD_GMOCK=OFF
        quietly "$dir/gtest-build/build.log" cmake --build "$dir/gtest-build" -j "$jobs" --target install
    fi
    build "$dir" "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$dir/qt6-mingw;$dir/sqlite-mingw;$dir/gtest" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine-run.sh" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
}

# Installs silently into the build's wine prefix, then the installed CLI, on
# its own DLLs only, must start, read from the simulated programmer, and read
# and write every family through a COM port against korvel-progsim.
install_windows() {  # install_windows SETUP.exe PROGSIM
    local wine=$here/scripts/wine-run.sh
    local installed=$here/build-windows/wine/drive_c/Program\ Files/korvel-jig
    timeout 300 "$wine" "$1" /S
    [ -f "$installed/korvel-jig.exe" ] || { echo "the installer put nothing in $installed" >&2; return 1; }
    export KJ_WINE_BARE=1
    timeout 60 "$wine" "$installed/korvel-cli.exe" --version
    local image=$here/build-windows/wine/drive_c/users/Public/simulated.bin
    rm -f "$image"
    quietly "$here/build-windows/simulated-read.log" \
        timeout 120 "$wine" "$installed/korvel-cli.exe" --simulate kb90xx read --output 'C:\users\Public\simulated.bin'
    [ "$(stat -c %s "$image")" = 131072 ] || { echo "the simulated read saved no image" >&2; return 1; }
    "$here/scripts/windows-e2e.sh" "$installed/korvel-cli.exe" "$2"
}

# A fresh machine, made here: a minimal Debian 12 root from this machine's apt
# sources, a clone of HEAD in it (uncommitted changes stay out) with shared/
# beside it, read-only. The mounts live in a mount namespace of their own and
# every process in a PID namespace of its own, so neither outlives the run.
fresh_work=""
fresh_pid=""
run_fresh() {  # run_fresh [MODE...]
    [ "$(id -u)" -eq 0 ] || { echo "dev.sh fresh makes a root and mounts in it: run it as root" >&2; exit 2; }
    install_packages mmdebstrap git
    local started=$SECONDS
    fresh_work=$(mktemp -d /var/tmp/kj-fresh.XXXXXX)
    trap remove_fresh EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    local root=$fresh_work/root sources=() f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ ! -f "$f" ] || sources+=("$f")
    done
    echo "fresh: a Debian 12 root in $root"
    quietly "$fresh_work/mmdebstrap.log" \
        mmdebstrap --variant=minbase --mode=root bookworm "$root" "${sources[@]}"
    local head
    head=$(git -C "$here" rev-parse HEAD)
    [ -z "$(git -C "$here" status --porcelain)" ] ||
        echo "fresh: uncommitted changes are not in the run, only HEAD"
    quietly "$fresh_work/clone.log" git clone --no-hardlinks --no-checkout "$here" "$root/work/korvel-jig"
    quietly "$fresh_work/checkout.log" git -C "$root/work/korvel-jig" checkout --detach "$head"
    mkdir "$root/work/shared"
    echo "fresh: $(git -C "$here" log -1 --format='%h %s' | cut -c1-72), root ready in $((SECONDS - started)) s"

    local command=(bash /work/korvel-jig/.ci/run)
    [ $# -eq 0 ] || command=(bash /work/korvel-jig/scripts/dev.sh "$@")
    unshare --mount --propagation private --pid --fork --kill-child \
        bash -euc "$(declare -f enter_root); enter_root \"\$@\"" enter_root \
        "$root" "$(cd "$here/../shared" && pwd)" "${command[@]}" &
    fresh_pid=$!
    local status=0
    wait "$fresh_pid" || status=$?
    fresh_pid=""
    echo "fresh: ${command[*]} ended with status $status after $((SECONDS - started)) s in all"
    return "$status"
}

# enter_root ROOT SHARED COMMAND...: what a machine has mounted, then COMMAND
# as root in ROOT with a bare environment; CI says it is a CI run.
enter_root() {
    local root=$1 shared=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount -t sysfs -o ro sysfs "$root/sys"
    # Pseudo-terminals of the root's own, for the simulator and the tests that spawn it.
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    mount --bind "$shared" "$root/work/shared"
    mount -o remount,bind,ro "$root/work/shared"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root CI=true "$@"
}

remove_fresh() {
    # unshare ignores TERM and INT while it waits; killed, it takes the
    # namespace's first process along, and every other with it.
    if [ -n "$fresh_pid" ]; then
        kill -KILL "$fresh_pid" 2>/dev/null || true
        wait "$fresh_pid" 2>/dev/null || true
    fi
    # The run's own mounts went with its namespace; an interrupted mmdebstrap
    # may leave some here. What cannot be unmounted keeps the folder from being emptied.
    local mount
    for mount in $(fresh_mounts); do
        umount "$mount" || true
    done
    if [ -n "$(fresh_mounts)" ]; then
        echo "fresh: left $fresh_work in place, still mounted in it:" $(fresh_mounts) >&2
        return
    fi
    rm -rf "$fresh_work"
}

fresh_mounts() {  # innermost first
    awk -v root="$fresh_work/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r
}

case "${1:-}" in
deps)
    if [ "${2:-}" = windows ]; then install_deps "${windows_packages[@]}"; else install_deps; fi
    ;;
fresh)
    shift
    run_fresh "$@"
    ;;
package)
    # CPack reads the programs' libraries with file and dpkg-shlibdeps.
    packages+=(help2man lintian dpkg-dev file)
    install_deps
    build "$here/build"
    (cd "$here/build" && cpack -G DEB)
    deb=$(ls "$here"/build/korvel-jig_*_*.deb)
    lintian --fail-on error "$deb"
    echo "$deb"
    ;;
windows)
    install_deps "${windows_packages[@]}"
    KJ_TARGET=korvel-progsim build "$here/build"
    build_windows "$here/build-windows"
    run_tests "$here/build-windows"
    setup=$("$here/scripts/windows-package.sh" "$here/build-windows")
    install_windows "$setup" "$here/build/sim/korvel-progsim"
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
    # Every test, the windows' too, offscreen. The toolkit is not instrumented:
    # tsan.supp names the reports that lie wholly inside it.
    CXX=clang++ build "$here/build-tsan" -DKJ_TSAN=ON
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/scripts/tsan.supp" \
        QT_QPA_PLATFORM=offscreen run_tests "$here/build-tsan"
    ;;
fuzz)
    install_deps
    CXX=clang++ KJ_TARGET=fuzzers build "$here/build-fuzz" -DKJ_FUZZ=ON -DKJ_GUI=OFF
    seconds=${2:-30}
    for target in "$here"/build-fuzz/fuzz/fuzz_*; do
        name=$(basename "$target")
        work=$(mktemp -d)
        mkdir "$work/corpus"
        seeds=$here/fuzz/corpus/${name#fuzz_}
        [ ! -d "$seeds" ] || cp -r "$seeds/." "$work/corpus/"
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
    sed -n '2,13p' "$0"
    exit 2
    ;;
esac
