// Every vector variant of every kernel against its plain version, through the
// kernel harness: random inputs of many lengths (vector bodies and tails,
// short rows), every buffer misaligned in several ways with guard bytes after
// it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "kernel_harness.hpp"
#include "rawframes.h"
#include "report.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
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
