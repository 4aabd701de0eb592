#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# The bench's package, made and extracted, serves a user's own program from
# where it lies: blink built with its pkg-config file and parley with its
# CMake package, both run with no LD_LIBRARY_PATH on the virtual clock, and
# parley's board is the package's board program on the package's firmware.
# It works outside the build tree, where the stand-in takes the build's files.
# usage: bench_package_check.sh PACKAGE_DIR CC CXX PKG_CONFIG CMAKE SOURCE_DIR \
#        "[CROSS_PROCESSOR]" "[EMULATOR...]"   (both empty on a native build)
set -eu
packages=$1 cc=$2 cxx=$3 pkg_config=$4 cmake=$5 source=$6 processor=$7 emulator=$8
work=$(mktemp -d "${TMPDIR:-/tmp}/bench_package.XXXXXX")
# Removing the state directory ends the board process too.
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/state" "$work/project"
fail() {
    echo "bench_package_check: $*" >&2
    exit 1
}
# Every program built here runs as a user runs it, through the emulator on a cross build.
run() {
    # shellcheck disable=SC2086 # the emulator's words are meant to split
    env -u LD_LIBRARY_PATH WPISIM_STATE_DIR="$work/state" WPISIM_TIME=virtual $emulator "$@"
}

set -- "$packages"/wpisim_*.deb
[ -f "$1" ] || fail "no wpisim package in $packages"
dpkg-deb -x "$1" "$work/root"
root=$(cd "$work/root" && pwd -P)
private=$(dirname "$(find "$root/usr/lib" -name libwiringPi.so)")

# shellcheck disable=SC2046 # pkg-config's words are meant to split
"$cc" -o "$work/blink" "$source/examples/blink.c" \
    $(PKG_CONFIG_LIBDIR="$(dirname "$private")/pkgconfig" "$pkg_config" --cflags --libs wpisim)
out=$(run "$work/blink") || fail "blink exited with status $?"
[ "$(printf '%s\n' "$out" | head -n 1)" = "blink 1: on at 0 ms" ] || fail "blink printed: $out"

cp "$source/parley.cpp" "$work/project/"
cat >"$work/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(own CXX)
find_package(wpisim REQUIRED)
add_executable(parley parley.cpp)
target_link_libraries(parley PRIVATE wpisim::wiringPi)
CMAKE
if ! "$cmake" -S "$work/project" -B "$work/project/build" -DCMAKE_CXX_COMPILER="$cxx" \
    -Dwpisim_DIR="$(dirname "$private")/cmake/wpisim" \
    ${processor:+-DCMAKE_SYSTEM_NAME=Linux "-DCMAKE_SYSTEM_PROCESSOR=$processor"} >"$work/cmake.log" 2>&1 ||
    ! "$cmake" --build "$work/project/build" >>"$work/cmake.log" 2>&1; then
    cat "$work/cmake.log" >&2
    fail "the CMake project did not build"
fi
out=$(printf 'ac\n' | run "$work/project/build/parley") || fail "parley exited with status $?: $out"
printf '%s\n' "$out" | grep -qx ' arduino dit :i3' || fail "parley's board did not answer i3: $out"

# The board that answered is the package's own program, on its firmware.
status=$(run "$root/usr/bin/wpisim" status) || fail "wpisim status exited with status $?"
printf '%s\n' "$status" | grep -qF "\"$root/usr/share/wpisim/board.hex\"" ||
    fail "the reference firmware is not the package's: $status"
pid=$(printf '%s\n' "$status" | sed -n 's/^board process: \([0-9]*\),.*/\1/p')
[ -n "$pid" ] || fail "no board process: $status"
tr '\0' '\n' <"/proc/$pid/cmdline" | grep -qxF "$private/wpisim-board" ||
    fail "the board process is not the package's: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
echo "bench_package_check: the extracted package builds and runs both programs"
