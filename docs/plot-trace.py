#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
"""Draws one exchange of a WPISIM_TRACE file as a logic analyzer shows it.

    docs/plot-trace.py TRACE.vcd N OUT.png   # N: the exchange, from 1

Draws an SVG and turns it into the PNG with rsvg-convert
(Debian package librsvg2-bin). Uses nothing but Python's standard library.
"""

import subprocess
import sys
import tempfile

SIGNALS = ["CE0", "SCLK", "MOSI", "MISO", "D5", "D6"]


def read_vcd(path):
    """Returns the time unit in ns and, per signal name, [(time, value)]."""
    ids, changes, unit, now = {}, {}, 1, 0
    with open(path, encoding="ascii") as vcd:
        words = vcd.read().split()
    i = 0
    while i < len(words):
        w = words[i]
        if w == "$timescale":
            number, name = words[i + 1], words[i + 2]
            unit = int(number) * {"ns": 1, "us": 1000, "ms": 1000000}[name]
            i += 3
        elif w == "$var":
            ids[words[i + 3]] = words[i + 4]
            changes[words[i + 4]] = []
            i += 5
        elif w.startswith("#"):
            now = int(w[1:])
        elif w[0] in "01" and w[1:] in ids:
            changes[ids[w[1:]]].append((now, int(w[0])))
        i += 1
    return unit, changes


def level_at(changes, t):
    value = 0
    for when, v in changes:
        if when > t:
            break
        value = v
    return value


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    path, wanted, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    unit, changes = read_vcd(path)
    ce0 = changes["CE0"]
    falls = [t for t, v in ce0 if v == 0]
    rises = [t for t, v in ce0 if v == 1]
    start = falls[wanted - 1]
    end = min(t for t in rises if t > start)
    margin = (end - start) // 12
    t0, t1 = start - margin, end + margin

    # Bytes as a decoder sees them: sampled on SCLK's rising edges.
    edges = [t for t, v in changes["SCLK"] if v == 1 and start < t < end]
    decoded = {}
    for line in ("MOSI", "MISO"):
        decoded[line] = []
        for b in range(len(edges) // 8):
            bits = [level_at(changes[line], t) for t in edges[8 * b: 8 * b + 8]]
            value = int("".join(map(str, bits)), 2)
            decoded[line].append((edges[8 * b], edges[8 * b + 7], value))

    width, left, row, high = 1000, 70, 56, 26
    height = row * len(SIGNALS) + 50

    def x(t):
        return left + (t - t0) * (width - left - 20) / (t1 - t0)

    svg = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           'font-family="DejaVu Sans Mono, monospace" font-size="14">',
           f'<rect width="{width}" height="{height}" fill="white"/>']
    for n, name in enumerate(SIGNALS):
        base = 30 + n * row + high
        svg.append(f'<text x="8" y="{base - 8}" fill="#222">{name}</text>')
        points, value = [], level_at(changes[name], t0)
        points.append((x(t0), value))
        for t, v in changes[name]:
            if t0 < t < t1 and v != value:
                points.append((x(t), value))
                points.append((x(t), v))
                value = v
        points.append((x(t1), value))
        path_text = " ".join(f"{px:.1f},{base - high * v}" for px, v in points)
        svg.append(f'<polyline points="{path_text}" fill="none" stroke="#1565c0" '
                   'stroke-width="2"/>')
        for a, b, value in decoded.get(name, []):
            shown = chr(value) if 32 <= value < 127 else "."
            svg.append(f'<rect x="{x(a) - 4:.1f}" y="{base - high - 4}" '
                       f'width="{x(b) - x(a) + 8:.1f}" height="{high + 8}" fill="#fbc02d" '
                       'fill-opacity="0.18"/>')
            svg.append(f'<text x="{(x(a) + x(b)) / 2:.1f}" y="{base + 18}" text-anchor="middle" '
                       f'fill="#b26a00">0x{value:02x} \'{shown}\'</text>')
    span_ms = (t1 - t0) * unit / 1e6
    sclk_khz = (len(edges) - 1) / ((edges[-1] - edges[0]) * unit / 1e6)
    svg.append(f'<text x="{left}" y="{height - 10}" fill="#555">exchange {wanted}: '
               f'{span_ms:.2f} ms shown, SCLK {sclk_khz:.2f} kHz, SPI mode 0, '
               'bytes sampled on SCLK rising</text>')
    svg.append("</svg>")
    with tempfile.NamedTemporaryFile("w", suffix=".svg", encoding="ascii") as f:
        f.write("\n".join(svg) + "\n")
        f.flush()
        subprocess.run(["rsvg-convert", "-o", out, f.name], check=True)


if __name__ == "__main__":
    main()
