#!/bin/sh
# Each man page renders without warnings and states, word for word, the texts
# the program really prints. Usage: man_pages_check.sh MANDIR
set -u
dir=$1
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
    text=$(render "$page")
    [ -n "$text" ] || fail "$page.1: man -l rendered nothing"
    for want in "$@"; do
        printf '%s\n' "$text" | grep -qF -- "$want" || fail "$page.1 does not say: $want"
    done
}

check parley "out0 -> a/b ?" "out1 -> c/d ?" " arduino dit :XY" \
    "parley: cannot open SPI channel 0: reason" "parley: SPI transfer failed: reason" \
    "parley: cannot write reply line: reason" "513.2 ms" "5000 Hz" "10 ms" "500 ms" \
    "(0x69)" "dtparam=spi=on" "CE0 GPIO8 (pin 24) to D10"
check allumer "allumer: cannot set up GPIO access: reason" "drive it high" "GPIO 17, header pin 11"
check eteindre "eteindre: cannot set up GPIO access: reason" "drive it low" "GPIO 17, header pin 11"
exit $failed
