# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# Sourced by the scripts that run the PC build: installs what is missing,
# then configures and builds the host preset quietly, from the tree's root.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/install-packages
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null
