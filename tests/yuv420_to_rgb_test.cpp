#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "pixel_format.hpp"
#include "support.hpp"
#include "transcription.hpp"
#include "yuv420_to_rgb_kernel.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

std::vector<std::uint8_t> convert(const std::vector<std::uint8_t>& yuv, int w, int h) {
    const FrameGeometry g{w, h};
    std::vector<std::uint8_t> out(frame_bytes(kRgb8, g));
    yuv420_to_rgb_frame(yuv.data(), out.data(), g);
    return out;
}

// Expected planar RGB of a Yuv420Frame: pixel (x, y) uses chroma (x / 2, y / 2).
std::vector<std::uint8_t> expected_rgb(const std::vector<std::uint8_t>& yuv, int w, int h) {
    const std::size_t n = std::size_t(w) * h, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<std::uint8_t> out(3 * n);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x, c = (y / 2) * cw + x / 2;
            const auto p = transcription::ycbcr_to_rgb(yuv[i], yuv[n + c], yuv[n + cw * ch + c]);
            out[i] = static_cast<std::uint8_t>(p.r);
            out[n + i] = static_cast<std::uint8_t>(p.g);
            out[2 * n + i] = static_cast<std::uint8_t>(p.b);
        }
    }
    return out;
}

bool same(const Rgb8& a, const transcription::Rgb& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

}  // namespace

TEST(Yuv420ToRgb, KnownPixels) {
    struct Case {
        std::uint8_t y, cb, cr, r, g, b;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 83, 0},
        {255, 255, 255, 255, 171, 255},
        {255, 0, 255, 255, 219, 17},
        {0, 255, 0, 0, 36, 235},
        {76, 85, 255, 255, 24, 0},
        {218, 153, 71, 128, 240, 255},  // G depends on rounding g * 255 to single precision
    };
    for (const Case& c : cases) {
        const Rgb8 p = yuv_to_rgb_pixel(c.y, c.cb, c.cr);
        EXPECT_EQ((std::array<int, 3>{p.r, p.g, p.b}), (std::array<int, 3>{c.r, c.g, c.b}))
            << int(c.y) << "," << int(c.cb) << "," << int(c.cr);
    }
    for (int y = 0; y < 256; ++y) {
        const Rgb8 p = yuv_to_rgb_pixel(static_cast<std::uint8_t>(y), 128, 128);
        ASSERT_TRUE(p.r == y && p.g == y && p.b == y) << y;
    }
}

TEST(Yuv420ToRgb, EveryInputMatchesTheTranscription) {
    // All 2^24 (Y, Cb, Cr), through the pixel function and through the row
    // function (a row holds one chroma pair and all 256 luma values, twice).
    std::vector<std::uint8_t> y(512), cb(256), cr(256), r(512), g(512), b(512);
    for (int x = 0; x < 512; ++x) y[x] = static_cast<std::uint8_t>(x & 255);
    std::uint64_t mismatches = 0;
    for (int vcb = 0; vcb < 256; ++vcb) {
        for (int vcr = 0; vcr < 256; ++vcr) {
            std::fill(cb.begin(), cb.end(), vcb);
            std::fill(cr.begin(), cr.end(), vcr);
            yuv420_row_c(y.data(), cb.data(), cr.data(), r.data(), g.data(), b.data(), 512);
            for (int x = 0; x < 512; ++x) {
                const auto t = transcription::ycbcr_to_rgb(x & 255, vcb, vcr);
                if (x < 256 && !same(yuv_to_rgb_pixel(y[x], cb[0], cr[0]), t)) ++mismatches;
                if (!same(Rgb8{r[x], g[x], b[x]}, t)) ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(Yuv420ToRgb, ChromaIsReplicatedOverItsBlock) {
    // W = 4, H = 2: chroma sample 0 serves columns 0-1, sample 1 columns 2-3.
    const std::vector<std::uint8_t> yuv{100, 100, 100, 100, 100, 100, 100, 100, 60, 200, 90, 30};
    const auto out = convert(yuv, 4, 2);
    const auto left = yuv_to_rgb_pixel(100, 60, 90), right = yuv_to_rgb_pixel(100, 200, 30);
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 4; ++x) {
            const Rgb8 want = x < 2 ? left : right;
            const std::size_t i = row * 4 + x;
            EXPECT_EQ(out[i], want.r);
            EXPECT_EQ(out[8 + i], want.g);
            EXPECT_EQ(out[16 + i], want.b);
        }
    }
    std::mt19937 rng(11);
    for (auto [w, h] :
         {std::pair{1, 1}, std::pair{3, 3}, std::pair{5, 2}, std::pair{2, 5}, std::pair{17, 9}}) {
        std::vector<std::uint8_t> frame(frame_bytes(kYuv420, FrameGeometry{w, h}));
        for (auto& v : frame) v = static_cast<std::uint8_t>(rng());
        EXPECT_EQ(convert(frame, w, h), expected_rgb(frame, w, h)) << w << " x " << h;
    }
}

class Yuv420ToRgbCli : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string in = dir.path("in.yuv"), out = dir.path("out.rgb");
};

TEST_F(Yuv420ToRgbCli, ConvertsWholeFramesOnly) {
    std::mt19937 rng(5);
    std::vector<std::uint8_t> frames(2 * 24 + 10);  // two 4 x 4 frames and a partial one
    for (auto& v : frames) v = static_cast<std::uint8_t>(rng());
    write_file(in, frames);
    const RunResult r = run(yuv420_to_rgb(), {in, out, "4", "4", "extra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "yuv420-to-rgb: warning: " + in +
                         ": 10 trailing bytes ignored after 2 whole frames of 24 bytes\n");
    // No whole frame at all is said too; whole frames alone say nothing.
    write_file(in, std::vector<std::uint8_t>(frames.begin(), frames.begin() + 20));
    EXPECT_EQ(run(yuv420_to_rgb(), {in, out, "4", "4"}).err,
              "yuv420-to-rgb: warning: " + in +
                  ": 20 trailing bytes ignored after 0 whole frames of 24 bytes\n");
    write_file(in, std::vector<std::uint8_t>(frames.begin(), frames.begin() + 48));
    EXPECT_EQ(run(yuv420_to_rgb(), {in, out, "4", "4"}).err, "");
    auto want = expected_rgb({frames.begin(), frames.begin() + 24}, 4, 4);
    const auto second = expected_rgb({frames.begin() + 24, frames.begin() + 48}, 4, 4);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(read_file(out), want);

    write_file(in, std::vector<std::uint8_t>{});
    const RunResult empty = run(yuv420_to_rgb(), {in, out, "4", "4"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(read_file(out).size(), 0u);
}

TEST_F(Yuv420ToRgbCli, RefusesBadArgumentsSameFileAndFailedWrites) {
    const RunResult usage = run(yuv420_to_rgb(), {in, out, "4"});
    EXPECT_EQ(usage.status, 255);
    EXPECT_EQ(usage.out, "Usage: yuv420-to-rgb infile outfile width hight\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    const RunResult missing = run(yuv420_to_rgb(), {in, out, "4", "4"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err.rfind("yuv420-to-rgb: cannot open " + in + ": ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::vector<std::uint8_t> frame(24, 128);
    write_file(in, frame);
    const RunResult zero = run(yuv420_to_rgb(), {in, out, "4", "0"});
    EXPECT_EQ(zero.status, 255);
    EXPECT_EQ(zero.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));

    const RunResult same = run(yuv420_to_rgb(), {in, in, "4", "4"});
    EXPECT_EQ(same.status, 255);
    EXPECT_NE(same.err.find("same file"), std::string::npos);
    EXPECT_EQ(read_file(in), frame);

    const RunResult full = run(yuv420_to_rgb(), {in, "/dev/full", "4", "4"});
    EXPECT_EQ(full.status, 255);
    EXPECT_EQ(full.err, "yuv420-to-rgb: cannot write /dev/full: No space left on device\n");
}

TEST(RoundTrip, OddSizesThroughBothProgramsByteForByte) {
    ScratchDir dir;
    std::mt19937 rng(42);
    for (auto [w, h] : {std::pair{3, 3}, std::pair{5, 2}, std::pair{1, 1}, std::pair{6, 4}}) {
        const std::size_t n = std::size_t(w) * h;
        // A smooth picture (gradients with a little noise), as real frames are.
        std::vector<std::uint16_t> rgb(3 * n);
        for (std::size_t p = 0; p < 3; ++p)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    rgb[p * n + y * w + x] = static_cast<std::uint16_t>(
                        (200 + 150 * p + 40 * x + 30 * y + rng() % 8) % 1024);
        write_file(dir.path("a.rgb"), le16_bytes(rgb));
        const std::string W = std::to_string(w), H = std::to_string(h);
        ASSERT_EQ(run(dovrak(), {dir.path("a.rgb"), dir.path("a.yuv"), W, H}).status, 0);
        ASSERT_EQ(run(yuv420_to_rgb(), {dir.path("a.yuv"), dir.path("b.rgb"), W, H}).status, 0);
        const auto yuv = read_file(dir.path("a.yuv"));
        ASSERT_EQ(yuv.size(), (frame_bytes(kYuv420, FrameGeometry{w, h})));
        EXPECT_EQ(read_file(dir.path("b.rgb")), expected_rgb(yuv, w, h)) << w << " x " << h;

        // The 8-bit result stays near the 10-bit source scaled to 8 bits.
        const auto back = read_file(dir.path("b.rgb"));
        for (std::size_t i = 0; i < 3 * n; ++i)
            EXPECT_NEAR(back[i], rgb[i] * 255.0 / 1023.0, 12.0) << w << " x " << h << " @" << i;
    }
}

TEST(Yuv420ToRgb, EveryFastRowMatchesThePlainRowOnAllInputs) {
    // Rows of assorted widths (vector bodies and scalar tails) in which every
    // (Y, Cb, Cr) combination occurs; all 2^24 inputs for each variant.
    for_each_supported(yuv420_row_variants(), [&](const auto& v) {
        for (std::size_t width : {std::size_t{512}, std::size_t{37}}) {
            std::vector<std::uint8_t> y(width), cb((width + 1) / 2), cr((width + 1) / 2);
            std::vector<std::uint8_t> want(3 * width), got(3 * width);
            std::uint64_t mismatches = 0;
            const int rounds = width == 512 ? 65536 : 4096;
            for (int k = 0; k < rounds; ++k) {
                for (std::size_t x = 0; x < width; ++x) y[x] = static_cast<std::uint8_t>(x * 7 + k);
                for (std::size_t c = 0; c < cb.size(); ++c) {
                    cb[c] = static_cast<std::uint8_t>(width == 512 ? k >> 8 : k * 13 + c * 5);
                    cr[c] = static_cast<std::uint8_t>(width == 512 ? k : k * 29 + c * 3);
                }
                yuv420_row_c(y.data(), cb.data(), cr.data(), want.data(), want.data() + width,
                             want.data() + 2 * width, width);
                v.fn(y.data(), cb.data(), cr.data(), got.data(), got.data() + width,
                     got.data() + 2 * width, width);
                mismatches += want != got;
            }
            EXPECT_EQ(mismatches, 0u) << v.name << " width " << width;
        }
    });
}

TEST_F(Yuv420ToRgbCli, ReadsWhatDovrakWritesAsYuv4mpeg2AndRefusesMalformedStreams) {
    // dovrak's y4m: the header, then FRAME and the raw 4:2:0 bytes per frame.
    const std::string rgb = dir.path("in.rgb10"), raw = dir.path("o.yuv"), y4m = dir.path("o.y4m");
    std::vector<std::uint8_t> samples(2 * 6 * 5 * 3);
    std::mt19937 rng(9);
    for (std::size_t i = 0; i < samples.size(); i += 2)
        samples[i] = static_cast<std::uint8_t>(rng());
    write_file(rgb, samples);  // two 5 x 3 frames
    ASSERT_EQ(run(dovrak(), {rgb, raw, "5", "3"}).status, 0);
    ASSERT_EQ(run(dovrak(), {rgb, y4m, "5", "3"}).status, 0);
    const auto frames = read_file(raw);
    ASSERT_EQ(frames.size(), 2u * 27);
    const std::string header = "YUV4MPEG2 W5 H3 F25:1 Ip A1:1 C420jpeg XCOLORRANGE=FULL\n";
    const std::string f0(frames.begin(), frames.begin() + 27),
        f1(frames.begin() + 27, frames.end());
    const std::string whole = header + "FRAME\n" + f0 + "FRAME\n" + f1;
    EXPECT_EQ(read_file(y4m), std::vector<std::uint8_t>(whole.begin(), whole.end()));
    const RunResult fps_only = run(dovrak(), {rgb, "-", "5", "3", "--fps", "30000:1001"});
    ASSERT_EQ(fps_only.out.substr(0, 30), "YUV4MPEG2 W5 H3 F30000:1001 Ip");
    EXPECT_EQ(fps_only.err,
              "dovrak: warning: --fps writes YUV4MPEG2, not raw frames, to standard "
              "output\n");
    EXPECT_EQ(run(dovrak(), {rgb, raw, "5", "3", "--fps", "0"}).status, 255);
    ASSERT_EQ(run(yuv420_to_rgb(), {raw, out, "5", "3"}).status, 0);
    const auto want = read_file(out);

    struct Case {
        std::string input;
        int status;
        std::string err;  // expected on standard error after "yuv420-to-rgb: "
        std::size_t frames;
    };
    const std::string bad = "cannot read " + in + ": ";
    const Case cases[] = {
        {header + "FRAME\n" + f0 + "FRAME\n" + f1, 0, "", 2},
        {"YUV4MPEG2 C420mpeg2 H3 W5 XYSCSS=420JPEG\nFRAME Ixyz\n" + f0 + "FRAME\n" + f1, 0, "", 2},
        {"YUV4MPEG2 W5 H3\nFRAME\n" + f0 + "FRAME\n" + f1.substr(0, 10), 0,
         "warning: " + in + ": 16 trailing bytes ignored after 1 whole frames of 27 bytes", 1},
        {"YUV4MPEG2 W5 H3\n", 0, "", 0},
        {"YUV4MPEG2 W6 H3\nFRAME\n" + f0, 255,
         bad + "the YUV4MPEG2 frames are 6 x 3 but the command line gives 5 x 3", 0},
        {"YUV4MPEG2 W5 H3 C444\nFRAME\n" + f0, 255,
         bad + "the YUV4MPEG2 stream is C444; only 8-bit 4:2:0 (C420jpeg, C420mpeg2, C420paldv, "
               "C420) can be read",
         0},
        {"YUV4MPEG2 W5 H3 C420p10\n", 255,
         bad + "the YUV4MPEG2 stream is C420p10; only 8-bit 4:2:0 (C420jpeg, C420mpeg2, "
               "C420paldv, C420) can be read",
         0},
        {"YUV4MPEG2 H3\n", 255, bad + "the YUV4MPEG2 header gives no frame size", 0},
        {"YUV4MPEG2 W5x H3\n", 255, bad + "the YUV4MPEG2 header has an invalid size 'W5x'", 0},
        {"YUV4MPEG2 W5 H3", 255, bad + "the YUV4MPEG2 header is cut short or too long", 0},
        {"YUV4MPEG2 W5 H3 " + std::string(5000, 'X') + "\n", 255,
         bad + "the YUV4MPEG2 header is cut short or too long", 0},
        {"YUV4MPEG2 W5 H3\nFRAME\n" + f0 + "FRAMEX\n" + f1, 255,
         bad + "a YUV4MPEG2 frame does not start with a FRAME line", 1},
        {"YUV4MPEG2 W5 H3\n" + f0 + f1, 255,
         bad + "a YUV4MPEG2 frame does not start with a FRAME line", 0},
        // Trailing data too short to be a frame is ignored, whatever it holds.
        {"YUV4MPEG2 W5 H3\n" + f0, 0,
         "warning: " + in + ": 27 trailing bytes ignored after 0 whole frames of 27 bytes", 0},
        {header + "FRAME\n" + f0 + "\nxyz", 0,
         "warning: " + in + ": 4 trailing bytes ignored after 1 whole frames of 27 bytes", 1},
    };
    for (const Case& c : cases) {
        write_file(in, c.input);
        for (const bool piped : {false, true}) {
            const RunResult r =
                piped ? run(yuv420_to_rgb(), {"-", out, "5", "3"}, {}, Launch::input_bytes(c.input))
                      : run(yuv420_to_rgb(), {in, out, "5", "3"});
            const std::string what = c.input.substr(0, 40) + (piped ? " (piped)" : "");
            EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
            const std::string err = c.err.empty() ? "" : "yuv420-to-rgb: " + c.err + "\n";
            EXPECT_EQ(r.err, piped ? [&] {
                std::string e = err;
                for (std::size_t at; (at = e.find(in)) != std::string::npos;)
                    e.replace(at, in.size(), "standard input");
                return e;
            }()
                                   : err)
                << what;
            if (c.status == 0) {
                EXPECT_EQ(read_file(out),
                          std::vector<std::uint8_t>(want.begin(), want.begin() + c.frames * 45))
                    << what;
            }
        }
    }
}
