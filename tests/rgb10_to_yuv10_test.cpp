#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

#include "support.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

using Triple = std::array<std::uint16_t, 3>;

Triple transform_one(Triple rgb) {
    std::uint16_t r = rgb[0], g = rgb[1], b = rgb[2];
    ycocg_r_planes_c(&r, &g, &b, 1);
    return {r, g, b};
}

}  // namespace

TEST(YCoCgR, KnownSamplesIncludingClampedOnes) {
    struct Case {
        Triple rgb, out;  // out: Co + 1024, Y, Cg + 1024
    };
    const Case cases[] = {
        {{1023, 1023, 1023}, {1024, 1023, 1024}},
        {{1023, 0, 0}, {2047, 255, 513}},
        {{0, 1023, 0}, {1024, 511, 2047}},
        {{0, 0, 1023}, {1, 255, 513}},
        {{0, 0, 0}, {1024, 0, 1024}},
        {{4000, 0, 0}, {2047, 1000, 0}},           // Co 5024 and Cg -976 clamped
        {{5000, 5000, 5000}, {1024, 1023, 1024}},  // Y 5000 clamped
        {{65535, 65535, 0}, {2047, 1023, 2047}},
        {{0, 0, 65535}, {0, 1023, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(transform_one(c.rgb), c.out) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
    }
}

TEST(YCoCgR, InverseGivesBackEveryTenBitInputAndClampsTheRest) {
    // A sample of the 2^30 inputs (all of them: ctest --preset long), with the
    // corners of the cube, through the transform and the plain inverse.
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> ten_bit(0, 1023);
    for (int i = 0; i < 300000; ++i) {
        const Triple in =
            i < 8 ? Triple{std::uint16_t(i & 1 ? 1023 : 0), std::uint16_t(i & 2 ? 1023 : 0),
                           std::uint16_t(i & 4 ? 1023 : 0)}
                  : Triple{static_cast<std::uint16_t>(ten_bit(rng)),
                           static_cast<std::uint16_t>(ten_bit(rng)),
                           static_cast<std::uint16_t>(ten_bit(rng))};
        Triple back = transform_one(in);
        ASSERT_EQ(ycocg_r_inverse_planes_c(&back[0], &back[1], &back[2], 1), 0u);
        ASSERT_EQ(back, in);
    }
    // Values no 10-bit input gives: every result outside 0..1023 is clamped
    // and counted. (co, y, cg) = (1023, 1023, -1024): t = 1535, g = 511,
    // b = 1024, r = 2047; all zeros: t = 512, g = -512, b = 1024, r = 0.
    Triple odd{2047, 1023, 0};
    EXPECT_EQ(ycocg_r_inverse_planes_c(&odd[0], &odd[1], &odd[2], 1), 2u);
    EXPECT_EQ(odd, (Triple{1023, 511, 1023}));
    Triple zeros{0, 0, 0};
    EXPECT_EQ(ycocg_r_inverse_planes_c(&zeros[0], &zeros[1], &zeros[2], 1), 2u);
    EXPECT_EQ(zeros, (Triple{0, 0, 1023}));
}

TEST(YCoCgR, FrameWithNonPositiveDimensionIsLeftAlone) {
    std::vector<std::uint16_t> frame = rgb16_frame(4, 1023, 0, 0);
    const auto before = frame;
    ycocg_r_frame(frame.data(), {4, 0});
    ycocg_r_frame(frame.data(), {-2, -2});
    EXPECT_EQ(frame, before);
    ycocg_r_frame(frame.data(), {2, 2});
    EXPECT_EQ(frame, rgb16_frame(4, 2047, 255, 513));
}

class Rgb10ToYuv10Cli : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string in = dir.path("in.rgb"), out = dir.path("out.yuv");
    // Three 2 x 2 frames: pure red, pure green, pure blue.
    void write_three_frames() {
        std::vector<std::uint16_t> s = rgb16_frame(4, 1023, 0, 0);
        for (auto f : {rgb16_frame(4, 0, 1023, 0), rgb16_frame(4, 0, 0, 1023)})
            s.insert(s.end(), f.begin(), f.end());
        write_file(in, le16_bytes(s));
    }
    std::vector<std::uint16_t> expected_frames(int count) {
        std::vector<std::uint16_t> s;
        const std::vector<std::uint16_t> frames[] = {rgb16_frame(4, 2047, 255, 513),
                                                     rgb16_frame(4, 1024, 511, 2047),
                                                     rgb16_frame(4, 1, 255, 513)};
        for (int i = 0; i < count; ++i) s.insert(s.end(), frames[i].begin(), frames[i].end());
        return s;
    }
};

TEST_F(Rgb10ToYuv10Cli, ConvertsUpToNumFrameFramesOrTheEndOfInput) {
    write_three_frames();
    struct Case {
        const char* num_frame;
        int frames;
    };
    for (Case c : {Case{"2", 2}, Case{"3", 3}, Case{"10", 3}, Case{"-1", 3}, Case{"0", 0}}) {
        const RunResult r = run(rgb10_to_yuv10(), {in, out, "2", "2", c.num_frame});
        EXPECT_EQ(r.status, 0) << c.num_frame;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(le16_samples(read_file(out)), expected_frames(c.frames)) << c.num_frame;
    }
}

TEST_F(Rgb10ToYuv10Cli, PartialLastFrameIsZeroFilledAndWarned) {
    // One whole frame, then 5 bytes: two whole samples (R = 1023, 1023) and a
    // stray byte; every other sample of that frame counts as 0.
    std::vector<std::uint8_t> bytes = le16_bytes(rgb16_frame(4, 0, 0, 1023));
    for (std::uint8_t b : {0xFF, 0x03, 0xFF, 0x03, 0x07}) bytes.push_back(b);
    write_file(in, bytes);
    const RunResult r = run(rgb10_to_yuv10(), {in, out, "2", "2", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("rgb10-to-yuv10: "), std::string::npos);
    EXPECT_NE(r.err.find(in), std::string::npos);

    std::vector<std::uint16_t> want = rgb16_frame(4, 1, 255, 513);
    // Second frame: R = 1023, 1023, 0, 0 with G = B = 0.
    const std::vector<std::uint16_t> second = {2047, 2047, 1024, 1024, 255,  255,
                                               0,    0,    513,  513,  1024, 1024};
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(le16_samples(read_file(out)), want);

    // A single leftover byte ends the loop without another frame.
    bytes.resize(24 + 1);
    write_file(in, bytes);
    const RunResult one = run(rgb10_to_yuv10(), {in, out, "2", "2", "5"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(read_file(out).size(), 24u);
}

TEST_F(Rgb10ToYuv10Cli, UsageAndOpenErrorsKeepTheirMessages) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {in, out, "2", "2"}, {in, out, "2", "2", "1", "extra"}}) {
        const RunResult r = run(rgb10_to_yuv10(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Usage : " + rgb10_to_yuv10() +
                             " input_rgb10 output_yuv10 width height num_frame\n");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(std::filesystem::exists(out));

    const RunResult missing = run(rgb10_to_yuv10(), {in, out, "2", "2", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, in + " file open error \n");
    EXPECT_FALSE(std::filesystem::exists(out));

    write_three_frames();
    const std::string bad_out = dir.path("no/such/dir/out.yuv");
    const RunResult unwritable = run(rgb10_to_yuv10(), {in, bad_out, "2", "2", "1"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, bad_out + " file open error \n");
}

TEST_F(Rgb10ToYuv10Cli, BadSizesAndSameFileAreRefusedBeforeTouchingAnything) {
    write_three_frames();
    const auto original = read_file(in);
    for (const auto& wh : std::vector<std::pair<std::string, std::string>>{
             {"0", "2"}, {"2", "0"}, {"-2", "-2"}, {"abc", "2"}, {"65536", "65536000"}}) {
        const RunResult r = run(rgb10_to_yuv10(), {in, out, wh.first, wh.second, "1"});
        EXPECT_EQ(r.status, 1) << wh.first << " x " << wh.second;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("rgb10-to-yuv10: ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const RunResult same = run(rgb10_to_yuv10(), {in, in, "2", "2", "3"});
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("same file"), std::string::npos);
    EXPECT_EQ(read_file(in), original);
}

TEST_F(Rgb10ToYuv10Cli, FailedWriteIsAnError) {
    write_three_frames();
    const RunResult r = run(rgb10_to_yuv10(), {in, "/dev/full", "2", "2", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/dev/full"), std::string::npos);
}

TEST_F(Rgb10ToYuv10Cli, ConvertsFramesPastTwoGibibytes) {
    // 1024 x 512 frames take 3 MiB; the last of these 684 frames starts past
    // 2^31 bytes. The input is sparse; only its last frame holds data (pure red).
    const std::int32_t w = 1024, h = 512;
    const std::uint64_t frame = 6ull * w * h;
    const std::uint64_t frames = (std::uint64_t{1} << 31) / frame + 2;
    if (!file_size_allowed(frames * frame))
        GTEST_SKIP() << "the file-size limit (ulimit -f) forbids the 2 GiB sparse file this needs";
    {
        const int fd = ::open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(frames * frame)), 0);
        const auto red = le16_bytes(rgb16_frame(std::size_t(w) * h, 1023, 0, 0));
        ASSERT_EQ(::pwrite(fd, red.data(), red.size(), static_cast<off_t>((frames - 1) * frame)),
                  static_cast<ssize_t>(red.size()));
        ::close(fd);
    }
    // The 2 GiB of output go through a pipe, so the test needs no disk space:
    // the reader counts every byte and keeps the last two frames.
    const std::string fifo = dir.path("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::uint64_t total = frames * frame, tail_start = total - 2 * frame;
    std::vector<std::uint8_t> tail(2 * frame);
    std::uint64_t received = 0;
    const RunResult r =
        run(rgb10_to_yuv10(), {in, fifo, std::to_string(w), std::to_string(h), "-1"}, [&] {
            const int fd = ::open(fifo.c_str(), O_RDONLY);
            if (fd < 0) return;
            ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
            std::vector<std::uint8_t> chunk(1 << 20);
            for (ssize_t n; (n = ::read(fd, chunk.data(), chunk.size())) > 0;) {
                const std::uint64_t end = received + static_cast<std::uint64_t>(n);
                // The part of this chunk that falls in [tail_start, total).
                const std::uint64_t from = std::max(received, tail_start);
                const std::uint64_t to = std::min(end, total);
                if (from < to)
                    std::copy(chunk.begin() + (from - received), chunk.begin() + (to - received),
                              tail.begin() + (from - tail_start));
                received = end;
            }
            ::close(fd);
        });
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(received, total);
    const std::vector<std::uint8_t> before(tail.begin(), tail.begin() + frame),
        last(tail.begin() + frame, tail.end());
    EXPECT_EQ(le16_samples(last), rgb16_frame(std::size_t(w) * h, 2047, 255, 513));
    EXPECT_EQ(le16_samples(before), rgb16_frame(std::size_t(w) * h, 1024, 0, 1024));
}

TEST_F(Rgb10ToYuv10Cli, Y4mOutputAndTheInverseProgramGiveBackTheSourceExactly) {
    // Two odd 5 x 3 frames of random 10-bit samples, through rgb10-to-yuv10 as
    // raw and as y4m (luma first), and back through yuv10-to-rgb10 from each,
    // from a file and from a pipe.
    std::mt19937 rng(77);
    std::vector<std::uint16_t> rgb(2 * 3 * 15);
    for (auto& v : rgb) v = static_cast<std::uint16_t>(rng() % 1024);
    const auto source = le16_bytes(rgb);
    write_file(in, source);
    const std::string y4m = dir.path("out.y4m"), back = dir.path("back.rgb");
    ASSERT_EQ(run(rgb10_to_yuv10(), {in, out, "5", "3", "-1"}).status, 0);
    ASSERT_EQ(run(rgb10_to_yuv10(), {in, y4m, "5", "3", "-1"}).status, 0);
    const auto raw = read_file(out);
    std::string want = "YUV4MPEG2 W5 H3 F25:1 Ip A1:1 C444p12 XYSCSS=444P12 XCOLORRANGE=FULL\n";
    for (std::size_t f = 0; f < 2; ++f) {
        want += "FRAME\n";
        for (const std::size_t plane : {1, 0, 2})
            want.append(raw.begin() + f * 90 + plane * 30, raw.begin() + f * 90 + plane * 30 + 30);
    }
    EXPECT_EQ(read_file(y4m), std::vector<std::uint8_t>(want.begin(), want.end()));
    EXPECT_EQ(
        run(rgb10_to_yuv10(), {in, "-", "5", "3", "-1", "--y4m", "--fps=50"}).out.substr(0, 25),
        "YUV4MPEG2 W5 H3 F50:1 Ip ");

    // 16-bit y4m reads the same, and ffmpeg adds parameters of its own.
    std::string p16 = want;
    p16.replace(0, p16.find('\n'), "YUV4MPEG2 W5 H3 F25:1 Ip C444p16 XYSCSS=444P16");
    for (const std::string& input : {std::string(raw.begin(), raw.end()), want, p16}) {
        for (const bool piped : {false, true}) {
            write_file(dir.path("yuv"), input);
            const RunResult r =
                piped ? run(yuv10_to_rgb10(), {"-", back, "5", "3"}, {}, Launch::input_bytes(input))
                      : run(yuv10_to_rgb10(), {dir.path("yuv"), back, "5", "3"});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(back), source) << input.substr(0, 20) << (piped ? " piped" : "");
        }
    }

    // What cannot be read, and what reads with a warning.
    struct Case {
        std::string input;
        int status;
        std::string err;  // after "yuv10-to-rgb10: "
    };
    const std::string yuv = dir.path("yuv");
    const Case cases[] = {
        {"YUV4MPEG2 W5 H3 C420jpeg\n", 1,
         "cannot read " + yuv +
             ": the YUV4MPEG2 stream is C420jpeg; only 12- or 16-bit 4:4:4 (C444p12, C444p16) "
             "can be read"},
        {"YUV4MPEG2 W6 H3 C444p12\n", 1,
         "cannot read " + yuv +
             ": the YUV4MPEG2 frames are 6 x 3 but the command line gives 5 x 3"},
        {std::string(raw.begin(), raw.end()) + "abc", 0,
         "warning: " + yuv + ": 3 trailing bytes ignored after 2 whole frames of 90 bytes"},
        // A sample that no 10-bit input gives: Y = 1023 with Co = Cg = 0.
        {std::string(raw.begin(), raw.begin() + 90).replace(30, 2, "\xFF\x03"), 0,
         "warning: " + yuv +
             ": 1 samples clamped to 0..1023: the input is not the YCoCg-R of 10-bit RGB (a lossy "
             "decode, say)"},
    };
    for (const Case& c : cases) {
        write_file(yuv, c.input);
        const RunResult r = run(yuv10_to_rgb10(), {yuv, back, "5", "3"});
        EXPECT_EQ(r.status, c.status) << c.input.substr(0, 30);
        EXPECT_EQ(r.err, "yuv10-to-rgb10: " + c.err + "\n");
    }

    // Usage errors: status 2, the usage line on standard error.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{yuv, back, "5"}, {yuv, back, "5", "3", "--y4m"}}) {
        const RunResult r = run(yuv10_to_rgb10(), args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("Usage: yuv10-to-rgb10 infile outfile width height [options]\n", 0),
                  0u)
            << r.err;
    }
}

TEST_F(Rgb10ToYuv10Cli, InputThatIsNotTenBitRgbIsSaidSo) {
    // Samples above 1023 (8-bit data given as 16-bit, say), and a y4m stream
    // given where raw frames are read: a warning each, output and status as
    // without it.
    std::vector<std::uint16_t> rgb = rgb16_frame(4, 1023, 1024, 0);
    rgb[8] = 65535;
    write_file(in, le16_bytes(rgb));
    for (const auto& [program, args] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {rgb10_to_yuv10(), {in, out, "2", "2", "1"}}, {dovrak(), {in, out, "2", "2"}}}) {
        const RunResult r = run(program, args);
        EXPECT_EQ(r.status, 0);
        const std::string name = program == dovrak() ? "dovrak" : "rgb10-to-yuv10";
        EXPECT_EQ(r.err, name + ": warning: " + in +
                             ": 5 samples above 1023: the input is not 10-bit RGB, and their "
                             "results are clamped\n");
    }
    const std::string y4m = "YUV4MPEG2 W2 H2\nFRAME\n" + std::string(24 - 22, 'x');
    write_file(in, y4m + std::string(24, '\0'));
    const RunResult r = run(dovrak(), {in, out, "2", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.err.substr(0, r.err.find('\n')),
        "dovrak: warning: " + in + ": it begins like a YUV4MPEG2 stream but is read as raw frames");
    EXPECT_EQ(read_file(out).size(), 2u * 6);
}
