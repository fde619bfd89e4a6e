#include "log10.hpp"

#include <array>
#include <bit>
#include <cmath>

namespace rawframes {

namespace {

using u128 = unsigned __int128;

// A fraction in [0, 1) with 64 * N bits, least significant limb first.
template <int N>
struct Fraction {
    std::array<std::uint64_t, N> w{};

    bool is_zero() const {
        for (std::uint64_t x : w)
            if (x != 0) return false;
        return true;
    }
    // a / b for integers a < b < 2^63, rounded down.
    static Fraction quotient(std::uint64_t a, std::uint64_t b) {
        Fraction f;
        std::uint64_t r = a;
        for (int i = N - 1; i >= 0; --i) {
            for (int bit = 63; bit >= 0; --bit) {
                r <<= 1;
                if (r >= b) {
                    r -= b;
                    f.w[i] |= std::uint64_t{1} << bit;
                }
            }
        }
        return f;
    }
    // The product, rounded down.
    Fraction operator*(const Fraction& o) const {
        std::array<std::uint64_t, 2 * N> p{};
        for (int i = 0; i < N; ++i) {
            std::uint64_t carry = 0;
            for (int j = 0; j < N; ++j) {
                const u128 t = u128{w[i]} * o.w[j] + p[i + j] + carry;
                p[i + j] = static_cast<std::uint64_t>(t);
                carry = static_cast<std::uint64_t>(t >> 64);
            }
            p[i + N] = carry;
        }
        Fraction f;
        for (int i = 0; i < N; ++i) f.w[i] = p[i + N];
        return f;
    }
    // The quotient by a small integer, rounded down.
    Fraction operator/(std::uint64_t d) const {
        Fraction f;
        u128 r = 0;
        for (int i = N - 1; i >= 0; --i) {
            const u128 t = (r << 64) | w[i];
            f.w[i] = static_cast<std::uint64_t>(t / d);
            r = t % d;
        }
        return f;
    }
    // Sum and difference modulo 1, with the carry or borrow out.
    std::uint64_t add(const Fraction& o) {
        std::uint64_t carry = 0;
        for (int i = 0; i < N; ++i) {
            const u128 t = u128{w[i]} + o.w[i] + carry;
            w[i] = static_cast<std::uint64_t>(t);
            carry = static_cast<std::uint64_t>(t >> 64);
        }
        return carry;
    }
    std::uint64_t subtract(const Fraction& o) {
        std::uint64_t borrow = 0;
        for (int i = 0; i < N; ++i) {
            const u128 t = u128{w[i]} - o.w[i] - borrow;
            w[i] = static_cast<std::uint64_t>(t);
            borrow = static_cast<std::uint64_t>(t >> 64) != 0 ? 1 : 0;
        }
        return borrow;
    }
};

// log2(e) / 2 to 512 bits, least significant limb first, rounded down.
constexpr std::uint64_t kHalfLog2E[8] = {
    0xC4BFAF0353DF39B3u, 0xEA90B9E60C4A909Fu, 0x24D92F75C16BE0B3u, 0xDE1C43F755176CD6u,
    0x8B25166CD1A13247u, 0xEB577AA8DD695A58u, 0xBE87FED0691D3E88u, 0xB8AA3B295C17F0BBu,
};
// log10(2) = kLog10Of2 * 2^-65, rounded to nearest.
constexpr std::uint64_t kLog10Of2 = 0x9A209A84FBCFF799u;

template <int N>
Fraction<N> half_log2e() {
    Fraction<N> f;
    for (int i = 0; i < N; ++i) f.w[i] = kHalfLog2E[8 - N + i];
    return f;
}

// Rounds the integer `bits` (most significant limb last) times 2^scale to a
// 64-bit significand, ties to even. When the integer carries an error of up to
// 2^error_bits units, the result is only certain when the integer is not that
// close to a point halfway between two candidates; `certain` tells. Returns
// the significand and sets `exponent`.
template <std::size_t Limbs>
std::uint64_t round_to_64(const std::array<std::uint64_t, Limbs>& bits, int scale, int error_bits,
                          bool& certain, int& exponent) {
    int top = -1;
    for (int i = static_cast<int>(Limbs) - 1; i >= 0 && top < 0; --i)
        if (bits[i] != 0) top = 64 * i + 63 - std::countl_zero(bits[i]);
    const auto bit = [&](int k) { return k < 0 ? 0 : (bits[k / 64] >> (k % 64)) & 1; };
    const int low = top - 63;  // the last bit kept
    std::uint64_t m = 0;
    for (int k = top; k >= low; --k) m = (m << 1) | bit(k);
    exponent = low + scale;
    certain = error_bits < 0;
    if (low <= 0) return m;  // nothing dropped
    // The dropped bits against half a unit, bit low - 1. Within the error of
    // a point halfway the rounding is uncertain: when the dropped bits above
    // the error read 1000... or 0111...
    const bool half = bit(low - 1) != 0;
    bool rest = false;  // any of the bits below half set
    for (int k = low - 2; k >= 0 && !rest; --k) rest = bit(k) != 0;
    certain = error_bits < 0;
    for (int k = low - 2; k > error_bits && !certain; --k) certain = (bit(k) != 0) == half;
    const bool up = half && (rest || (m & 1) != 0);
    if (up && ++m == 0) {
        m = std::uint64_t{1} << 63;
        ++exponent;
    }
    return m;
}

// L for q = m * 2^e computed with N-limb fractions; `certain` is false when
// the rounding cannot be decided at this precision.
template <int N>
Extended log10_at(std::uint64_t mant, int e, bool& certain) {
    // q = (mant / 2^56) * 2^e, mant in [2^56 / sqrt(2), 2^56 * sqrt(2)).
    constexpr std::uint64_t kOne = std::uint64_t{1} << 56;
    const bool below_one = mant < kOne;
    // log(m) = 2 atanh(s), s = (m - 1) / (m + 1), |s| < 0.172.
    const Fraction<N> s = Fraction<N>::quotient(below_one ? kOne - mant : mant - kOne, mant + kOne);
    Fraction<N> atanh = s;
    const Fraction<N> s2 = s * s;
    Fraction<N> power = s;
    for (std::uint64_t k = 3;; k += 2) {
        power = power * s2;
        if (power.is_zero()) break;
        atanh.add(power / k);
    }
    // t = |log2(m)| = 4 * atanh(s) * (log2(e) / 2) <= 1/2.
    Fraction<N> t = atanh * half_log2e<N>();
    for (int i = N - 1; i >= 0; --i) t.w[i] = (t.w[i] << 2) | (i > 0 ? t.w[i - 1] >> 62 : 0);
    const bool exact = s.is_zero();

    // |log2(q)| = |e +- t| as an integer part and a fraction.
    Extended r;
    std::uint64_t whole = static_cast<std::uint64_t>(e < 0 ? -static_cast<std::int64_t>(e) : e);
    Fraction<N> frac = t;
    if (e == 0) {
        r.negative = below_one;
    } else {
        r.negative = e < 0;
        if (!exact && (e < 0) != below_one) {
            // |e| - t = (|e| - 1) + (1 - t)
            Fraction<N> one_minus;
            one_minus.subtract(t);
            frac = one_minus;
            --whole;
        }
    }
    // kLog10Of2 * (whole * 2^64N + frac), exactly, in N + 2 limbs.
    std::array<std::uint64_t, N + 2> product{};
    std::uint64_t carry = 0;
    for (int i = 0; i < N; ++i) {
        const u128 x = u128{frac.w[i]} * kLog10Of2 + carry;
        product[i] = static_cast<std::uint64_t>(x);
        carry = static_cast<std::uint64_t>(x >> 64);
    }
    const u128 x = u128{whole} * kLog10Of2 + carry;
    product[N] = static_cast<std::uint64_t>(x);
    product[N + 1] = static_cast<std::uint64_t>(x >> 64);
    // The fraction is off by less than 2^13 of its last unit (truncated
    // products and quotients in the series, the constant, the shift by 2), so
    // the product by kLog10Of2 < 2^64 is off by less than 2^77.
    r.significand = round_to_64(product, -64 * N - 65, exact ? -1 : 77, certain, r.exponent);
    return r;
}

// Rounds m * 2^e (m < 2^68) to `bits` significant bits, ties to even.
std::uint64_t round_bits(u128 m, int& e, int bits) {
    const int width = 128 - (static_cast<std::uint64_t>(m >> 64) != 0
                                 ? std::countl_zero(static_cast<std::uint64_t>(m >> 64))
                                 : 64 + std::countl_zero(static_cast<std::uint64_t>(m)));
    if (width <= bits) return static_cast<std::uint64_t>(m);
    const int drop = width - bits;
    const u128 kept = m >> drop, rest = m & ((u128{1} << drop) - 1), half = u128{1} << (drop - 1);
    u128 r = kept + ((rest > half || (rest == half && (kept & 1) != 0)) ? 1 : 0);
    e += drop;
    if (r >> bits) {
        r >>= 1;
        ++e;
    }
    return static_cast<std::uint64_t>(r);
}

}  // namespace

Extended log10_extended(double q) {
    int e = 0;
    const double f = std::frexp(q, &e);  // q = f * 2^e, f in [1/2, 1)
    // q = m * 2^e with m = mant / 2^56 in [1 / sqrt(2), sqrt(2)), mant an
    // integer: f * 2^56 is one, as f has at most 53 significant bits.
    std::uint64_t mant = static_cast<std::uint64_t>(std::ldexp(f, 56));
    if (u128{mant} * mant < u128{1} << 111) {  // f < 1 / sqrt(2)
        mant <<= 1;
        --e;
    }
    bool certain = false;
    Extended r = log10_at<4>(mant, e, certain);
    if (!certain) r = log10_at<8>(mant, e, certain);
    return r;
}

double ten_log10(double q) {
    const Extended l = log10_extended(q);
    if (l.significand == 0) return 0.0;
    int e = l.exponent;
    std::uint64_t p = round_bits(u128{l.significand} * 10, e, 64);
    int e53 = e;
    const std::uint64_t d = round_bits(p, e53, 53);
    const double v = std::ldexp(static_cast<double>(d), e53);
    return l.negative ? -v : v;
}

}  // namespace rawframes
