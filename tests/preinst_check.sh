#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
#
# The armhf package's preinst refuses an ARMv6 CPU and nothing else, judged
# from /proc/cpuinfo where it names an ARM CPU and from the machine name
# where it does not. Usage: preinst_check.sh PREINST SCRATCH_DIR
set -u
preinst=$1
scratch=$2
failed=0
rm -rf "$scratch"
mkdir -p "$scratch/bin"

# /proc/cpuinfo as each machine shows it (one core kept).
cpuinfo() {
    case $1 in
    arm1176) printf '%s\n' 'processor	: 0' 'model name	: ARMv6-compatible processor rev 7 (v6l)' \
        'CPU implementer	: 0x41' 'CPU architecture: 7' 'CPU variant	: 0x0' 'CPU part	: 0xb76' \
        'CPU revision	: 7' 'Hardware	: BCM2835' ;;
    a53-v7) printf '%s\n' 'processor	: 0' 'model name	: ARMv7 Processor rev 4 (v7l)' \
        'CPU implementer	: 0x41' 'CPU architecture: 7' 'CPU variant	: 0x0' 'CPU part	: 0xd03' \
        'CPU revision	: 4' 'Hardware	: BCM2835' ;;
    a53-v6) printf '%s\n' 'processor	: 0' 'model name	: ARMv6-compatible processor rev 4 (v6l)' \
        'CPU implementer	: 0x41' 'CPU architecture: 7' 'CPU variant	: 0x0' 'CPU part	: 0xd03' \
        'CPU revision	: 4' 'Hardware	: BCM2835' ;;
    a72-v8) printf '%s\n' 'processor	: 0' 'BogoMIPS	: 108.00' \
        'CPU implementer	: 0x41' 'CPU architecture: 8' 'CPU variant	: 0x0' 'CPU part	: 0xd08' \
        'CPU revision	: 3' ;;
    x86) printf '%s\n' 'processor	: 0' 'vendor_id	: GenuineIntel' 'cpu family	: 6' \
        'model name	: Intel(R) Xeon(R) CPU @ 2.80GHz' ;;
    esac
}

# machine: cpuinfo kind (none: unreadable), uname -m, status, what stderr must hold
while IFS='|' read -r machine kind uname want says; do
    cpuinfo "$kind" >"$scratch/cpuinfo"
    [ "$kind" != none ] || rm -f "$scratch/cpuinfo"
    printf '#!/bin/sh\necho %s\n' "$uname" >"$scratch/bin/uname"
    chmod +x "$scratch/bin/uname"
    status=0
    PATH="$scratch/bin:$PATH" PARLEY_PREINST_CPUINFO="$scratch/cpuinfo" \
        sh "$preinst" install >"$scratch/out" 2>&1 || status=$?
    if [ "$status" != "$want" ] || { [ -n "$says" ] && ! grep -qF -- "$says" "$scratch/out"; }; then
        echo "$machine: status $status, not $want, or no '$says' in:" >&2
        cat "$scratch/out" >&2
        failed=1
    fi
done <<'ROWS'
Pi 1 or Zero|arm1176|armv6l|1|parley: cannot install on this ARMv6 Pi
Pi 1 or Zero on a kernel saying ARMv7|arm1176|armv7l|1|parley: cannot install on this ARMv6 Pi
Pi 3 on the ARMv7 kernel|a53-v7|armv7l|0|
Pi 3 on the ARMv6 kernel|a53-v6|armv6l|0|
Pi 4 on a 64-bit kernel|a72-v8|aarch64|0|
qemu-user chroot on a PC|x86|armv7l|0|so the machine name armv7l decides
qemu-user chroot as an ARMv6 machine|x86|armv6l|1|parley: cannot install on this ARMv6 Pi
no /proc/cpuinfo|none|armv7l|0|so the machine name armv7l decides
ROWS
# An upgrade is judged as an install; removal is never refused.
cpuinfo arm1176 >"$scratch/cpuinfo"
PARLEY_PREINST_CPUINFO="$scratch/cpuinfo" sh "$preinst" upgrade 2>/dev/null &&
    { echo "an upgrade on a Pi 1 was let through" >&2; failed=1; }
PARLEY_PREINST_CPUINFO="$scratch/cpuinfo" sh "$preinst" abort-upgrade 2>/dev/null ||
    { echo "abort-upgrade was refused" >&2; failed=1; }
[ $failed -eq 0 ] && rm -rf "$scratch"
exit $failed
