"""Checks the report's logarithm against a 400-bit model.

Usage: log10_model.py COUNT [EMULATOR ...] PROGRAM

PROGRAM (log10_model) prints COUNT ratios q with L, the product of log10(2)
rounded to 64 bits and log2(q), rounded to a 64-bit significand, and
10 * log10(q) as the report gives it: L, times 10 rounded to 64 bits, then
to double. Each is recomputed here; every one must agree. Where the program
also gives the x87 logarithm, the ratios where that one is off are counted.
"""
import subprocess
import sys

import mpmath

mpmath.mp.prec = 400
LOG10_2 = mpmath.mpf(0x9A209A84FBCFF799) * mpmath.mpf(2) ** -65


def round_bits(x, bits):
    """x rounded to `bits` significant bits, ties to even."""
    if x == 0:
        return mpmath.mpf(0)
    m, e = mpmath.frexp(abs(x))  # x = m * 2^e, m in [1/2, 1)
    scaled = m * mpmath.mpf(2) ** bits
    k = int(mpmath.floor(scaled))
    rest = scaled - k
    if rest > 0.5 or (rest == 0.5 and k % 2 == 1):
        k += 1
    return mpmath.sign(x) * mpmath.ldexp(k, e - bits)


def main():
    count = sys.argv[1]
    out = subprocess.run(sys.argv[2:] + [count], check=True, capture_output=True, text=True).stdout
    checked = wrong = x87_off = 0
    for line in out.splitlines():
        q_hex, l_text, exponent, result_hex, x87 = line.split()
        q = mpmath.mpf(float.fromhex(q_hex))
        model = round_bits(LOG10_2 * mpmath.log(q, 2), 64)
        got = mpmath.ldexp(int(l_text[1:], 16), int(exponent)) * (-1 if l_text[0] == "-" else 1)
        result = float(round_bits(round_bits(10 * model, 64), 53))
        checked += 1
        if got != model or result != float.fromhex(result_hex):
            wrong += 1
            if wrong <= 10:
                print("wrong:", line, "model:", mpmath.nstr(model, 30), result.hex())
        if x87 != "-" and x87_value(x87) != model:
            x87_off += 1
    print(f"{checked} ratios checked, {wrong} differ from the model", end="")
    print(f"; the x87 logarithm is off for {x87_off} of them" if x87 != "-" else "")
    sys.exit(1 if wrong or checked != int(count) else 0)


def x87_value(text):
    """A long double printed by %La (0xh.hhhp+e, with a 4-bit leading digit)."""
    sign = -1 if text.startswith("-") else 1
    text = text.lstrip("-+")
    mantissa, exponent = text[2:].split("p")
    digits = mantissa.replace(".", "")
    frac_digits = len(mantissa.split(".")[1]) if "." in mantissa else 0
    return sign * mpmath.ldexp(int(digits, 16), int(exponent) - 4 * frac_digits)


if __name__ == "__main__":
    main()
