#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Each generated man page renders without warnings, carries the build's
# version and a date, has the sections a user looks for, and states, word for
# word, the texts the program really prints. Usage: man_pages_check.sh MANDIR VERSION
set -u
dir=$1
version=$2
failed=0

fail() {
    echo "$*" >&2
    failed=1
}

render() {
    # Wide and squeezed, so no line break or justification splits a text.
    MANWIDTH=250 man -l "$dir/$1.1" 2>/dev/null | tr -s ' '
}

check() {
    page=$1
    shift
    warnings=$(groff -t -man -Tutf8 -ww -z "$dir/$page.1" 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
    ! grep -n '@[A-Z_]*@' "$dir/$page.1" >&2 || fail "$page.1: a placeholder was left unfilled"
    grep -Eq "^\.TH [A-Z]+ 1 \"[0-9]{4}-[0-9]{2}-[0-9]{2}\" \"parley $version\"" "$dir/$page.1" ||
        fail "$page.1: no .TH line with a date and version $version"
    text=$(render "$page")
    [ -n "$text" ] || fail "$page.1: man -l rendered nothing"
    for want in ENVIRONMENT "WPISIM_* variables" AUTHOR "REPORTING BUGS" COPYRIGHT \
        "GPL-3.0-or-later" "$@"; do
        printf '%s\n' "$text" | grep -qF -- "$want" || fail "$page.1 does not say: $want"
    done
}

check parley "out0 -> a/b ?" "out1 -> c/d ?" " arduino dit :XY" \
    "parley: cannot open SPI channel 0: reason" "parley: SPI transfer failed: reason" \
    "parley: cannot write reply line: reason" "parley: cannot write prompt: reason" \
    "parley: cannot read input: reason" "513.2 ms" "5000 Hz" "10 ms" "500 ms" \
    "(0x69)" "dtparam=spi=on" "CE0 GPIO8 (pin 24) to D10" "Typing ac on one line" \
    "Unable to open SPI device /dev/spidev0.0: No such file or directory"
check allumer "allumer: cannot set up GPIO access: reason" "drive it high" "GPIO 17, header pin 11" \
    "eteindre(1), parley(1)"
check eteindre "eteindre: cannot set up GPIO access: reason" "drive it low" "GPIO 17, header pin 11" \
    "allumer(1), parley(1)"
exit $failed
