#!/usr/bin/env python3
"""Writes measure_tables.hpp: the constants of the SSIM window and of the
colour difference, each computed with 60 significant digits (mpmath) and
rounded once to the nearest double, so that no machine's exp or pow enters a
result.

    make_tables.py [OUTPUT]        write the header (default: beside this script)
    make_tables.py --check FILE    exit 1 unless FILE is what this script writes
"""
import os
import sys

import mpmath
from mpmath import mpf

mpmath.mp.dps = 60


def double(x):
    """The nearest double (ties to even), as an exact C++ hexadecimal literal."""
    with mpmath.workprec(53):
        rounded = mpmath.mpf(x)
    return float(rounded).hex()


def srgb_linear(v):
    return v / mpf("12.92") if v <= mpf("0.04045") else ((v + mpf("0.055")) / mpf("1.055")) ** mpf("2.4")


def rows(values, per_line=4):
    cells = [double(v) for v in values]
    return "\n".join("    " + ", ".join(cells[i:i + per_line]) + ","
                     for i in range(0, len(cells), per_line))


def header():
    gauss = [mpmath.exp(-mpf(k * k) / mpf("4.5")) for k in range(-5, 6)]
    total = mpmath.fsum(gauss)
    window = [g / total for g in gauss[5:]]  # g(0) .. g(5)

    def xyz(x, y):
        x, y = mpf(x), mpf(y)
        return [x / y, mpf(1), (1 - x - y) / y]

    primaries = [xyz("0.64", "0.33"), xyz("0.30", "0.60"), xyz("0.15", "0.06")]
    white = xyz("0.3127", "0.3290")
    p = mpmath.matrix([[primaries[c][r] for c in range(3)] for r in range(3)])
    s = mpmath.lu_solve(p, mpmath.matrix(white))
    matrix = [p[r, c] * s[c] for r in range(3) for c in range(3)]
    eps = (mpf(6) / 29) ** 3
    out = [
        "// Made by make_tables.py from 60-digit values, each rounded once to the",
        "// nearest double: the constants of the SSIM window and of the colour",
        "// difference. Do not edit; run the script instead.",
        "#pragma once",
        "",
        "// clang-format off",
        "namespace rawframes::measure_tables {",
        "",
        "// The SSIM window's weights g(0) .. g(5): g(k) = exp(-k^2 / 4.5) / the sum of",
        "// exp(-j^2 / 4.5) over j = -5 .. 5 (g(-k) = g(k)).",
        "inline constexpr double kSsimWindow[6] = {",
        rows(window, 3),
        "};",
        "",
        "// Linear light of each 10-bit and 8-bit code v / peak by the sRGB curve.",
        "inline constexpr double kLinear10[1024] = {",
        rows([srgb_linear(mpf(n) / 1023) for n in range(1024)]),
        "};",
        "inline constexpr double kLinear8[256] = {",
        rows([srgb_linear(mpf(n) / 255) for n in range(256)]),
        "};",
        "",
        "// Linear R, G, B to XYZ (rows X, Y, Z), from the BT.709 primaries and the D65",
        "// white, whose Y is 1; and that white's X and Z.",
        "inline constexpr double kRgbToXyz[9] = {",
        rows(matrix, 3),
        "};",
        "inline constexpr double kWhiteX = %s;" % double(white[0]),
        "inline constexpr double kWhiteZ = %s;" % double(white[2]),
        "",
        "inline constexpr double kInverseWhiteX = %s;" % double(1 / white[0]),
        "inline constexpr double kInverseWhiteZ = %s;" % double(1 / white[2]),
        "",
        "// CIELAB's f(t): the cube root above (6/29)^3, t / (3 (6/29)^2) + 4/29 below.",
        "inline constexpr double kLabEpsilon = %s;" % double(eps),
        "inline constexpr double kLabSlope = %s;" % double(1 / (3 * (mpf(6) / 29) ** 2)),
        "inline constexpr double kLabOffset = %s;" % double(mpf(4) / 29),
        "",
        "// Cosines and sines of the angles in CIEDE2000's hue weight T.",
    ] + ["inline constexpr double kCos%d = %s, kSin%d = %s;" % (
        a, double(mpmath.cos(mpmath.radians(a))), a, double(mpmath.sin(mpmath.radians(a))))
        for a in (6, 30, 63)] + [
        "",
        "}  // namespace rawframes::measure_tables",
        "// clang-format on",
        "",
    ]
    return "\n".join(out)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2]) as f:
            if f.read() != header():
                print(f"{argv[2]} is not what {argv[0]} writes: run it again")
                return 1
        print(f"{argv[2]} is what {argv[0]} writes")
        return 0
    path = argv[1] if len(argv) == 2 else os.path.join(here, "measure_tables.hpp")
    with open(path, "w") as f:
        f.write(header())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
