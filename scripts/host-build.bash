# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Sourced by the scripts that run the PC build. host_build GROUPS [ARG...]
# installs what is missing of those package groups, then configures (with
# the extra cmake arguments) and builds the host preset quietly, from the
# tree's root.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

host_build() {
  local groups=$1
  shift
  # shellcheck disable=SC2086 # one word per group
  scripts/install-packages $groups
  cmake --preset host "$@" >/dev/null
  cmake --build --preset host >/dev/null
}
