#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Configuring from a Pi's sysroot links the Pi's own wiringPi or stops with
# the reason; it never falls back to the stand-in, and it builds optimised.
# Usage: sysroot_configure_check.sh CMAKE SOURCE_DIR SCRATCH_DIR
set -u
cmake=$1
source=$2
scratch=$3
failed=0
rm -rf "$scratch"

# A sysroot of each kind: nothing of wiringPi; headers and wiringPi's install
# link to an absolute path, as a plain copy of a Pi keeps it; the library.
make_root() {
    root=$scratch/$1/root
    mkdir -p "$root/usr/include" "$root/usr/lib"
    [ "$1" = none ] && return
    touch "$root/usr/include/wiringPi.h" "$root/usr/include/wiringPiSPI.h"
    if [ "$1" = link ]; then
        ln -s /usr/lib/libwiringPi.so.3.14 "$root/usr/lib/libwiringPi.so"
    else
        touch "$root/usr/lib/libwiringPi.so"
    fi
}

# sysroot kind, configure status (0 or fail), what its output must say
while IFS='|' read -r kind want says; do
    make_root "$kind"
    root=$scratch/$kind/root
    says=$(printf '%s' "$says" | sed "s|ROOT|$root|g")
    # The compilers are the host's; only the decision is under test.
    out=$("$cmake" -S "$source" -B "$scratch/$kind/build" -DCMAKE_SYSROOT="$root" \
        -DCMAKE_C_COMPILER_WORKS=1 -DCMAKE_CXX_COMPILER_WORKS=1 -DBUILD_TESTING=OFF 2>&1)
    status=$?
    flat=$(printf '%s' "$out" | tr -s ' \n' '  ')
    [ "$want" = 0 ] && [ $status -ne 0 ] && { echo "$kind: configure failed: $out" >&2; failed=1; }
    [ "$want" = fail ] && [ $status -eq 0 ] && { echo "$kind: configure did not stop" >&2; failed=1; }
    case $flat in
    *"$says"*) ;;
    *) echo "$kind: configure does not say: $says; it said: $out" >&2; failed=1 ;;
    esac
    case $flat in
    *"the host stand-in"*) echo "$kind: the stand-in was chosen for a Pi sysroot" >&2; failed=1 ;;
    esac
    grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$scratch/$kind/build/CMakeCache.txt" ||
        { echo "$kind: no Release build type by default" >&2; failed=1; }
done <<'ROWS'
none|fail|no libwiringPi.so in ROOT/usr/local or ROOT/usr
link|fail|ROOT/usr/lib/libwiringPi.so is a link to /usr/lib/libwiringPi.so.3.14, which is not there
real|0|wiringPi: the real library, ROOT/usr/lib/libwiringPi.so
ROWS
[ $failed -eq 0 ] && rm -rf "$scratch"
exit $failed
