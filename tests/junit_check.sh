#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# wpisim run's JUnit report, for a run that fails on text with markup and a
# control byte in it, is XML that Python's own parser reads, with the
# failure where CI systems look for it.
# usage: junit_check.sh WPISIM PROGRAM PYTHON3 WORK_DIR
set -eu
wpisim=$1 program=$2 python=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
status=0
"$wpisim" run --expect "$(printf '<a & "b"\001>')" --junit "$work/report.xml" -- "$program" \
    >"$work/out" 2>&1 || status=$?
[ "$status" -eq 1 ] || { cat "$work/out" >&2; echo "junit_check: wpisim run exited $status, not 1" >&2; exit 1; }
"$python" - "$work/report.xml" <<'PY'
import sys
import xml.dom.minidom
suite = xml.dom.minidom.parse(sys.argv[1]).getElementsByTagName("testsuite")[0]
failures = suite.getElementsByTagName("failure")
assert suite.getAttribute("failures") == "1" and len(failures) == 1, suite.toxml()
case = failures[0].parentNode
assert case.getAttribute("name") == r'expect "<a & \x22b\x22\x01>"', case.getAttribute("name")
assert "blink 1: on at 0 ms" in suite.getElementsByTagName("system-out")[0].firstChild.data
PY
echo "junit_check: the report parses"
