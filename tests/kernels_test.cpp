// Every vector variant of every kernel against its plain version, through the
// kernel harness: random inputs of many lengths (vector bodies and tails,
// short rows), every buffer misaligned in several ways with guard bytes after
// it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "ciede2000.hpp"
#include "kernel_harness.hpp"
#include "lanes_scalar.hpp"
#include "rawframes.h"
#include "report.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "ssim.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"
#include "yuv420_to_rgb_kernel.hpp"

using namespace kernel_harness;

TEST(Kernels, EveryVariantMatchesThePlainOneMisalignedAndWithinItsBuffers) {
    const std::size_t offsets[] = {0, 2, 4, 6, 10, 30};
    for (const Kernel& k : kernels()) {
        for (const auto& v : k.variants)
            if (!rawframes::cpu_supports(v.isa))
                std::printf("%s/%s: not supported here, not checked\n", k.name.c_str(),
                            v.name.c_str());
        Source source(static_cast<std::uint32_t>(k.name.size() * 7919));
        for (int round = 0; round < 2000; ++round) {
            // Half the rounds are short rows, half long ones.
            const std::size_t n = 1 + source.below(round % 2 ? 2000 : 80);
            const std::size_t offset = offsets[round % std::size(offsets)];
            const auto inputs = k.make_inputs(source, n);
            const std::string problem = check(k, inputs, n, offset);
            ASSERT_EQ(problem, "") << "round " << round;
        }
    }
}

TEST(Kernels, TheHarnessCatchesAnOverrunAndADifference) {
    // A variant that writes one byte past its buffer, or one wrong byte, is
    // reported.
    Kernel k = kernels().front();
    const auto plain_call = k.call;
    Source source(3);
    const auto inputs = k.make_inputs(source, 17);
    for (const bool overrun : {true, false}) {
        k.variants = {{"plain", rawframes::Isa::kPlain}, {"faulty", rawframes::Isa::kPlain}};
        k.call = [&](std::size_t v, std::vector<Guarded>& args, std::size_t n) {
            plain_call(0, args, n);
            if (v == 1 && overrun) args[0].as<std::uint8_t>()[2 * n] = 0;
            if (v == 1 && !overrun) args[0].as<std::uint8_t>()[0] ^= 1;
        };
        EXPECT_NE(
            check(k, inputs, 17, 2)
                .find(overrun ? "faulty wrote past a buffer" : "faulty differs from the plain"),
            std::string::npos);
    }
}

// The C library on planes with row padding, against the frame functions the
// programs use, at an odd size: the same bytes.
TEST(Library, ConversionsAndMeasuresOnStridedPlanesAreThePrograms) {
    constexpr int kW = 7, kH = 5, kPad = 3;  // samples of padding after each row
    const rawframes::FrameGeometry g{kW, kH};
    const std::size_t n = kW * kH;
    std::mt19937 random(7);
    std::vector<std::uint16_t> frame(3 * n);
    for (auto& s : frame) s = static_cast<std::uint16_t>(random() % 1100);  // a few above 1023
    // The frame's planes laid out with padded rows.
    const auto padded = [&](const auto* planes, std::size_t cw, std::size_t ch, auto sample) {
        std::vector<decltype(sample)> out(3 * (cw + kPad) * ch, sample);
        for (std::size_t p = 0; p < 3; ++p)
            for (std::size_t y = 0; y < ch; ++y)
                std::copy_n(planes + p * cw * ch + y * cw, cw,
                            out.begin() + (p * ch + y) * (cw + kPad));
        return out;
    };
    const auto in_planes = [&](const auto& v, std::size_t cw, std::size_t ch, std::size_t bytes) {
        std::array<rawframes_input_plane, 3> planes;
        for (std::size_t p = 0; p < 3; ++p)
            planes[p] = {v.data() + p * (cw + kPad) * ch,
                         static_cast<std::ptrdiff_t>((cw + kPad) * bytes)};
        return planes;
    };
    const auto out_planes = [&](auto& v, std::size_t cw, std::size_t ch, std::size_t bytes) {
        std::array<rawframes_output_plane, 3> planes;
        for (std::size_t p = 0; p < 3; ++p)
            planes[p] = {v.data() + p * (cw + kPad) * ch,
                         static_cast<std::ptrdiff_t>((cw + kPad) * bytes)};
        return planes;
    };
    const auto src = padded(frame.data(), kW, kH, std::uint16_t{0});
    const auto src_planes = in_planes(src, kW, kH, 2);
    std::uint64_t count = 0;

    // YCoCg-R and back.
    std::vector<std::uint16_t> want = frame, got(src.size(), 0xEEEE);
    const std::uint64_t want_count = rawframes::ycocg_r_frame(want.data(), g);
    ASSERT_EQ(rawframes_rgb10_to_yuv10(src_planes.data(), out_planes(got, kW, kH, 2).data(), kW, kH,
                                       &count),
              RAWFRAMES_OK);
    EXPECT_EQ(got, padded(want.data(), kW, kH, std::uint16_t{0xEEEE}));
    EXPECT_EQ(count, want_count);
    std::vector<std::uint16_t> back = want, got_back(src.size(), 0xEEEE);
    const std::uint64_t want_clamped = rawframes::ycocg_r_inverse_frame(back.data(), g);
    ASSERT_EQ(rawframes_yuv10_to_rgb10(in_planes(got, kW, kH, 2).data(),
                                       out_planes(got_back, kW, kH, 2).data(), kW, kH, &count),
              RAWFRAMES_OK);
    EXPECT_EQ(got_back, padded(back.data(), kW, kH, std::uint16_t{0xEEEE}));
    EXPECT_EQ(count, want_clamped);

    // dovrak, then back to RGB.
    std::vector<std::uint16_t> scratch = frame;
    std::vector<std::uint8_t> yuv(rawframes::frame_bytes(rawframes::kYuv420, g));
    rawframes::rgb10_to_yuv420_frame(scratch.data(), yuv.data(), g);
    const std::size_t cw = g.chroma_width(), ch = g.chroma_height();
    std::vector<std::uint8_t> y(kH * (kW + kPad)), c(2 * ch * (cw + kPad));
    const rawframes_output_plane yuv_out[3] = {
        {y.data(), kW + kPad},
        {c.data(), static_cast<std::ptrdiff_t>(cw + kPad)},
        {c.data() + ch * (cw + kPad), static_cast<std::ptrdiff_t>(cw + kPad)}};
    ASSERT_EQ(rawframes_dovrak(src_planes.data(), yuv_out, kW, kH, nullptr), RAWFRAMES_OK);
    for (std::size_t row = 0; row < kH; ++row)
        EXPECT_TRUE(std::equal(yuv.begin() + row * kW, yuv.begin() + (row + 1) * kW,
                               y.begin() + row * (kW + kPad)))
            << row;
    for (std::size_t p = 0; p < 2; ++p)
        for (std::size_t row = 0; row < ch; ++row)
            EXPECT_TRUE(std::equal(yuv.begin() + n + (p * ch + row) * cw,
                                   yuv.begin() + n + (p * ch + row + 1) * cw,
                                   c.begin() + (p * ch + row) * (cw + kPad)))
                << p << ' ' << row;
    std::vector<std::uint8_t> rgb(3 * n), rgb_got(3 * kH * (kW + kPad));
    rawframes::yuv420_to_rgb_frame(yuv.data(), rgb.data(), g);
    const rawframes_input_plane yuv_in[3] = {
        {y.data(), kW + kPad},
        {c.data(), static_cast<std::ptrdiff_t>(cw + kPad)},
        {c.data() + ch * (cw + kPad), static_cast<std::ptrdiff_t>(cw + kPad)}};
    ASSERT_EQ(rawframes_yuv420_to_rgb(yuv_in, out_planes(rgb_got, kW, kH, 1).data(), kW, kH),
              RAWFRAMES_OK);
    EXPECT_EQ(rgb_got, padded(rgb.data(), kW, kH, std::uint8_t{0}));

    // The squared errors and SNRs of frame-snr's reports.
    const rawframes::ReportLayout layout = rawframes::report_layout(rawframes::kRgb10);
    std::vector<std::uint16_t> other = frame;
    other[3] ^= 5;
    other[2 * n + 1] ^= 9;
    const rawframes::FrameFigures figures =
        rawframes::measure(layout, reinterpret_cast<const std::uint8_t*>(frame.data()),
                           reinterpret_cast<const std::uint8_t*>(other.data()), g);
    const auto other_padded = padded(other.data(), kW, kH, std::uint16_t{0});
    const auto other_planes = in_planes(other_padded, kW, kH, 2);
    for (int p = 0; p < 3; ++p) {
        rawframes_sse sse{};
        ASSERT_EQ(
            rawframes_plane_sse(RAWFRAMES_RGB10, p, src_planes[p], other_planes[p], kW, kH, &sse),
            RAWFRAMES_OK);
        EXPECT_EQ(sse.low, static_cast<std::uint64_t>(figures[p].sse));
        EXPECT_EQ(rawframes_plane_snr(RAWFRAMES_RGB10, p, sse, kW, kH), figures[p].snr) << p;
    }
    EXPECT_EQ(rawframes_dovrak(src_planes.data(), yuv_out, 0, kH, nullptr), RAWFRAMES_INVALID);
    // 16-bit planes at an odd address or with an odd stride are refused.
    auto odd = src_planes, odd_stride = src_planes;
    odd[1].data = static_cast<const std::uint8_t*>(odd[1].data) + 1;
    odd_stride[2].stride += 1;
    rawframes_sse sse{};
    for (const auto& planes : {odd, odd_stride}) {
        EXPECT_EQ(rawframes_dovrak(planes.data(), yuv_out, kW, kH, nullptr), RAWFRAMES_INVALID);
        EXPECT_EQ(rawframes_rgb10_to_yuv10(planes.data(), out_planes(got, kW, kH, 2).data(), kW, kH,
                                           nullptr),
                  RAWFRAMES_INVALID);
        EXPECT_EQ(rawframes_plane_sse(RAWFRAMES_RGB10, 1, planes[1], planes[2], kW, kH, &sse),
                  RAWFRAMES_INVALID);
    }
    auto odd_out = out_planes(got, kW, kH, 2);
    odd_out[0].stride -= 1;
    EXPECT_EQ(rawframes_yuv10_to_rgb10(src_planes.data(), odd_out.data(), kW, kH, nullptr),
              RAWFRAMES_INVALID);
    EXPECT_STREQ(rawframes_version(), "1.0.0");
}

// The measures' calls of the C library on padded planes are the frame
// functions the programs use, to the bit: 180 x 176 10-bit frames (large
// enough for MS-SSIM), the target a slightly altered reference.
TEST(Library, MeasuresOnStridedPlanesAreThePrograms) {
    constexpr int kW = 180, kH = 176, kPad = 5;
    std::mt19937 random(11);
    std::vector<std::int16_t> ref(3 * kW * kH), tgt(ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) {
        ref[i] = static_cast<std::int16_t>((i % kW) * 5 + (i / kW) % 97);
        tgt[i] =
            static_cast<std::int16_t>(std::clamp<int>(ref[i] + int(random() % 9) - 4, 0, 1023));
    }
    const auto padded = [&](const std::vector<std::int16_t>& v, int p) {
        std::vector<std::int16_t> out(kH * (kW + kPad), -7);
        for (int y = 0; y < kH; ++y)
            std::copy_n(v.begin() + (p * kH + y) * kW, kW, out.begin() + y * (kW + kPad));
        return out;
    };
    std::vector<double> scratch(rawframes::ssim_scratch_doubles(kW, kH, true));
    rawframes_input_plane t[3], r[3];
    std::vector<std::int16_t> keep[6];
    rawframes::SamplePlane<std::int16_t> tp[3], rp[3];
    for (int p = 0; p < 3; ++p) {
        keep[p] = padded(tgt, p);
        keep[3 + p] = padded(ref, p);
        t[p] = {keep[p].data(), 2 * (kW + kPad)};
        r[p] = {keep[3 + p].data(), 2 * (kW + kPad)};
        tp[p] = {tgt.data() + p * kW * kH, kW};
        rp[p] = {ref.data() + p * kW * kH, kW};
        double ssim = 0, ms_ssim = 0;
        ASSERT_EQ(rawframes_plane_ssim(RAWFRAMES_RGB10, p, t[p], r[p], kW, kH, &ssim),
                  RAWFRAMES_OK);
        ASSERT_EQ(rawframes_plane_ms_ssim(RAWFRAMES_RGB10, p, t[p], r[p], kW, kH, &ms_ssim),
                  RAWFRAMES_OK);
        EXPECT_EQ(ssim, rawframes::plane_ssim(tp[p], rp[p], kW, kH, 1023, scratch.data()).value);
        EXPECT_EQ(ms_ssim,
                  rawframes::plane_ms_ssim(tp[p], rp[p], kW, kH, 1023, scratch.data()).value);
        EXPECT_GT(ssim, 0.9);
    }
    double mean = 0, max = 0;
    std::uint64_t clamped = 1;
    ASSERT_EQ(rawframes_ciede2000(RAWFRAMES_RGB10, t, r, kW, kH, &mean, &max, &clamped),
              RAWFRAMES_OK);
    std::vector<double> row_scratch(rawframes::ciede2000_scratch_doubles(kW));
    const rawframes::ColourDifference d =
        rawframes::frame_ciede2000(tp, rp, kW, kH, 1023, row_scratch.data());
    EXPECT_EQ(mean, d.mean);
    EXPECT_EQ(max, d.max);
    EXPECT_EQ(clamped, 0u);
    EXPECT_EQ(rawframes_ciede2000(RAWFRAMES_YUV10, t, r, kW, kH, &mean, &max, nullptr),
              RAWFRAMES_INVALID);
    double none = 0;
    ASSERT_EQ(rawframes_plane_ms_ssim(RAWFRAMES_RGB10, 0, t[0], r[0], 175, kH, &none),
              RAWFRAMES_OK);
    EXPECT_TRUE(std::isnan(none));
}

// CIEDE2000 on the 34 pairs of Sharma, Wu and Dalal (2005), to the 4 decimals
// they give; and the project's elementary functions against the C library's,
// within a few units in the last place over the arguments the measures use.
TEST(Measures, ColourDifferenceOfThePublishedPairsAndElementaryFunctions) {
    static constexpr double kPairs[34][7] = {
        {50.0000, 2.6772, -79.7751, 50.0000, 0.0000, -82.7485, 2.0425},
        {50.0000, 3.1571, -77.2803, 50.0000, 0.0000, -82.7485, 2.8615},
        {50.0000, 2.8361, -74.0200, 50.0000, 0.0000, -82.7485, 3.4412},
        {50.0000, -1.3802, -84.2814, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -1.1848, -84.8006, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -0.9009, -85.5211, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, 0.0000, 0.0000, 50.0000, -1.0000, 2.0000, 2.3669},
        {50.0000, -1.0000, 2.0000, 50.0000, 0.0000, 0.0000, 2.3669},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0009, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0010, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0011, 7.2195},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0012, 7.2195},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0009, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0010, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0011, -2.4900, 4.7461},
        {50.0000, 2.5000, 0.0000, 50.0000, 0.0000, -2.5000, 4.3065},
        {50.0000, 2.5000, 0.0000, 73.0000, 25.0000, -18.0000, 27.1492},
        {50.0000, 2.5000, 0.0000, 61.0000, -5.0000, 29.0000, 22.8977},
        {50.0000, 2.5000, 0.0000, 56.0000, -27.0000, -3.0000, 31.9030},
        {50.0000, 2.5000, 0.0000, 58.0000, 24.0000, 15.0000, 19.4535},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.1736, 0.5854, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2972, 0.0000, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 1.8634, 0.5757, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2592, 0.3350, 1.0000},
        {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
        {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
        {61.2901, 3.7196, -5.3901, 61.4292, 2.2480, -4.9620, 1.8731},
        {35.0831, -44.1164, 3.7933, 35.0232, -40.0716, 1.5901, 1.8645},
        {22.7233, 20.0904, -46.6940, 23.0331, 14.9730, -42.5619, 2.0373},
        {36.4612, 47.8580, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146},
        {90.8027, -2.0831, 1.4410, 91.1528, -1.6435, 0.0447, 1.4441},
        {90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381},
        {6.7747, -0.2908, -2.4247, 5.8714, -0.0985, -2.2286, 0.6377},
        {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
    };
    for (const auto& p : kPairs)
        EXPECT_NEAR(rawframes::ciede2000_lab(p[0], p[1], p[2], p[3], p[4], p[5]), p[6], 5e-5)
            << p[0] << ' ' << p[1] << ' ' << p[2] << " / " << p[3] << ' ' << p[4] << ' ' << p[5];
    namespace lanes = rawframes::scalar_lanes;
    const auto relative = [](double got, double want) {
        return std::fabs(got - want) / std::max(std::fabs(want), 1e-300);
    };
    for (int i = 0; i <= 10000; ++i) {
        const double u = i / 10000.0;
        EXPECT_LE(relative(lanes::exp_(-700 * u), std::exp(-700 * u)), 4e-16) << u;
        EXPECT_LE(relative(lanes::log_(1e-6 + 1e3 * u), std::log(1e-6 + 1e3 * u)), 4e-16) << u;
        EXPECT_LE(relative(lanes::cbrt_(0.008 + u), std::cbrt(0.008 + u)), 1e-15) << u;
        double s = 0, c = 0;
        lanes::sincos_deg(720 * u - 360, s, c);
        EXPECT_NEAR(s, std::sin((720 * u - 360) * (M_PI / 180)), 3e-15) << u;
        EXPECT_NEAR(c, std::cos((720 * u - 360) * (M_PI / 180)), 3e-15) << u;
        double quarter = 0, within = 0;
        const double y = std::sin(7 * u) * (1 + i % 5), x = std::cos(11 * u) * (1 + i % 3);
        lanes::angle_deg(y, x, quarter, within);
        double want = std::atan2(y, x) * (180 / M_PI);
        if (want < 0) want += 360;
        EXPECT_NEAR(90 * quarter + within, want, 1e-12) << y << ' ' << x;
    }
}
