// Step-by-step transcriptions of the two colour conversions, written out one IEEE
// operation per line with the constants given by their bit patterns. The kernels
// (and any faster variants) are compared against these.
#pragma once

#include <bit>
#include <cstdint>

namespace transcription {

inline double f32(std::uint32_t bits) {
    return double(std::bit_cast<float>(bits));
}
inline double round_to_single(double v) {
    return double(static_cast<float>(v));
}
inline int trunc_to_int(double v) {
    return static_cast<int>(v);
}

struct Codes {
    int y, cb, cr;
};

// 10-bit RGB sample triple to luma code and full-resolution chroma codes.
inline Codes rgb_to_codes(unsigned r, unsigned g, unsigned b) {
    const double s = f32(0x3A802008), wR = f32(0x3E59B3D0), wG = f32(0x3F371759),
                 wB = f32(0x3D93DD98), kB = f32(0x3F09F5F5), kR = f32(0x3F228F71);
    const double R = double(r) * s;
    const double G = double(g) * s;
    const double B = double(b) * s;
    const double gw = G * wG;
    const double bw = B * wB;
    const double partial = gw + bw;
    const double rw = R * wR;
    const double Y = partial + rw;
    double Ys = round_to_single(Y);
    const double bdiff = B - Ys;
    double Cb = round_to_single(bdiff * kB);
    const double rdiff = R - Ys;
    double Cr = rdiff * kR;
    if (Ys < 0)
        Ys = 0;
    else if (Ys > 1)
        Ys = 1;
    if (Cb < -0.5) Cb = -0.5;
    if (Cb > 0.5) Cb = 0.5;
    if (Cr < -0.5) Cr = -0.5;
    if (Cr > 0.5) Cr = 0.5;
    const double yscaled = Ys * 255.0;
    const double crscaled = Cr * -255.0;
    const double cbscaled = Cb * -255.0;
    return Codes{trunc_to_int(yscaled), 128 - trunc_to_int(cbscaled), 128 - trunc_to_int(crscaled)};
}

struct Rgb {
    int r, g, b;
};

inline int clamp_and_truncate(double v) {
    if (!(v >= 0)) v = 0;
    if (v > 255) v = 255;
    return trunc_to_int(v);
}

// 8-bit Y, Cb, Cr to 8-bit R, G, B.
inline Rgb ycbcr_to_rgb(int Y, int Cb, int Cr) {
    const double inv255 = f32(0x3B808081), crGain = f32(0x3FC9930C), cbGain = f32(0x3FED844D),
                 wR = f32(0x3E59B3D0), wB = f32(0x3D93DD98), invG = f32(0x3FB2F88E);
    const double y = double(Y) * inv255;
    const double cr0 = double(Cr - 128);
    const double cr1 = cr0 * inv255;
    const double cr2 = cr1 * crGain;
    const double r = round_to_single(cr2 + y);
    const double cb0 = double(Cb - 128);
    const double cb1 = cb0 * inv255;
    const double cb2 = cb1 * cbGain;
    const double b = round_to_single(cb2 + y);
    const double rw = r * wR;
    const double g0 = y - rw;
    const double bw = b * wB;
    const double g1 = g0 - bw;
    const double g = g1 * invG;
    const double Rp = round_to_single(r * 255.0);
    const double Gp = round_to_single(g * 255.0);
    const double Bp = b * 255.0;
    return Rgb{clamp_and_truncate(Rp), clamp_and_truncate(Gp), clamp_and_truncate(Bp)};
}

}  // namespace transcription
