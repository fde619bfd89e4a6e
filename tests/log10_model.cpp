// Prints ratios of the kinds frame-snr meets and what the report's logarithm
// makes of them, one per line, for log10_model.py to check against a
// high-precision model:
//   q (hex float)  L (sign, 64-bit significand in hex, exponent)  10 log10 q  x87-L
// where x87-L is the x87 fyl2x logarithm on x86 (the earlier definition), "-"
// elsewhere.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "log10.hpp"

namespace {

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
long double x87_log10(double q) {
    long double result, log10_2;
    const long double x = q;
    __asm__("fldlg2" : "=t"(log10_2));
    __asm__("fyl2x" : "=t"(result) : "0"(x), "u"(log10_2) : "st(1)");
    return result;
}
#endif

double ratio(std::mt19937_64& random, long i) {
    switch (i % 4) {
        case 0: {  // W * H * peak^2 / sse, as in the reports
            const double peaks[] = {1046529.0, 4190209.0, 65025.0};
            const double pixels = double(random() % 8192 + 1) * double(random() % 4320 + 1);
            const double sse = double(random() % (std::uint64_t{1} << (random() % 60 + 1)) + 1);
            return pixels * peaks[random() % 3] / sse;
        }
        case 1:  // any significand over a wide range of exponents
            return std::ldexp(1.0 + double(random() >> 11) * 0x1p-53, int(random() % 400) - 200);
        case 2: {  // close to 1, where the logarithm is small
            const double q = 1.0 + double(std::int64_t(random() % 2000001) - 1000000) * 0x1p-52;
            return q == 1.0 ? 0.5 : q;
        }
        default:  // powers of two, whose logarithms are exact before rounding
            return std::ldexp(1.0, int(random() % 2000) - 1000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000;
    std::mt19937_64 random(20261209);
    for (long i = 0; i < n; ++i) {
        const double q = ratio(random, i);
        const rawframes::Extended l = rawframes::log10_extended(q);
        std::printf("%a %c%016llx %d %a ", q, l.negative ? '-' : '+',
                    static_cast<unsigned long long>(l.significand), l.exponent,
                    rawframes::ten_log10(q));
#ifdef __x86_64__
        std::printf("%La\n", x87_log10(q));
#else
        std::printf("-\n");
#endif
    }
}
