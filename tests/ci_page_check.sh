#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Runs docs/ci.md as a user's CI job would: the page's files written into a
# fresh project with the example they name, then the job's commands, in
# order. With --install the package is installed as the page says (apt-get,
# as root); without, it is unpacked into a folder of its own and the page's
# apt-get line only checks that the other packages it names are there.
# usage: ci_page_check.sh PAGE EXAMPLES_DIR DEB_OR_ITS_FOLDER WORK_DIR [--install]
set -eu
page=$1 examples=$2 deb=$3 work=$4 install=${5:-}
fail() { echo "ci_page_check: $*" >&2; exit 1; }
if [ -d "$deb" ]; then
    set -- "$deb"/wpisim_*.deb
    deb=$1
fi
[ -f "$deb" ] || fail "no package $deb"
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
rm -rf "$work"
mkdir -p "$work/project/sketch"
# The commands run in the project: every path here is whole.
work=$(cd "$work" && pwd)
page=$(cd "$(dirname "$page")" && pwd)/$(basename "$page")
examples=$(cd "$examples" && pwd)
project=$work/project
cp "$examples/serial_upper.c" "$project/prog.c"
cp "$examples/sketches/serial_upper/serial_upper.ino" "$project/sketch/sketch.ino"
cp "$deb" "$project/"
arch=$(dpkg-deb -f "$deb" Architecture)

# The blocks after <!-- file: NAME -->, <!-- commands --> and <!-- workflow -->.
block() {
    awk -v mark="$1" '
        index($0, mark) == 1 { armed = 1; next }
        armed && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' "$page"
}
for file in sketch/Makefile wpisim.toml check.toml; do
    block "<!-- file: $file -->" > "$project/$file"
    [ -s "$project/$file" ] || fail "the page has no $file"
done
block "<!-- commands -->" | sed "s/_amd64\.deb/_${arch}.deb/" > "$work/commands"
[ -s "$work/commands" ] || fail "the page has no commands"
# The workflow runs the same commands.
block "<!-- workflow -->" > "$work/workflow"
while IFS= read -r command; do
    grep -qxF "      - run: $command" "$work/workflow" || fail "the workflow does not run: $command"
done < "$work/commands"

if [ "$install" != --install ]; then
    dpkg-deb -x "$deb" "$work/root"
    PATH=$work/root/usr/bin:$PATH
    pc=$(find "$work/root" -name wpisim.pc)
    [ -n "$pc" ] || fail "the package has no wpisim.pc"
    PKG_CONFIG_PATH=$(dirname "$pc")
    export PATH PKG_CONFIG_PATH
fi
# A package this check installs goes again afterwards; one that was there stays.
had=$(dpkg-query -W -f='${db:Status-Abbrev}' wpisim 2>/dev/null || true)
cd "$project"
while IFS= read -r command; do
    case $command in
    apt-get\ install*)
        if [ "$install" = --install ] && [ "$(id -u)" -ne 0 ]; then
            command="sudo DEBIAN_FRONTEND=noninteractive $command"
        elif [ "$install" != --install ]; then
            for package in ${command#apt-get install -y}; do
                case $package in ./*) continue ;; esac
                dpkg -s "$package" >/dev/null 2>&1 || fail "$package, which the page installs, is not installed here"
            done
            continue
        fi
        ;;
    esac
    echo "+ $command" >> "$work/log"
    sh -c "$command" < /dev/null >> "$work/log" 2>&1 || {
        cat "$work/log" >&2
        fail "the page's command failed: $command"
    }
done < "$work/commands"
grep -q '^reply after [0-9]* ms: > HELLO BOARD$' bench-artefacts/output.txt || fail "no reply in the program's output"
grep -q 'failures="0" errors="0"' report.xml || fail "the report has failures: $(cat report.xml)"
if [ "$install" = --install ]; then
    [ "$(command -v wpisim)" = /usr/bin/wpisim ] || fail "wpisim is not the installed one"
    if [ "${had% }" != ii ]; then
        sudo=
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo dpkg --remove wpisim >/dev/null
    fi
fi
echo "ci_page_check: the page's job passes"
