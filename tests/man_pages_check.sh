#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Each generated man page renders without warnings, carries the build's
# version and a date, has the sections a user looks for, and states, word for
# word, the texts the program really prints. wpisim(7), on builds that make
# it, has the stand-in's settings, files, log and status, and the programs'
# pages point to it; elsewhere nothing names it.
# Usage: man_pages_check.sh MAN GROFF MANDIR VERSION yes|no
set -u
man=$1
groff=$2
dir=$3
version=$4
standin_page=$5
failed=0

fail() {
    echo "$*" >&2
    failed=1
}

render() {
    # Wide and squeezed, so no line break or justification splits a text.
    MANWIDTH=250 "$man" -l "$dir/$1" 2>/dev/null | tr -s ' '
}

# check PAGE.SECTION TEXT...
check() {
    page=$1
    shift
    warnings=$("$groff" -t -man -Tutf8 -ww -z "$dir/$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
    ! grep -n '@[A-Z_]*@' "$dir/$page" >&2 || fail "$page: a placeholder was left unfilled"
    grep -Eq "^\.TH [A-Z]+ ${page##*.} \"[0-9]{4}-[0-9]{2}-[0-9]{2}\" \"parley $version\"" "$dir/$page" ||
        fail "$page: no .TH line with a date and version $version"
    text=$(render "$page")
    [ -n "$text" ] || fail "$page: man -l rendered nothing"
    for want in ENVIRONMENT "WPISIM_* variables" AUTHOR "REPORTING BUGS" COPYRIGHT \
        "GPL-3.0-or-later" "$@"; do
        printf '%s\n' "$text" | grep -qF -- "$want" || fail "$page does not say: $want"
    done
}

if [ "$standin_page" = yes ]; then
    see_wpisim=", wpisim(7)"
    check wpisim.7 "WPISIM_CORE=PATTERN|seed:N" "Needs WPISIM_PI." "WPISIM_TRACE=FILE" \
        "pinN.level" "board.sock" "board.lock" "spi-transfer" "status 2" \
        "parley(1), allumer(1), eteindre(1)" "board.tty" "serial.log" "flash"
    check wpisim.1 "wpisim flash [--board kind] [--to board] file" "board-NAME.tty" "-U flash:w:file[:i|:e|:a]" \
        "uno (the default), nano, pro-mini (16 MHz), pro-mini-8mhz or mega" "wpisim(7)" \
        "wpisim check [file]" "wpisim gdb [board] [--port port] [--halt]" "wpisim wire [gpio board:pin [--divider] | --remove gpio]" \
        "wpisim.toml:2: unknown key \"modle\" in [pi] (model, time, trace, trace_pins, i2c_hz)" \
        "wpisim.toml" "wpisim run [options] [--] program [argument...]" \
        "wpisim: run: failed: step 2 (check.toml:3): pin GPIO 17 high: GPIO 17 is low"
else
    see_wpisim=""
    [ ! -e "$dir/wpisim.7" ] || fail "wpisim.7 was made on a build that should not have it"
    [ ! -e "$dir/wpisim.1" ] || fail "wpisim.1 was made on a build that should not have it"
    ! grep -l 'wpisim (7)' "$dir"/*.1 >&2 || fail "a page names wpisim(7), which this build lacks"
fi

check parley.1 "out0 -> a/b ?" "out1 -> c/d ?" " arduino dit :XY" \
    "parley: cannot open SPI channel 0: reason" "parley: SPI transfer failed: reason" \
    "parley: cannot write reply line: reason" "parley: cannot write prompt: reason" \
    "parley: cannot read input: reason" "513.2 ms" "5000 Hz" "10 ms" "500 ms" \
    "(0x69)" "dtparam=spi=on" "CE0 GPIO8 (pin 24) to D10" "Typing ac on one line" \
    "Unable to open SPI device /dev/spidev0.0: No such file or directory" \
    "allumer(1), eteindre(1)$see_wpisim"
check allumer.1 "allumer: cannot set up GPIO access: reason" "drive it high" "GPIO 17, header pin 11" \
    "eteindre(1), parley(1)$see_wpisim"
check eteindre.1 "eteindre: cannot set up GPIO access: reason" "drive it low" "GPIO 17, header pin 11" \
    "allumer(1), parley(1)$see_wpisim"
exit $failed
