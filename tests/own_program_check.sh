#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# A user's own program built against the stand-in the two ways the guide
# shows, pkg-config and CMake's find_package, then run from where it was
# built with no LD_LIBRARY_PATH, on the virtual clock.
# usage: own_program_check.sh CC PKG_CONFIG CMAKE BUILD_DIR EXAMPLE_C WORK_DIR
set -eu
cc=$1 pkg_config=$2 cmake=$3 build=$4 example=$5 work=$6
rm -rf "$work"
mkdir -p "$work/state" "$work/project"
expected="blink 1: on at 0 ms"

check_run() {
    out=$(env -u LD_LIBRARY_PATH WPISIM_STATE_DIR="$work/state" WPISIM_TIME=virtual "$1") || {
        echo "own_program_check: $1: exited with status $?" >&2
        exit 1
    }
    first=$(printf '%s\n' "$out" | head -n 1)
    if [ "$first" != "$expected" ]; then
        echo "own_program_check: $1: printed \"$first\", not \"$expected\"" >&2
        exit 1
    fi
}

# shellcheck disable=SC2046 # pkg-config's words are meant to split
"$cc" -o "$work/blink_pc" "$example" $(PKG_CONFIG_PATH="$build/lib/pkgconfig" "$pkg_config" --cflags --libs wiringPi)
check_run "$work/blink_pc"

cp "$example" "$work/project/blink.c"
cat > "$work/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(blink C)
find_package(wiringPi CONFIG REQUIRED)
add_executable(blink blink.c)
target_link_libraries(blink PRIVATE wiringPi)
CMAKE
"$cmake" -S "$work/project" -B "$work/project/build" -DwiringPi_DIR="$build" \
    -DCMAKE_C_COMPILER="$cc" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }
"$cmake" --build "$work/project/build" >> "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }
check_run "$work/project/build/blink"
echo "own_program_check: both builds run"
