#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# scripts/install-packages, run as a user with sudo against fake apt-get,
# dpkg, dpkg-query, sudo and sleep that record their calls, so nothing on
# this machine changes: it retries a failed update, goes on with the lists apt
# has (pinning a suite whose index failed low), installs only what is
# missing, never what would remove a package, keeps debconf quiet under sudo,
# and never writes to standard output, which is the demo's.
# Usage: install_packages_check.sh INSTALL_PACKAGES SCRATCH_DIR
set -euo pipefail
script=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/bin" "$scratch/row"
cp "$script" "$scratch/install-packages"
cat >"$scratch/packages.txt" <<'LIST'
[one]
# a comment
picocom
cmake

[two]
libfoo:armhf
LIST

fake() {
  printf '#!/bin/sh\nrow=%s\nlog=%s\n' "$scratch/row" "$scratch/calls" >"$scratch/bin/$1"
  cat >>"$scratch/bin/$1"
  chmod +x "$scratch/bin/$1"
}
# sudo resets the environment, as Debian's sudoers does, keeping what its
# command line sets; what it runs is marked as run through it.
fake sudo <<'EOF'
exec env -i PATH="$PATH" FAKE_THROUGH_SUDO=1 "$@"
EOF
fake id <<'EOF'
echo 1000
EOF
fake sleep <<'EOF'
echo "sleep $*" >>"$log"
EOF
fake dpkg-query <<'EOF'
for word in $(cat "$row/installed"); do
  [ "$word" != "$3" ] || { echo 'ii '; exit 0; }
done
echo "dpkg-query: no packages found matching $3" >&2
exit 1
EOF
fake dpkg <<'EOF'
case $1 in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) ;;
*) echo "${FAKE_THROUGH_SUDO:+sudo }dpkg $*" >>"$log" ;;
esac
EOF
# Writes the preferences file it is given into its record, since the script
# removes it; each update takes the next outcome of the row, the last repeating.
fake apt-get <<'EOF'
words=
for word; do
  case $word in
  Dir::Etc::Preferences=*) word="Dir::Etc::Preferences=[$(sed '/^$/d' "${word#*=}" | paste -sd, -)]" ;;
  esac
  words="$words $word"
done
[ "${DEBIAN_FRONTEND:-}" = noninteractive ] || words="$words (debconf may ask)"
echo "${FAKE_THROUGH_SUDO:+sudo }apt-get$words" >>"$log"
case " $* " in
*' update '*)
  n=$(($(cat "$row/updates") + 1))
  echo $n >"$row/updates"
  set -- $(cat "$row/update")
  [ $n -le $# ] || n=$#
  eval "outcome=\${$n}"
  echo 'Hit:1 http://deb.debian.org/debian bookworm InRelease'
  case $outcome in
  ok) exit 0 ;;
  lock) echo 'E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)' >&2 ;;
  index)
    echo 'E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (359552 != 360800). Mirror sync in progress?' >&2
    echo 'E: Some index files failed to download. They have been ignored, or old ones used instead.' >&2 ;;
  esac
  exit 100 ;;
*' -s '*)
  case $(cat "$row/dryrun") in
  ok) echo 'Inst picocom (3.1-4 Debian:12.5/stable [amd64])' ;;
  remove) printf '%s\n' 'Remv g++ [4:12.2.0-3]' 'Inst picocom (3.1-4 Debian:12.5/stable [amd64])' ;;
  fail) echo 'E: Unable to locate package picocom' >&2; exit 100 ;;
  esac ;;
*) echo 'Setting up picocom (3.1-4) ...' ;;
esac
EOF

both='picocom libfoo:armhf'
arch='sudo dpkg --add-architecture armhf'
update='sudo apt-get update'
dry="apt-get install -s --no-install-recommends $both"
real="sudo apt-get install -y --no-install-recommends $both"
pin='-o Dir::Etc::Preferences=[Package: *,Pin: release n=bookworm-security,Pin-Priority: 100]'
retries="$update;sleep 5;$update;sleep 15;$update"
failed=0
# row: installed, the updates' outcomes, the dry run's, the status, what
# stderr must say (nothing at all where empty), the calls made in order
while IFS='|' read -r name installed updates dryrun want says calls; do
  echo "$installed" >"$scratch/row/installed"
  echo "$updates" >"$scratch/row/update"
  echo "$dryrun" >"$scratch/row/dryrun"
  echo 0 >"$scratch/row/updates"
  rm -rf "$scratch/calls" "$scratch/tmp"
  mkdir "$scratch/tmp"
  touch "$scratch/calls"
  status=0
  PATH="$scratch/bin:$PATH" TMPDIR="$scratch/tmp" "$scratch/install-packages" \
    >"$scratch/out" 2>"$scratch/err" </dev/null || status=$?
  got=$(paste -sd';' "$scratch/calls")
  err=$(tr '\n' ' ' <"$scratch/err")
  problems=()
  [ "$status" = "$want" ] || problems+=("exit status $status, not $want")
  [ ! -s "$scratch/out" ] || problems+=("wrote to standard output: $(cat "$scratch/out")")
  [ "$got" = "$calls" ] || problems+=("called: $got" "not:    $calls")
  if [ -n "$says" ]; then
    [[ $err == *"$says"* ]] || problems+=("stderr does not say: $says")
  else
    [ -z "$err" ] || problems+=("stderr is not empty")
  fi
  [ -z "$(ls -A "$scratch/tmp")" ] || problems+=("left temporary files: $(ls "$scratch/tmp")")
  if [ ${#problems[@]} -gt 0 ]; then
    failed=1
    echo "install_packages_check: $name:" >&2
    printf '  %s\n' "${problems[@]}" >&2
    sed 's/^/  stderr: /' "$scratch/err" >&2
  fi
done <<ROWS
the update works|cmake|ok|ok|0|Installing: picocom libfoo:armhf|$arch;$update;$dry;$real
the update fails twice|cmake|lock lock ok|ok|0|Installing: picocom libfoo:armhf|$arch;$retries;$dry;$real
one index always fails|cmake|index|ok|0|apt-get update failed 3 times (index: http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz); going on with the lists apt has|$arch;$retries;apt-get $pin install -s --no-install-recommends $both;sudo apt-get $pin install -y --no-install-recommends $both
the update and the dry run fail|cmake|lock|fail|1|install-packages: cannot install picocom libfoo:armhf from the lists apt has|$arch;$retries;$dry
the dry run would remove a package|cmake|ok|remove|1|installing picocom libfoo:armhf would remove: g++ [4:12.2.0-3]|$arch;$update;$dry
nothing is missing|cmake picocom libfoo:armhf|ok|ok|0||
ROWS
[ $failed -eq 0 ] && rm -rf "$scratch"
exit $failed
