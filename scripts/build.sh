#!/bin/sh
# Installs what is missing, then builds everything into ./build.
# CMake's configure step runs only when build/ has no cache yet: later builds
# re-run it by themselves when a CMake file changed.
#
#   PELORIN_BUILD_QUIET=1   one progress line instead of the compiler's lines
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
if [ ! -f build/CMakeCache.txt ]; then
    echo "build: configuring build/"
    launcher=""
    # ccache keeps compiled objects across clean builds and checkouts.
    if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"; fi
    # Line tables only (-g1): full debug information costs a third more compile
    # time, which CI pays on every run.
    # shellcheck disable=SC2086
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        >build.configure.log 2>&1 || { cat build.configure.log >&2; exit 1; }
    mv build.configure.log build/configure.log
fi
# Objects are shared between checkouts of the same sources.
CCACHE_BASEDIR=$(pwd)
CCACHE_NOHASHDIR=1
export CCACHE_BASEDIR CCACHE_NOHASHDIR
if [ "${PELORIN_BUILD_QUIET:-0}" = 1 ]; then
    # Ninja's status line names the step and the count; only that is shown,
    # overwritten in place, and the full log is kept for a failure.
    NINJA_STATUS="build: [%f/%t] " cmake --build build --parallel "$(nproc)" >build/build.log 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        line=$(grep -o 'build: \[[1-9][0-9]*/[0-9]*\]' build/build.log 2>/dev/null | tail -n 1)
        [ -n "$line" ] && printf '\r%s compiling' "$line"
        sleep 1
    done
    if wait "$pid"; then
        printf '\rbuild: up to date%20s\n' ""
    else
        printf '\n'; tail -n 40 build/build.log >&2
        echo "build: failed; the whole log is build/build.log" >&2
        exit 1
    fi
else
    cmake --build build --parallel "$(nproc)"
fi
