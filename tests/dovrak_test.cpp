#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "pixel_format.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "support.hpp"
#include "transcription.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

// The expected Yuv420Frame of a W x H RGB frame, built from the transcription:
// every block averages the codes of the pixels it covers, halves rounded up.
std::vector<std::uint8_t> expected_yuv420(const std::vector<std::uint16_t>& rgb, int w, int h) {
    const std::size_t n = std::size_t(w) * h, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<std::uint8_t> out(n + 2 * cw * ch);
    std::vector<transcription::Codes> codes(n);
    for (std::size_t i = 0; i < n; ++i) {
        codes[i] = transcription::rgb_to_codes(rgb[i], rgb[n + i], rgb[2 * n + i]);
        out[i] = static_cast<std::uint8_t>(codes[i].y);
    }
    for (std::size_t j = 0; j < ch; ++j) {
        for (std::size_t k = 0; k < cw; ++k) {
            int cb = 0, cr = 0, count = 0;
            for (std::size_t y = 2 * j; y < std::min<std::size_t>(2 * j + 2, h); ++y) {
                for (std::size_t x = 2 * k; x < std::min<std::size_t>(2 * k + 2, w); ++x) {
                    cb += codes[y * w + x].cb;
                    cr += codes[y * w + x].cr;
                    ++count;
                }
            }
            out[n + j * cw + k] = static_cast<std::uint8_t>((cb + count / 2) / count);
            out[n + cw * ch + j * cw + k] = static_cast<std::uint8_t>((cr + count / 2) / count);
        }
    }
    return out;
}

std::vector<std::uint8_t> convert(std::vector<std::uint16_t> rgb, int w, int h) {
    const FrameGeometry g{w, h};
    std::vector<std::uint8_t> out(frame_bytes(kYuv420, g));
    rgb10_to_yuv420_frame(rgb.data(), out.data(), g);
    return out;
}

std::vector<std::uint16_t> random_rgb(std::mt19937& rng, std::size_t n, unsigned max) {
    std::vector<std::uint16_t> v(3 * n);
    for (auto& s : v) s = static_cast<std::uint16_t>(rng() % (max + 1));
    return v;
}

}  // namespace

TEST(Dovrak, CodesOfUniformBlocks) {
    struct Case {
        std::uint16_t r, g, b;
        std::uint8_t y, cb, cr;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 128, 128},
        {512, 512, 512, 127, 128, 128},
        {1023, 1023, 1023, 255, 128, 128},
        {1023, 0, 0, 54, 99, 255},
        {0, 1023, 0, 182, 30, 13},
        {0, 0, 1023, 18, 255, 117},
        {1023, 1023, 0, 236, 1, 139},
        // Luma rounded to single precision before use (double would give 84, 169,
        // 254, and Cb 174 for the last case).
        {341, 341, 341, 85, 128, 128},
        {682, 682, 682, 170, 128, 128},
        {580, 624, 983, 159, 173, 119},
        // Samples above 1023 are clamped in the result.
        {1024, 1024, 1024, 255, 128, 128},
        {65535, 0, 0, 255, 1, 255},
    };
    for (const Case& c : cases) {
        const auto out = convert(rgb16_frame(4, c.r, c.g, c.b), 2, 2);
        const std::vector<std::uint8_t> want{c.y, c.y, c.y, c.y, c.cb, c.cr};
        EXPECT_EQ(out, want) << c.r << "," << c.g << "," << c.b;
    }
}

TEST(Dovrak, ChromaIsAveragedAfterCoding) {
    std::vector<std::uint16_t> red_corner(12, 0);
    red_corner[0] = 1023;
    EXPECT_EQ(convert(red_corner, 2, 2), (std::vector<std::uint8_t>{54, 0, 0, 0, 121, 160}));

    // Halves round up; edge blocks average the 2 or 1 codes inside the frame.
    const std::uint16_t top[] = {128, 128, 128, 128, 7};
    const std::uint16_t bottom[] = {129, 129, 128, 129, 8};
    std::uint8_t out[3];
    rgb10_to_yuv420_average_row_c(top, bottom, 5, out);
    EXPECT_EQ(out[0], 129);
    EXPECT_EQ(out[1], 128);
    EXPECT_EQ(out[2], 8);  // (7 + 8 + 1) / 2
    rgb10_to_yuv420_average_row_c(top + 3, top + 3, 2, out);
    EXPECT_EQ(out[0], 68);  // (128 + 7 + 1) / 2
    rgb10_to_yuv420_average_row_c(top + 4, top + 4, 1, out);
    EXPECT_EQ(out[0], 7);
}

TEST(Dovrak, PixelKernelMatchesTranscriptionOnRandomAndBoundarySamples) {
    std::vector<std::uint16_t> values;
    for (unsigned v : {0u, 1u, 2u, 340u, 341u, 511u, 512u, 682u, 1022u, 1023u, 1024u, 1025u, 2047u,
                       4095u, 32767u, 32768u, 65534u, 65535u})
        values.push_back(static_cast<std::uint16_t>(v));
    std::size_t checked = 0;
    const auto check = [&](std::uint16_t r, std::uint16_t g, std::uint16_t b) {
        const YCbCrCodes k = rgb10_to_yuv420_pixel(r, g, b);
        const transcription::Codes t = transcription::rgb_to_codes(r, g, b);
        ++checked;
        return k.y == t.y && k.cb == t.cb && k.cr == t.cr;
    };
    for (auto r : values)
        for (auto g : values)
            for (auto b : values) ASSERT_TRUE(check(r, g, b)) << r << "," << g << "," << b;
    std::mt19937 rng(20261208);
    for (int i = 0; i < 3000000; ++i) {
        const unsigned max = (i % 8 == 0) ? 65535 : 1023;
        const auto r = static_cast<std::uint16_t>(rng() % (max + 1));
        const auto g = static_cast<std::uint16_t>(rng() % (max + 1));
        const auto b = static_cast<std::uint16_t>(rng() % (max + 1));
        ASSERT_TRUE(check(r, g, b)) << r << "," << g << "," << b;
    }
    EXPECT_EQ(checked, values.size() * values.size() * values.size() + 3000000);
}

TEST(Dovrak, FramesOfEveryShapeMatchTheModel) {
    std::mt19937 rng(7);
    for (auto [w, h] :
         {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 3}, std::pair{5, 2}, std::pair{2, 5},
          std::pair{1, 7}, std::pair{7, 1}, std::pair{33, 17}, std::pair{64, 36}}) {
        const auto rgb = random_rgb(rng, std::size_t(w) * h, 1023);
        EXPECT_EQ(convert(rgb, w, h), expected_yuv420(rgb, w, h)) << w << " x " << h;
    }
}

class DovrakCli : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string in = dir.path("in.rgb"), out = dir.path("out.yuv");
};

TEST_F(DovrakCli, ConvertsWholeFramesOnly) {
    std::mt19937 rng(3);
    const auto frames = random_rgb(rng, 2 * 4 * 6, 1023);  // two 4 x 6 frames
    auto bytes = le16_bytes(frames);
    const std::size_t frame_bytes = 6 * 24;
    bytes.resize(bytes.size() + frame_bytes / 2, 0x55);  // and half a frame
    write_file(in, bytes);
    const RunResult r = run(dovrak(), {in, out, "4", "6", "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "dovrak: warning: " + in +
                         ": 72 trailing bytes ignored after 2 whole frames of 144 bytes\n");
    auto want = expected_yuv420({frames.begin(), frames.begin() + 72}, 4, 6);
    const auto second = expected_yuv420({frames.begin() + 72, frames.end()}, 4, 6);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(read_file(out), want);
    // From a pipe, started past its end: the frames that were there.
    std::string piped(bytes.begin(), bytes.end());
    const RunResult past =
        run(dovrak(), {"-", out, "4", "6", "--start", "50"}, {}, Launch::input_bytes(piped));
    EXPECT_EQ(past.err,
              "dovrak: warning: standard input: 72 trailing bytes ignored after 2 whole "
              "frames of 144 bytes\n");

    bytes.resize(frame_bytes - 1);
    write_file(in, bytes);
    const RunResult short_input = run(dovrak(), {in, out, "4", "6"});
    EXPECT_EQ(short_input.status, 0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(read_file(out).size(), 0u);
}

TEST_F(DovrakCli, RefusesBadArgumentsWithoutCreatingOutput) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {in, out, "2"}}) {
        const RunResult r = run(dovrak(), args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "Usage: dovrak infile outfile width hight\n");
    }
    const RunResult missing = run(dovrak(), {in, out, "2", "2"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err.rfind("dovrak: cannot open " + in + ": ", 0), 0u) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    write_file(in, le16_bytes(rgb16_frame(4, 1, 2, 3)));
    for (const auto& wh : std::vector<std::pair<std::string, std::string>>{
             {"0", "2"}, {"2", "-2"}, {"-2", "-2"}, {"two", "2"}, {"2147483647", "2147483647"}}) {
        const RunResult r = run(dovrak(), {in, out, wh.first, wh.second});
        EXPECT_EQ(r.status, 255) << wh.first << " x " << wh.second;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(DovrakCli, NeverOverwritesItsInputAndReportsFailedWrites) {
    const auto bytes = le16_bytes(rgb16_frame(4, 1, 2, 3));
    write_file(in, bytes);
    const RunResult same = run(dovrak(), {in, dir.path(".") + "/in.rgb", "2", "2"});
    EXPECT_EQ(same.status, 255);
    EXPECT_NE(same.err.find("same file"), std::string::npos);
    EXPECT_EQ(read_file(in), bytes);

    const RunResult full = run(dovrak(), {in, "/dev/full", "2", "2"});
    EXPECT_EQ(full.status, 255);
    EXPECT_EQ(full.err, "dovrak: cannot write /dev/full: No space left on device\n");
}
