#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Every program the suite runs comes from a Debian package that the package
# list names, or that every Debian system has (Essential), so a fresh machine
# gets it from scripts/install-packages. The package said for each program is
# checked against dpkg's own records: dpkg must name it, or a package it
# depends on, as the owner of the program found or of a link on the way to
# it, so the record cannot name a wrong package. The programs are those in
# TOOLS ("VAR program package path" a line, from CMake's suite_tool(); path
# empty when not found) and those named by '# needs: PROGRAM PACKAGE' lines in
# the scripts given, found on PATH.
# Usage: packages_check.sh PACKAGES_TXT TOOLS [SCRIPT...]
set -euo pipefail
list=$1
tools=$2
shift 2
failed=0
fail() {
  echo "packages_check: $*" >&2
  failed=1
}
[ -r "$list" ] || { echo "packages_check: cannot read the package list $list" >&2; exit 2; }
[ -r "$tools" ] || { echo "packages_check: cannot read the build's tools $tools" >&2; exit 2; }

# As scripts/install-packages reads it, without the architecture.
listed=$(sed -e 's/#.*//' -e '/^\[/d' -e 's/[[:space:]]//g' -e '/^$/d' -e 's/:.*//' "$list")

# The packages dpkg says own a path; with merged /usr it knows /bin/sh and
# /usr/bin/cmake, whichever the package ships, so both spellings are asked.
owners() {
  local path=$1 other
  case $path in
  /usr/bin/* | /usr/sbin/* | /usr/lib/*) other=${path#/usr} ;;
  /bin/* | /sbin/* | /lib/*) other=/usr$path ;;
  *) other=$path ;;
  esac
  dpkg-query -S "$path" "$other" 2>/dev/null | sed -n -e '/^diversion by /d' -e 's/: \/.*//p' |
    tr ',' '\n' | sed -e 's/^ *//' -e 's/:.*//' || true
}

# The owners of a program and of each link it goes through.
program_owners() {
  local path=$1 hops=0 target
  while :; do
    owners "$path"
    if [ ! -L "$path" ] || [ $hops -ge 10 ]; then
      break
    fi
    target=$(readlink "$path")
    [[ $target == /* ]] || target=$(dirname "$path")/$target
    path=$(realpath -s "$target")
    hops=$((hops + 1))
  done
}

# A package and what it depends on outright (no alternatives), each of which
# installing it brings.
brought_by() {
  echo "$1"
  dpkg-query -W -f='${Depends}, ${Pre-Depends}' "$1" 2>/dev/null | tr ',' '\n' | grep -v '|' |
    sed -e 's/(.*)//' -e 's/:any//' -e 's/[[:space:]]//g' -e '/^$/d' || true
}

# check WHERE PROGRAM PACKAGE PATH
check() {
  local where=$1 program=$2 package=$3 path=$4
  if ! grep -qxF -- "$package" <<<"$listed" &&
    [ "$(dpkg-query -W -f='${Essential}' "$package" 2>/dev/null || true)" != yes ]; then
    fail "$where: $program comes from the package $package, which $list does not list"
  fi
  if [ -z "$path" ] || [ ! -x "$path" ]; then
    fail "$where: $program is not installed (Debian package $package)${path:+: no $path}"
    return
  fi
  local found
  found=$(program_owners "$path" | sort -u)
  if ! grep -qxF -f <(brought_by "$package") <<<"$found"; then
    found=${found//$'\n'/, }
    fail "$where: $program ($path) is from ${found:-no package}, not from $package" \
      "or a package it depends on"
  fi
}

count=0
while read -r var program package path; do
  [ -n "$var" ] || continue
  check "suite_tool($var)" "$program" "$package" "${path:-}"
  count=$((count + 1))
done <"$tools"
for script; do
  while read -r program package extra; do
    if [ -z "$package" ] || [ -n "$extra" ]; then
      fail "$script: '# needs: $program${package:+ $package}${extra:+ $extra}' is not '# needs: PROGRAM PACKAGE'"
      continue
    fi
    check "$script" "$program" "$package" "$(command -v "$program" || true)"
    count=$((count + 1))
  done < <(sed -n 's/^# needs: *//p' "$script")
done
# A build that records nothing has lost its record, not its tools.
[ $count -gt 0 ] || fail "no program to check in $tools or the scripts given"
exit $failed
