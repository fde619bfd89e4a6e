// The README's ffmpeg recipes, exercised when ffmpeg is installed: a picture
// from one of ffmpeg's test sources becomes a 10-bit planar R, G, B input, goes
// through dovrak and yuv420-to-rgb, and both outputs are read back by ffmpeg
// the way the README says to view them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "support.hpp"

using namespace testing_support;

namespace {

std::string find_ffmpeg() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/ffmpeg";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Planar R, G, B to interleaved RGB bytes.
std::vector<std::uint8_t> interleave(const std::vector<std::uint8_t>& planes) {
    const std::size_t n = planes.size() / 3;
    std::vector<std::uint8_t> out(planes.size());
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t p = 0; p < 3; ++p) out[3 * i + p] = planes[p * n + i];
    return out;
}

}  // namespace

TEST(FfmpegInterop, RecipesRoundTripAPicture) {
    const std::string ffmpeg = find_ffmpeg();
    if (ffmpeg.empty())
        GTEST_SKIP() << "ffmpeg is not installed; the ffmpeg recipes are not checked";
    ScratchDir dir;
    const std::string size = "320x240", W = "320", H = "240";
    const auto ff = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-nostdin", "-v", "error", "-y"});
        const RunResult r = run(ffmpeg, args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0;
    };
    // Any picture to 10-bit planar R, G, B: gbrp10le holds G, B, R, so the
    // planes are shuffled to put R first. The same picture in 8 bits serves as
    // the reference.
    const std::vector<std::string> source = {
        "-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=1", "-frames:v", "1"};
    auto to_rgb10 = source, to_rgb8 = source;
    to_rgb10.insert(to_rgb10.end(), {"-vf", "format=gbrp10le,shuffleplanes=2:0:1", "-pix_fmt",
                                     "gbrp10le", "-f", "rawvideo", dir.path("src.rgb10")});
    to_rgb8.insert(to_rgb8.end(), {"-vf", "format=gbrp,shuffleplanes=2:0:1", "-pix_fmt", "gbrp",
                                   "-f", "rawvideo", dir.path("src.rgb8")});
    ASSERT_TRUE(ff(to_rgb10));
    ASSERT_TRUE(ff(to_rgb8));

    ASSERT_EQ(run(dovrak(), {dir.path("src.rgb10"), dir.path("out.yuv420"), W, H}).status, 0);
    ASSERT_EQ(run(yuv420_to_rgb(), {dir.path("out.yuv420"), dir.path("out.rgb8"), W, H}).status, 0);

    // The round trip stays close to the source: chroma subsampling blurs
    // colour edges, so the bound is on the mean and on 90 % of the samples.
    const auto src = read_file(dir.path("src.rgb8")), out = read_file(dir.path("out.rgb8"));
    ASSERT_EQ(src.size(), out.size());
    std::vector<int> diff(src.size());
    double total = 0;
    for (std::size_t i = 0; i < src.size(); ++i) total += diff[i] = std::abs(src[i] - out[i]);
    std::sort(diff.begin(), diff.end());
    EXPECT_LE(total / src.size(), 4.0);
    EXPECT_LE(diff[diff.size() * 9 / 10], 6);

    // Viewing a yuv420-to-rgb output: read as gbrp and shuffled back, ffmpeg
    // sees exactly our pixels.
    ASSERT_TRUE(
        ff({"-f", "rawvideo", "-pix_fmt", "gbrp", "-s", size, "-i", dir.path("out.rgb8"), "-vf",
            "shuffleplanes=1:2:0", "-pix_fmt", "rgb24", "-f", "rawvideo", dir.path("view.rgb24")}));
    EXPECT_EQ(read_file(dir.path("view.rgb24")), interleave(out));

    // Viewing a dovrak output: full-range BT.709 4:2:0, which ffmpeg turns into
    // the same colours as yuv420-to-rgb, give or take one code of rounding.
    ASSERT_TRUE(ff({"-f", "rawvideo", "-pix_fmt", "yuv420p", "-color_range", "pc", "-colorspace",
                    "bt709", "-s", size, "-i", dir.path("out.yuv420"), "-pix_fmt", "rgb24", "-f",
                    "rawvideo", dir.path("yuvview.rgb24")}));
    const auto seen = read_file(dir.path("yuvview.rgb24")), ours = interleave(out);
    ASSERT_EQ(seen.size(), ours.size());
    int worst = 0;
    for (std::size_t i = 0; i < seen.size(); ++i)
        worst = std::max(worst, std::abs(seen[i] - ours[i]));
    EXPECT_LE(worst, 1);
    // And as a picture file.
    EXPECT_TRUE(
        ff({"-f", "rawvideo", "-pix_fmt", "yuv420p", "-color_range", "pc", "-colorspace", "bt709",
            "-s", size, "-i", dir.path("out.yuv420"), "-frames:v", "1", dir.path("view.png")}));
}

TEST(FfmpegInterop, StreamRecipesNeedNoIntermediateFile) {
    const std::string ffmpeg = find_ffmpeg();
    if (ffmpeg.empty())
        GTEST_SKIP() << "ffmpeg is not installed; the stream recipes are not checked";
    ScratchDir dir;
    const std::string src = dir.path("src.rgb10");
    const std::string ff = ffmpeg + " -nostdin -v error -y ";
    const std::string make_rgb10 = ff +
                                   "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 5 "
                                   "-vf format=gbrp10le,shuffleplanes=2:0:1 -pix_fmt gbrp10le "
                                   "-f rawvideo ";
    const auto sh = [](const std::string& command) {
        const RunResult r = run("/bin/sh", {"-c", "set -e; " + command});
        EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
        return r;
    };
    sh(make_rgb10 + src);
    ASSERT_EQ(run(dovrak(), {src, dir.path("file.yuv"), "320", "240"}).status, 0);
    ASSERT_EQ(run(rgb10_to_yuv10(), {src, dir.path("file.yuv10"), "320", "240", "-1"}).status, 0);

    // ffmpeg | dovrak | ffmpeg, every step a pipe.
    sh(make_rgb10 + "- | " + dovrak() + " - - 320 240 | " + ffmpeg +
       " -v error -y -f rawvideo -pix_fmt yuv420p -s 320x240 -i - -f rawvideo " +
       dir.path("piped.yuv"));
    EXPECT_EQ(read_file(dir.path("piped.yuv")), read_file(dir.path("file.yuv")));
    EXPECT_EQ(read_file(dir.path("piped.yuv")).size(), 5u * 320 * 240 * 3 / 2);

    // frame-snr with its reference from a pipe gives the report of the files.
    const RunResult from_files =
        run(frame_snr(), {dir.path("file.yuv10"), dir.path("file.yuv10"), "1", "240", "320"});
    const RunResult piped = sh(make_rgb10 + "- | " + rgb10_to_yuv10() + " - - 320 240 -1 | " +
                               frame_snr() + " " + dir.path("file.yuv10") + " - 1 240 320");
    EXPECT_EQ(piped.out, from_files.out);
    // Target frame i against reference frame 2i: frames 0, 1 and 2 of 5.
    EXPECT_NE(piped.out.find("\n0\t0.000\t"), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("\n2\t"), std::string::npos) << piped.out;
    EXPECT_EQ(piped.out.find("\n3\t"), std::string::npos) << piped.out;

    // YUV4MPEG2: ffmpeg reads dovrak's y4m to exactly the raw bytes, as full
    // range, and a y4m that ffmpeg writes converts to what the raw bytes give,
    // through pipes.
    ASSERT_EQ(run(dovrak(), {src, dir.path("out.y4m"), "320", "240"}).status, 0);
    sh(ffmpeg + " -v error -y -f yuv4mpegpipe -i " + dir.path("out.y4m") +
       " -f rawvideo -pix_fmt yuv420p " + dir.path("back.yuv"));
    EXPECT_EQ(read_file(dir.path("back.yuv")), read_file(dir.path("file.yuv")));
    const RunResult probe = sh(ffmpeg + " -v info -f yuv4mpegpipe -i " + dir.path("out.y4m") +
                               " -frames:v 1 -f null - 2>&1");
    EXPECT_NE(probe.out.find("pc"), std::string::npos) << probe.out;
    ASSERT_EQ(
        run(yuv420_to_rgb(), {dir.path("file.yuv"), dir.path("file.rgb"), "320", "240"}).status, 0);
    sh(ffmpeg + " -v error -f rawvideo -pix_fmt yuv420p -s 320x240 -i " + dir.path("file.yuv") +
       " -f yuv4mpegpipe - | " + yuv420_to_rgb() + " - - 320 240 > " + dir.path("y4m.rgb"));
    EXPECT_EQ(read_file(dir.path("y4m.rgb")), read_file(dir.path("file.rgb")));
}

TEST(FfmpegInterop, ExperimentLoopThroughEncodersAndBack) {
    // The README's loop: 10-bit RGB to YCoCg-R y4m, an encoder, the decoder
    // back to y4m, the inverse to RGB, and the measurement. Lossless through
    // ffv1 gives back the source exactly; x265 (12-bit 4:4:4) and x264 (the
    // 4:2:0 route of dovrak) are measured.
    const std::string ffmpeg = find_ffmpeg();
    if (ffmpeg.empty())
        GTEST_SKIP() << "ffmpeg is not installed; the experiment recipes are not checked";
    ScratchDir dir;
    const std::string ff = ffmpeg + " -nostdin -v error -y ";
    const auto sh = [](const std::string& command) {
        const RunResult r = run("/bin/sh", {"-c", "set -e; " + command});
        EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
        return r;
    };
    const std::string src = dir.path("src.rgb10");
    sh(ff +
       "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 4 "
       "-vf format=gbrp10le,shuffleplanes=2:0:1 -pix_fmt gbrp10le -f rawvideo " +
       src);
    const std::string to_y4m = rgb10_to_yuv10() + " " + src + " - 320 240 -1 --y4m | ";
    const std::string decode = " -f yuv4mpegpipe -strict -1 - | ";

    sh(to_y4m + ff + "-i - -c:v ffv1 " + dir.path("lossless.mkv"));
    sh(ff + "-i " + dir.path("lossless.mkv") + decode + yuv10_to_rgb10() + " - " +
       dir.path("back.rgb10") + " 320 240");
    EXPECT_EQ(read_file(dir.path("back.rgb10")), read_file(src));

    const RunResult encoders = sh(ff + "-hide_banner -encoders");
    if (encoders.out.find("libx265") != std::string::npos) {
        sh(to_y4m + ff + "-i - -c:v libx265 -x265-params log-level=error:crf=8 " +
           dir.path("x265.mkv"));
        sh(ff + "-i " + dir.path("x265.mkv") + decode + yuv10_to_rgb10() + " - " +
           dir.path("x265.rgb10") + " 320 240 2>/dev/null");
        const RunResult r = sh(frame_snr() + " " + dir.path("x265.rgb10") + " " + src +
                               " 0 240 320 --format rgb10 --json -");
        EXPECT_NE(r.out.find("\"format\": \"rgb10\""), std::string::npos);
        EXPECT_NE(r.out.find("\"summary\": {\"frames\": 4, "), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("\"average\": {\"r\": null"), std::string::npos) << r.out;
    }
    if (encoders.out.find("libx264") != std::string::npos) {
        sh(dovrak() + " " + src + " " + dir.path("src.yuv420") + " 320 240");
        sh(dovrak() + " " + src + " - 320 240 --y4m | " + ff +
           "-i - -c:v libx264 -crf 12 -x264-params colormatrix=bt709:range=pc " +
           dir.path("x264.mkv"));
        const RunResult r = sh(ff + "-i " + dir.path("x264.mkv") + " -f yuv4mpegpipe - | " +
                               frame_snr() + " - " + dir.path("src.yuv420") + " 0 --format yuv420");
        EXPECT_EQ(r.out.rfind("\nFrame\tSnrY\tSnrCb\tSnrCr\n0\t", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\n3\t"), std::string::npos) << r.out;
    }
}
