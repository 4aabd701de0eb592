#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Runs one program under valgrind with the input given; fails on any memory
# error or leak. Usage: under_valgrind.sh VALGRIND PROGRAM [INPUT]
set -eu
valgrind=$1
program=$2
input=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export WPISIM_STATE_DIR="$dir/gpio" WPISIM_LOG="$dir/calls.log"
printf '%s' "$input" | "$valgrind" -q --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect,possible "$program" >"$dir/out"
# The run must also have done its work, not just failed early.
case $(basename "$program") in
parley) grep -q ' arduino dit :i' "$dir/out" ;;
*) grep -q '^digital-write ' "$dir/calls.log" ;;
esac
