#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

#include "report.hpp"
#include "snr.hpp"
#include "support.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

constexpr std::size_t kDefaultPixels = 160 * 112;
const std::string kHeader = "\nFrame\tSnrY\tSnrU\tSnrV";
// What frame-snr says when it takes the default size.
const std::string kDefaultSize =
    "frame-snr: warning: no size given: assuming the default 160 x 112 (give height and width)\n";

std::string frame_line(int i, const FrameSnr& f) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "\n%d\t%.3f\t%.4f\t%.4f", i, f.y, double{f.u}, f.v);
    return buf;
}

// Frames of the default geometry in which plane 1 sample 0..k-1 are 1 and all
// else is 0: frame k measured against an all-zero frame has luma SSE k.
std::vector<std::uint16_t> marked_frames(int count) {
    std::vector<std::uint16_t> s;
    for (int k = 0; k < count; ++k) {
        std::vector<std::uint16_t> f(3 * kDefaultPixels, 0);
        std::fill(f.begin() + kDefaultPixels, f.begin() + kDefaultPixels + k, 1);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

FrameSnr luma_only(double sse) {
    return FrameSnr{snr_db(sse, 160, 112, kLumaPeakSquared), 0, 0};
}

}  // namespace

TEST(SquaredError, IsExactForExtremeAndNegativeSamples) {
    std::mt19937 rng(99);
    std::vector<std::int16_t> t(4099), r(4099);
    const std::int16_t extremes[] = {-32768, 32767, -1, 0, 1, 2047};
    for (std::size_t i = 0; i < t.size(); ++i) {
        t[i] = (i % 3 == 0) ? extremes[rng() % 6] : static_cast<std::int16_t>(rng());
        r[i] = (i % 5 == 0) ? extremes[rng() % 6] : static_cast<std::int16_t>(rng());
    }
    t[7] = 32767, r[7] = -32768;  // |d| = 65535, far beyond a 32-bit square
    std::uint64_t want = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::int64_t d = std::int64_t{t[i]} - r[i];
        want += static_cast<std::uint64_t>(d * d);
    }
    EXPECT_EQ(squared_error_c(t.data(), r.data(), t.size()), want);
    EXPECT_EQ(plane_sse(t.data(), r.data(), t.size()), static_cast<double>(want));
}

TEST(Snr, ReportedFiguresOfKnownErrors) {
    char buf[64];
    // Every sample one off: 10 * log10(peak^2) whatever the size.
    for (auto [w, h] : {std::pair{160, 112}, std::pair{3, 7}}) {
        const double sse = double(w) * h;
        std::snprintf(buf, sizeof buf, "%.3f %.4f", snr_db(sse, w, h, kLumaPeakSquared),
                      double(float(snr_db(sse, w, h, kChromaPeakSquared))));
        EXPECT_STREQ(buf, "60.198 66.2224");
    }
    // A single error of 1 in a default frame.
    std::snprintf(buf, sizeof buf, "%.3f", snr_db(1, 160, 112, kLumaPeakSquared));
    EXPECT_STREQ(buf, "102.731");
    EXPECT_EQ(snr_db(0, 160, 112, kLumaPeakSquared), 0.0);
}

TEST(Snr, ChromaUIsSinglePrecisionAndSumsAreRoundedPerFrame) {
    // 181 samples one above the reference in each plane of a default frame.
    std::vector<std::int16_t> ref(3 * kDefaultPixels, 100), tgt = ref;
    for (std::size_t p = 0; p < 3; ++p)
        std::fill(tgt.begin() + p * kDefaultPixels, tgt.begin() + p * kDefaultPixels + 181, 101);
    const FrameSnr f = measure_frame(tgt.data(), ref.data(), {160, 112});
    EXPECT_EQ(frame_line(0, f), "\n0\t80.154\t86.1789\t86.1790");
    SnrSums sums;
    sums.add(f);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f %.4f %.4f", double(sums.y) / 1.0, double(sums.u) / 1.0,
                  double(sums.v) / 1.0);
    EXPECT_STREQ(buf, "80.1541 86.1789 86.1789");
}

class FrameSnrCli : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string target = dir.path("target.yuv"), reference = dir.path("reference.yuv");
    RunResult snr(std::vector<std::string> extra) {
        std::vector<std::string> args{target, reference};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(frame_snr(), args);
    }
};

TEST_F(FrameSnrCli, ReportForOneFrameWithDefaultGeometry) {
    std::vector<std::uint16_t> ref(3 * kDefaultPixels, 100), tgt = ref;
    for (std::size_t p = 0; p < 3; ++p)
        std::fill(tgt.begin() + p * kDefaultPixels, tgt.begin() + p * kDefaultPixels + 181, 101);
    write_file(target, le16_bytes(tgt));
    write_file(reference, le16_bytes(ref));
    const RunResult r = snr({"0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kDefaultSize);
    EXPECT_EQ(r.out, kHeader + "\n0\t80.154\t86.1789\t86.1790" +
                         "\n\nAverage SNR Y: 80.1541\nAverage SNR U: 86.1789"
                         "\nAverage SNR V: 86.1789\n");

    // Identical files: zeros, not infinities.
    write_file(target, le16_bytes(ref));
    EXPECT_EQ(snr({"0"}).out, kHeader + "\n0\t0.000\t0.0000\t0.0000" +
                                  "\n\nAverage SNR Y: 0.0000\nAverage SNR U: 0.0000"
                                  "\nAverage SNR V: 0.0000\n");

    // 65535 reads as -1: a luma error of 1.
    std::vector<std::uint16_t> one = ref;
    one[kDefaultPixels + 5] = 65535;
    ref[kDefaultPixels + 5] = 0;
    write_file(target, le16_bytes(one));
    write_file(reference, le16_bytes(ref));
    const RunResult neg = snr({"0"});
    const std::string want = kHeader + "\n0\t102.731\t0.0000\t0.0000\n";
    EXPECT_EQ(neg.out.substr(0, want.size()), want);
}

TEST_F(FrameSnrCli, FrameSkipAlignsTargetFramesWithEveryNthReferenceFrame) {
    // Reference frame k differs from the all-zero target by a luma SSE of k, so
    // each printed SnrY names the reference frame it was measured against.
    const auto expect_lines = [&](const RunResult& r, std::vector<int> ref_frames) {
        std::string want = kHeader;
        SnrSums sums;
        for (std::size_t i = 0; i < ref_frames.size(); ++i) {
            const FrameSnr f = luma_only(ref_frames[i]);
            want += frame_line(static_cast<int>(i), f);
            sums.add(f);
        }
        char avg[128];
        const double k = float(ref_frames.size());
        std::snprintf(avg, sizeof avg,
                      "\n\nAverage SNR Y: %.4f\nAverage SNR U: 0.0000\nAverage SNR V: 0.0000\n",
                      double{sums.y} / k);
        EXPECT_EQ(r.out, want + avg);
        EXPECT_EQ(r.status, 0);
    };
    write_file(target, le16_bytes(std::vector<std::uint16_t>(5 * 3 * kDefaultPixels, 0)));
    write_file(reference, le16_bytes(marked_frames(12)));
    expect_lines(snr({"1"}), {0, 2, 4, 6, 8});
    expect_lines(snr({"3"}), {0, 4, 8});

    write_file(target, le16_bytes(std::vector<std::uint16_t>(12 * 3 * kDefaultPixels, 0)));
    write_file(reference, le16_bytes(marked_frames(5)));
    for (const char* skip : {"0", "-3", "none"}) expect_lines(snr({skip}), {0, 1, 2, 3, 4});
    // The JSON gives the skip used, so that --merge takes it back.
    const std::string json = dir.path("skip.json");
    ASSERT_EQ(snr({"-3", "--json", json}).status, 0);
    const auto used = read_file(json);
    EXPECT_NE(std::string(used.begin(), used.end()).find("\"frame_skip\": 0,"), std::string::npos);
    EXPECT_EQ(run(frame_snr(), {"--merge", json}).status, 0);
    // --frames ends a run on an endless input.
    const RunResult endless =
        run("/usr/bin/timeout", {"20", frame_snr(), "/dev/zero", reference, "0", "--frames", "3"});
    EXPECT_EQ(endless.status, 0) << endless.err;

    // Ten frames each with skip 1: only the five target frames whose reference
    // frame exists are measured.
    write_file(target, le16_bytes(std::vector<std::uint16_t>(10 * 3 * kDefaultPixels, 0)));
    write_file(reference, le16_bytes(marked_frames(10)));
    expect_lines(snr({"1"}), {0, 2, 4, 6, 8});
}

TEST_F(FrameSnrCli, GeometryArgumentsAndTrailingPartialFrames) {
    // 6 x 4 frames; the reference has a trailing partial frame that is ignored.
    std::vector<std::uint16_t> ref(3 * 24 * 2, 7), tgt = ref;
    tgt[24 + 3] = 8;  // frame 0, luma
    auto ref_bytes = le16_bytes(ref);
    ref_bytes.resize(ref_bytes.size() + 100, 1);
    write_file(target, le16_bytes(tgt));
    write_file(reference, ref_bytes);
    const RunResult hw = snr({"0", "4", "6"});
    EXPECT_EQ(hw.status, 0);
    EXPECT_EQ(hw.err, "frame-snr: warning: " + reference +
                          ": 100 trailing bytes ignored after 2 whole frames of 144 bytes\n");
    EXPECT_EQ(std::count(hw.out.begin(), hw.out.end(), '\t'), 3 + 2 * 3);
    EXPECT_EQ(snr({"0", "6", "4"}).out, hw.out);
    EXPECT_EQ(snr({"0", "4", "6", "extra", "args"}).out, hw.out);
}

TEST_F(FrameSnrCli, NoWholeFrameToComparePrintsNanAndFails) {
    write_file(target, std::string(100, '\0'));
    write_file(reference, le16_bytes(marked_frames(2)));
    const RunResult r = snr({"0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kHeader + "\n\nAverage SNR Y: nan\nAverage SNR U: nan\nAverage SNR V: nan\n");
    EXPECT_EQ(r.err,
              kDefaultSize +
                  "frame-snr: warning: the inputs hold different numbers of frames: compared 0 "
                  "of the 0 frames of " +
                  target + " with 0 of the 2 frames of " + reference +
                  " (frame skip 0)\nframe-snr: warning: " + target +
                  ": 100 trailing bytes ignored after 0 whole frames of 107520 bytes\n");
}

TEST_F(FrameSnrCli, UsageOpenErrorsAndBadSizes) {
    const std::string usage = "\nError!\nUsage: " + frame_snr() +
                              " target_file reference_file frame_skip [height] [width]\n";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {target}, {target, reference}, {target, reference, "0", "112"}}) {
        const RunResult r = run(frame_snr(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, usage);
    }
    const RunResult no_target = snr({"0"});
    EXPECT_EQ(no_target.status, 255);
    EXPECT_EQ(no_target.out, "");
    EXPECT_EQ(no_target.err, "Error open file " + target + "\n");
    write_file(target, le16_bytes(marked_frames(1)));
    const RunResult no_ref = snr({"0"});
    EXPECT_EQ(no_ref.status, 255);
    EXPECT_EQ(no_ref.out, "");
    EXPECT_EQ(no_ref.err, "Error open file " + reference + "\n");

    write_file(reference, le16_bytes(marked_frames(1)));
    for (const auto& hw : std::vector<std::pair<std::string, std::string>>{
             {"0", "160"}, {"112", "x"}, {"-112", "-160"}, {"-1", "5"}}) {
        const RunResult r = snr({"0", hw.first, hw.second});
        EXPECT_EQ(r.status, 1) << hw.first << " " << hw.second;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("frame-snr: ", 0), 0u) << r.err;
    }
}

TEST_F(FrameSnrCli, SkippedReferenceFramesPastTwoGibibytes) {
    // Reference frame 20001 starts past 2^31 bytes; with frame_skip 20000 the
    // second target frame is measured against it. The reference is sparse.
    const std::uint64_t frame = 6 * kDefaultPixels;
    const std::uint64_t far = 20001;
    if (!file_size_allowed((far + 1) * frame))
        GTEST_SKIP() << "the file-size limit (ulimit -f) forbids the 2 GiB sparse file this needs";
    write_file(target, le16_bytes(std::vector<std::uint16_t>(2 * 3 * kDefaultPixels, 0)));
    {
        const int fd = ::open(reference.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>((far + 1) * frame)), 0);
        const auto marked = le16_bytes(marked_frames(4));  // frame 3 has luma SSE 3
        ASSERT_EQ(::pwrite(fd, marked.data() + 3 * frame, frame, static_cast<off_t>(far * frame)),
                  static_cast<ssize_t>(frame));
        ::close(fd);
    }
    const RunResult r = snr({"20000"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string want = kHeader + frame_line(0, luma_only(0)) + frame_line(1, luma_only(3));
    EXPECT_EQ(r.out.substr(0, want.size() + 2), want + "\n\n");
}

TEST_F(FrameSnrCli, CsvJsonAndPlotAgreeWithIndependentFigures) {
    // 4 x 2 frames: frame 0 identical, frame 1 differs in luma only (SSE 1),
    // frame 2 in every plane (Y: 2^2, U: 3^2 + 4^2, V: 65535^2 across the
    // sign); the reference has a third, unmatched frame.
    constexpr int n = 8;
    std::vector<std::uint16_t> ref(3 * 3 * n, 100), tgt(3 * 3 * n, 100);
    ref.resize(4 * 3 * n, 5);
    tgt[3 * n + n] += 1;
    tgt[6 * n + n] += 2;
    tgt[6 * n] += 3, tgt[6 * n + 1] += 4;
    ref[6 * n + 2 * n] = 0x8000, tgt[6 * n + 2 * n] = 0x7FFF;
    write_file(target, le16_bytes(tgt));
    write_file(reference, le16_bytes(ref));
    const std::uint64_t sse[3][3] = {{0, 0, 0}, {1, 0, 0}, {4, 25, 65535ull * 65535}};  // y, u, v
    const auto db = [](double peak2, double sse) { return 10 * std::log10(peak2 * n / sse); };

    const RunResult text = snr({"0", "2", "4"});
    const RunResult csv = snr({"0", "2", "4", "--csv", "-"});
    EXPECT_EQ(csv.status, text.status);
    std::istringstream rows(csv.out);
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row, "frame,reference_frame,sse_y,sse_u,sse_v,snr_y,snr_u,snr_v");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(std::getline(rows, row));
        std::istringstream cells(row);
        std::vector<std::string> c;
        for (std::string cell; std::getline(cells, cell, ',');) c.push_back(cell);
        ASSERT_EQ(c.size(), 8u) << row;
        EXPECT_EQ(c[0] + "," + c[1], std::to_string(i) + "," + std::to_string(i));
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(c[2 + p], std::to_string(sse[i][p])) << row;
            if (sse[i][p] == 0) {
                EXPECT_EQ(c[5 + p], "inf") << row;
                continue;
            }
            const double want = db(p == 0 ? 1023.0 * 1023 : 2047.0 * 2047, double(sse[i][p]));
            EXPECT_NEAR(std::stod(c[5 + p]), want, 1e-6) << row;
        }
    }
    EXPECT_FALSE(std::getline(rows, row));
    // The text report's per-frame figures are these values rounded.
    EXPECT_NE(text.out.find("\n2\t" +
                            [&] {
                                char b[32];
                                std::snprintf(b, sizeof b, "%.3f", db(1023.0 * 1023, 4));
                                return std::string(b);
                            }()),
              std::string::npos);

    const RunResult json = snr({"0", "2", "4", "--json", "-", "--csv", dir.path("x.csv")});
    EXPECT_EQ(json.out.find("Frame"), std::string::npos);  // no text report beside it
    EXPECT_EQ(read_file(dir.path("x.csv")),
              std::vector<std::uint8_t>(csv.out.begin(), csv.out.end()));
    EXPECT_NE(json.out.find("{\"frame\": 0, \"reference_frame\": 0, \"sse\": {\"y\": 0, \"u\": 0, "
                            "\"v\": 0}, \"snr\": {\"y\": null, \"u\": null, \"v\": null}}"),
              std::string::npos)
        << json.out;
    const auto global = [&](double peak2, double total) {
        char b[64];
        const double v = 10 * std::log10(peak2 * 4 * 2 * 3 / total);
        return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
    };
    EXPECT_NE(json.out.find("\"global\": {\"y\": " + global(1023.0 * 1023, 5) +
                            ", \"u\": " + global(2047.0 * 2047, 25) +
                            ", \"v\": " + global(2047.0 * 2047, 65535.0 * 65535) + "}"),
              std::string::npos)
        << json.out;
    // min and max skip identical planes: U has frame 2 only.
    EXPECT_NE(json.out.find("\"summary\": {\"frames\": 3, "), std::string::npos);
    EXPECT_NE(json.out.find("\"min\": {\"y\": "), std::string::npos);
    if (std::system("command -v python3 >/dev/null") == 0) {
        write_file(dir.path("r.json"), json.out);
        EXPECT_EQ(std::system(("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                               "s=d[\"summary\"]; assert s[\"min\"][\"u\"]==s[\"max\"][\"u\"]; "
                               "assert s[\"min\"][\"y\"]<s[\"max\"][\"y\"]; "
                               "assert len(d[\"frames\"])==3' " +
                               dir.path("r.json"))
                                  .c_str()),
                  0);
    }

    // No frame compared: the header and an empty list, and the usual status.
    write_file(target, "");
    const RunResult none = snr({"0", "2", "4", "--json", "-", "--csv", dir.path("e.csv")});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("\"frames\": [],\n \"summary\": {\"frames\": 0, \"average\": {\"y\": "
                            "null, \"u\": null, \"v\": null}, \"global\": {\"y\": null"),
              std::string::npos)
        << none.out;
    EXPECT_EQ(read_file(dir.path("e.csv")).size(), 58u);  // the header line alone

    // Two reports on standard output are refused; a report never replaces an input.
    EXPECT_EQ(snr({"0", "2", "4", "--json", "-", "--csv", "-"}).status, 1);
    EXPECT_EQ(snr({"0", "2", "4", "--csv", reference}).status, 1);
    EXPECT_EQ(read_file(reference).size(), 4u * 3 * n * 2);
}

TEST_F(FrameSnrCli, PlotIsAnSvgPictureARendererDraws) {
    std::vector<std::uint16_t> ref(3 * 3 * 24 * 5, 300), tgt = ref;
    for (std::size_t i = 0; i < tgt.size(); i += 5) tgt[i] = static_cast<std::uint16_t>(i % 41);
    for (std::size_t i = 0; i < 3 * 3 * 24; ++i) tgt[i] = ref[i];  // frame 0 lossless
    write_file(target, le16_bytes(tgt));
    write_file(reference, le16_bytes(ref));
    const std::string svg = dir.path("plot.svg");
    const RunResult r = snr({"0", "6", "12", "--plot", svg, "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = read_file(svg);
    const std::string text(bytes.begin(), bytes.end());
    for (const char* part : {"<svg", "frame number", "SNR (dB)", "Y average", "lossless frame",
                             "stroke-dasharray", "frame 0: Y lossless", "12 x 6"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    // The dashed average is the mean over the frames where the plane differs,
    // not the text report's average, which counts the lossless frame as 0.
    std::istringstream rows(r.out);
    std::string row;
    std::getline(rows, row);
    double sum = 0;
    int differing = 0;
    while (std::getline(rows, row)) {
        std::istringstream cells(row);
        std::string y;
        for (int c = 0; c <= 5; ++c) std::getline(cells, y, ',');  // snr_y
        if (y.rfind("inf", 0) == 0) continue;
        sum += std::stod(y), ++differing;
    }
    ASSERT_EQ(differing, 4);
    char legend[64];
    std::snprintf(legend, sizeof legend, ">Y average %.1f dB<", sum / differing);
    EXPECT_NE(text.find(legend), std::string::npos) << legend;
    if (std::system("command -v xmllint >/dev/null && command -v rsvg-convert >/dev/null") != 0)
        GTEST_SKIP() << "xmllint or rsvg-convert missing: the picture is not rendered";
    EXPECT_EQ(std::system(("xmllint --noout " + svg).c_str()), 0);
    const std::string png = dir.path("plot.png");
    ASSERT_EQ(std::system(("rsvg-convert -o " + png + " " + svg).c_str()), 0);
    EXPECT_GT(read_file(png).size(), 10000u);
}

TEST_F(FrameSnrCli, EveryFormatIsMeasuredWithItsPlanesAndPeaks) {
    // Two frames of each format at 3 x 3; frame 0 is identical, frame 1
    // differs in the first sample of the first plane by 1 and of the last
    // plane by 2. SNR = 10 log10(peak^2 n / SSE), n the plane's samples (4 for
    // the 2 x 2 chroma of 4:2:0); identical planes are inf, and the averages
    // are means over the frames where the plane differs.
    struct Case {
        const char* format;
        std::vector<std::string> names;
        double peak;
        std::size_t last_plane_samples, frame_bytes;
    };
    const Case cases[] = {{"rgb10", {"R", "G", "B"}, 1023, 9, 54},
                          {"rgb8", {"R", "G", "B"}, 255, 9, 27},
                          {"yuv420", {"Y", "Cb", "Cr"}, 255, 4, 17}};
    const auto fixed = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.4f", v);
        return std::string(b);
    };
    for (const Case& c : cases) {
        const bool wide = std::string(c.format) == "rgb10";
        std::vector<std::uint8_t> ref(2 * c.frame_bytes, 50), tgt = ref;
        const std::size_t last = c.frame_bytes - c.last_plane_samples * (wide ? 2 : 1);
        tgt[c.frame_bytes] += 1;
        tgt[c.frame_bytes + last] += 2;
        write_file(reference, ref);
        write_file(target, tgt);
        const double first = 10 * std::log10(c.peak * c.peak * 9 / 1);
        const double third = 10 * std::log10(c.peak * c.peak * c.last_plane_samples / 4);
        const std::string report = "\nFrame\tSnr" + c.names[0] + "\tSnr" + c.names[1] + "\tSnr" +
                                   c.names[2] + "\n0\tinf\tinf\tinf\n1\t" + fixed(first) +
                                   "\tinf\t" + fixed(third) + "\n\nAverage SNR " + c.names[0] +
                                   ": " + fixed(first) + "\nAverage SNR " + c.names[1] +
                                   ": inf\nAverage SNR " + c.names[2] + ": " + fixed(third) + "\n";
        const RunResult r = snr({"0", "3", "3", "--format", c.format});
        EXPECT_EQ(r.status, 0) << c.format << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, report) << c.format;
        const RunResult csv = snr({"0", "3", "3", "--format", c.format, "--csv", "-"});
        std::string header = "frame,reference_frame";
        for (const char* kind : {",sse_", ",snr_"}) {
            for (std::string name : c.names) {
                for (char& ch : name) ch = static_cast<char>(std::tolower(ch));
                header += kind + name;
            }
        }
        EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), header) << c.format;
        EXPECT_NE(csv.out.find("\n1,1,1,0,4,"), std::string::npos) << csv.out;
        const RunResult json = snr({"0", "3", "3", "--format", c.format, "--json", "-"});
        EXPECT_NE(json.out.find(std::string("\"format\": \"") + c.format + "\""),
                  std::string::npos);
        // Nothing compared: nan averages, as for the default format.
        write_file(target, "");
        EXPECT_NE(snr({"0", "3", "3", "--format", c.format})
                      .out.find("\n\nAverage SNR " + c.names[0] + ": nan\n"),
                  std::string::npos);
    }

    // 4:2:0 from YUV4MPEG2 states its size: no size needed, no warning.
    std::vector<std::uint8_t> frame(17, 9);
    const std::string y4m =
        "YUV4MPEG2 W3 H3 F25:1 C420jpeg\nFRAME\n" + std::string(frame.begin(), frame.end());
    write_file(target, y4m);
    frame[16] = 11;
    write_file(reference, frame);
    const RunResult r = snr({"0", "--format=yuv420"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("\nFrame\tSnrY\tSnrCb\tSnrCr\n0\tinf\tinf\t" +
                              fixed(10 * std::log10(255.0 * 255 * 4 / 4)) + "\n",
                          0),
              0u)
        << r.out;
    // Two y4m inputs must agree on the size.
    write_file(reference, "YUV4MPEG2 W5 H3\n");
    EXPECT_EQ(snr({"0", "--format=yuv420"}).err, "frame-snr: cannot read " + reference +
                                                     ": the YUV4MPEG2 frames are 5 x 3 but the "
                                                     "header of " +
                                                     target + " gives 3 x 3\n");
    // The default format reads 12-bit 4:4:4 y4m with its planes Y, Co, Cg.
    write_file(target,
               "YUV4MPEG2 W1 H1 C444p12\nFRAME\n" + std::string("\x01\x00\x02\x00\x03\x00", 6));
    write_file(reference, std::string("\x02\x00\x01\x00\x03\x00", 6));
    EXPECT_EQ(snr({"0"}).out.rfind(kHeader + "\n0\t0.000\t0.0000\t0.0000\n", 0), 0u);
}

TEST_F(FrameSnrCli, UsageErrorsSayWhatWasWrong) {
    write_file(target, "");
    write_file(reference, "");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{target}, "target_file, reference_file and frame_skip are needed"},
        {{target, reference, "0", "112"}, "a height was given without a width"},
        {{target, reference, "0", "--format", "rgb16"},
         "unknown --format 'rgb16': expected yuv10, rgb10, rgb8, yuv420"},
        {{target, reference, "0", "--measure", "ssim,psnr-hvs"},
         "unknown measure 'psnr-hvs': expected snr, ssim, ms-ssim, ciede2000"},
        {{target, reference, "0", "--measure", "ciede2000"},
         "ciede2000 measures rgb10 and rgb8 frames, not yuv10"},
    };
    for (const auto& [args, why] : cases) {
        const RunResult r = run(frame_snr(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Usage: "), std::string::npos);
        EXPECT_EQ(r.err, "frame-snr: " + why + "\n");
    }
}

TEST_F(FrameSnrCli, ReportsNeverShareAFileAndAlwaysParse) {
    // A target whose name is not UTF-8 (and holds U+FFFE): the JSON and the
    // SVG must still parse.
    const std::string odd = dir.path("t\xFF\xEF\xBF\xBE.yuv");
    std::vector<std::uint16_t> ref(3 * 4 * 3, 100), tgt = ref;
    tgt[5] = 90;
    write_file(odd, le16_bytes(tgt));
    write_file(reference, le16_bytes(ref));
    const std::string json = dir.path("r.json"), svg = dir.path("r.svg");
    ASSERT_EQ(
        run(frame_snr(), {odd, reference, "0", "3", "4", "--json", json, "--plot", svg}).status, 0);
    if (std::system("command -v python3 >/dev/null") == 0) {
        EXPECT_EQ(std::system(("python3 -c 'import json,sys; json.load(open(sys.argv[1], "
                               "encoding=\"utf-8\"))' " +
                               json)
                                  .c_str()),
                  0);
    }
    if (std::system("command -v xmllint >/dev/null") == 0) {
        EXPECT_EQ(std::system(("xmllint --noout " + svg).c_str()), 0);
    }

    // Two reports naming one place are refused before anything is written.
    write_file(target, le16_bytes(tgt));
    const std::string a = dir.path("a.txt");
    write_file(a, "keep");
    ASSERT_EQ(::link(a.c_str(), dir.path("hard.txt").c_str()), 0);
    Launch into_a;
    into_a.stdout_file = a;
    const std::vector<std::pair<std::vector<std::string>, Launch>> clashes = {
        {{"--csv", a, "--json", a}, {}},
        {{"--csv", a, "--plot", dir.path("hard.txt")}, {}},
        {{"--csv", "-", "--json", "/dev/stdout"}, into_a},
        {{"--json", a}, into_a},
    };
    for (const auto& [extra, launch] : clashes) {
        write_file(a, "keep");
        std::vector<std::string> args{target, reference, "0", "3", "4"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = run(frame_snr(), args, {}, launch);
        EXPECT_EQ(r.status, 1) << extra[0] << " " << extra[1];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        // (Standard output on the file empties it before the program starts.)
        const std::string left = launch.stdout_file.empty() ? "keep" : "";
        EXPECT_EQ(read_file(a), std::vector<std::uint8_t>(left.begin(), left.end())) << r.err;
    }
    // /dev/null keeps nothing: two reports may go there.
    EXPECT_EQ(snr({"0", "3", "4", "--csv", "/dev/null", "--json", "/dev/null"}).status, 0);
}

TEST_F(FrameSnrCli, MergedReportsOfRangesAreTheWholeRunsReports) {
    // 9 frames of 4 x 2, some lossless, in the classic yuv10 report and an
    // 8-bit one, with frame skip 1: the reports merged from three ranges are
    // the whole run's, byte for byte; ranges that do not fit are refused.
    const auto names = [&](const std::string& tag) {
        return std::vector<std::string>{dir.path(tag + ".txt"), dir.path(tag + ".csv"),
                                        dir.path(tag + ".json"), dir.path(tag + ".svg")};
    };
    const auto reports = [&](const std::string& tag) {
        const auto n = names(tag);
        return std::vector<std::string>{"--csv", n[1], "--json", n[2], "--plot", n[3]};
    };
    for (const char* format : {"yuv10", "rgb8"}) {
        const std::size_t frame = std::string(format) == "yuv10" ? 48 : 24;
        std::vector<std::uint8_t> t(9 * frame), r(18 * frame);
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>(i * 7 % 251);
        for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7 % 249);
        for (std::size_t f : {0, 4})
            std::copy_n(r.begin() + f * 2 * frame, frame, t.begin() + f * frame);
        write_file(target, t);
        write_file(reference, r);
        const std::vector<std::string> base = {"1", "2", "4", "--format", format};
        const auto measure = [&](const std::string& tag, std::vector<std::string> range) {
            std::vector<std::string> args = base;
            args.insert(args.end(), range.begin(), range.end());
            const auto more = reports(tag);
            args.insert(args.end(), more.begin(), more.end());
            const RunResult res = snr(args);
            write_file(names(tag)[0], res.out);
            return res.status;
        };
        ASSERT_EQ(measure("whole", {}), 0);
        ASSERT_EQ(measure("a", {"--frames", "4"}), 0);
        ASSERT_EQ(measure("b", {"--start", "4", "--frames", "1"}), 0);
        ASSERT_EQ(measure("c", {"--start", "5"}), 0);
        std::vector<std::string> merge = {"--merge", names("a")[2], names("b")[2], names("c")[2]};
        const auto more = reports("merged");
        merge.insert(merge.end(), more.begin(), more.end());
        const RunResult merged = run(frame_snr(), merge);
        ASSERT_EQ(merged.status, 0) << merged.err;
        write_file(names("merged")[0], merged.out);
        for (std::size_t k = 0; k < 4; ++k)
            EXPECT_EQ(read_file(names("merged")[k]), read_file(names("whole")[k]))
                << format << ' ' << names("whole")[k];
    }
    // A gap, an overlap, another run, the merged report over a range's, a
    // report that is not one; and the first range's report (rgb8, frame skip
    // 1) edited: figures its squared errors do not give, text that is not
    // JSON, a FIFO and a value too long for a report are refused, while any
    // valid layout of the JSON is read as it is.
    ASSERT_EQ(snr({"0", "2", "4", "--format", "rgb8", "--start", "5", "--json", dir.path("d.json")})
                  .status,
              0);
    write_file(dir.path("x.json"), std::string("{\"frames\": 3}"));
    const std::vector<std::uint8_t> bytes_a = read_file(names("a")[2]);
    const std::string text_a(bytes_a.begin(), bytes_a.end());
    // text_a with the value after `at` (after `after`, if given) replaced by `put`.
    const auto value = [&](const std::string& name, const std::string& at, const std::string& put,
                           const std::string& after = "") {
        std::string t = text_a;
        const std::size_t from = t.find(at, t.find(after)) + at.size();
        t.replace(from, t.find_first_of(",}", from) - from, put);
        write_file(dir.path(name), t);
        return dir.path(name);
    };
    const std::size_t head_end = text_a.find("\n \"frames\"");
    write_file(dir.path("late.json"),  // "frames" before the size; tabs and CRs between tokens
               "{" + text_a.substr(head_end + 2, text_a.rfind('}') - head_end - 2) + ",\t\r\n" +
                   text_a.substr(1, head_end - 2) + "}\n");
    write_file(dir.path("cut.json"), text_a.substr(0, text_a.find("\n ]") + 3));
    write_file(dir.path("more.json"), text_a + "x");
    const std::string fifo = dir.path("fifo.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{names("a")[2], names("c")[2]}, "frames 4 to 4 are missing"},
        {{names("a")[2], names("b")[2], names("b")[2]}, "the ranges overlap"},
        {{names("a")[2], names("b")[2], dir.path("d.json")}, "frame skip 0 where"},
        {{names("a")[2], "--json", names("a")[2]}, "it is one of the inputs"},
        {{dir.path("x.json")}, "it is not a frame-snr JSON report"},
        {{value("nan.json", "\"snr\": {\"r\": ", "nan")}, "it is not valid JSON"},
        {{value("big.json", "\"snr\": {\"r\": ", "1e17", "\"frame\": 1,")},
         "but its squared error"},
        {{value("inf.json", "\"snr\": {\"r\": ", "Infinity")}, "it is not valid JSON"},
        {{value("ref.json", "\"reference_frame\": ", "1")}, "which frame skip 1 does not give"},
        {{value("lead.json", "\"width\": ", "04")}, "it is not valid JSON"},
        {{value("dot.json", "\"height\": ", "2.")}, "it is not valid JSON"},
        {{value("lone.json", "\"target\": ", "\"\\ud800\"")}, "it is not valid JSON"},
        {{value("long.json", "\"target\": ", "\"" + std::string(1100000, 'a') + "\"")},
         "longer than 1048576 bytes"},
        {{dir.path("cut.json")}, "it is not valid JSON"},
        {{dir.path("more.json")}, "it is not valid JSON"},
        {{fifo}, "it is not a regular file"},
    };
    for (const auto& [args, why] : refused) {
        std::vector<std::string> a = {"--merge"};
        a.insert(a.end(), args.begin(), args.end());
        const RunResult r = run(frame_snr(), a);
        EXPECT_EQ(r.status, 1) << why;
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(read_file(names("a")[2]).empty());
    const std::string escapes = "\"n\\r\\b\\u00e9\\ud83d\\ude00\"";
    for (const std::string& first :
         {dir.path("late.json"), value("esc.json", "\"target\": ", escapes)}) {
        const RunResult r =
            run(frame_snr(), {"--merge", first, names("b")[2], names("c")[2], "--csv",
                              dir.path("m.csv"), "--json", dir.path("m.json")});
        ASSERT_EQ(r.status, 0) << first << r.err;
        EXPECT_EQ(read_file(dir.path("m.csv")), read_file(names("whole")[1])) << first;
        const std::vector<std::uint8_t> m = read_file(dir.path("m.json"));
        EXPECT_EQ(std::string(m.begin(), m.end())
                      .find("\"target\": \"n\\u000d\\u0008\xc3\xa9\xf0\x9f\x98\x80\""),
                  first == dir.path("late.json") ? std::string::npos : 1u);
    }
}

TEST_F(FrameSnrCli, MeasuresAreTheSameAtEveryCapAndThreadCountAndMerge) {
    // Five 24 x 20 10-bit RGB frames, the target a little off: SSIM,
    // MS-SSIM (none: the planes are smaller than 176) and CIEDE2000 in every
    // report kind, the same bytes at every instruction-set cap and thread
    // count, and rebuilt by --merge from three ranges.
    const FrameGeometry g{24, 20};
    std::vector<std::uint16_t> ref(5 * 3 * g.pixels()), tgt(ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) {
        ref[i] = static_cast<std::uint16_t>((i * 37) % 1024);
        tgt[i] = static_cast<std::uint16_t>(i % 11 == 0 ? (ref[i] + 40) % 1024 : ref[i]);
    }
    tgt[7] = 2000;  // outside 0 .. 1023: clamped for the colour difference, and said
    write_file(target, le16_bytes(tgt));
    write_file(reference, le16_bytes(ref));
    const auto outputs = [&](const std::string& tag, std::vector<std::string> more,
                             std::vector<std::string> environment = {}) {
        std::vector<std::string> args = {target,  reference,   "0",
                                         "20",    "24",        "--format",
                                         "rgb10", "--measure", "ciede2000,ms-ssim,ssim"};
        for (const char* kind : {"csv", "json", "plot"})
            args.insert(args.end(), {std::string("--") + kind, dir.path(tag + "." + kind)});
        args.insert(args.end(), more.begin(), more.end());
        Launch launch;
        launch.environment = std::move(environment);
        const RunResult r = run(frame_snr(), args, {}, launch);
        EXPECT_EQ(r.status, 0) << tag << r.err;
        std::string all = r.out;
        for (const char* kind : {"csv", "json", "plot"}) {
            const auto bytes = read_file(dir.path(tag + "." + kind));
            all += std::string(bytes.begin(), bytes.end());
        }
        return std::make_pair(all, r.err);
    };
    const auto [whole, warnings] = outputs("whole", {});
    EXPECT_NE(whole.find("\tSsimR\tSsimG\tSsimB\tMsSsimR\tMsSsimG\tMsSsimB\tDeltaE\tDeltaEMax"),
              std::string::npos);
    EXPECT_NE(whole.find("\"ms_ssim\": {\"r\": null, \"g\": null, \"b\": null}"),
              std::string::npos);
    EXPECT_NE(warnings.find("1 samples outside 0 .. 1023"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("the R plane (24 x 20) is smaller than 176 x 176"), std::string::npos);
    for (const char* isa : {"plain", "avx2", "avx512"})
        for (const char* threads : {"1", "3"})
            EXPECT_EQ(outputs(std::string(isa) + threads, {"--threads", threads},
                              {std::string("RAWFRAMES_ISA=") + isa})
                          .first,
                      whole)
                << isa << ' ' << threads;
    outputs("a", {"--frames", "2"});
    outputs("b", {"--start", "2", "--frames", "1"});
    outputs("c", {"--start", "3"});
    const RunResult merged =
        run(frame_snr(),
            {"--merge", dir.path("a.json"), dir.path("b.json"), dir.path("c.json"), "--csv",
             dir.path("m.csv"), "--json", dir.path("m.json"), "--plot", dir.path("m.plot")});
    ASSERT_EQ(merged.status, 0) << merged.err;
    std::string all = merged.out;
    for (const char* kind : {"csv", "json", "plot"}) {
        const auto bytes = read_file(dir.path(std::string("m.") + kind));
        all += std::string(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(all, whole);
    // A range measured otherwise is refused.
    std::vector<std::string> args = {
        target,   reference,         "0", "20", "24", "--format", "rgb10", "--start", "3",
        "--json", dir.path("d.json")};
    ASSERT_EQ(run(frame_snr(), args).status, 0);
    const RunResult other =
        run(frame_snr(), {"--merge", dir.path("a.json"), dir.path("b.json"), dir.path("d.json")});
    EXPECT_NE(other.err.find("it measures rgb10 24 x 20, frame skip 0 where"), std::string::npos)
        << other.err;
}

TEST(Plot, KeepsBoundedMemoryWhateverTheNumberOfFrames) {
    // One point per frame while there are few; past that, buckets of 2, 4, ...
    // frames keep each plane's lowest and highest value and whether it was
    // lossless in any of their frames.
    PlotSeries series;
    const auto figures = [](std::uint64_t i) {
        FrameFigures f;
        f[0] = {1, static_cast<double>(i % 100)};
        f[1] = {i % 1000 == 999 ? Sse{0} : Sse{1}, 40.0};
        return f;
    };
    for (std::uint64_t i = 0; i < 2048; ++i) series.add(i, figures(i));
    ASSERT_EQ(series.buckets().size(), 2048u);
    EXPECT_EQ(series.buckets()[99].low[0], 99.0);
    for (std::uint64_t i = 2048; i < 300000; ++i) series.add(i, figures(i));
    const auto& buckets = series.buckets();
    EXPECT_LE(buckets.size(), 2048u);
    EXPECT_EQ(series.frames(), 300000u);
    EXPECT_EQ(buckets.front().low[0], 0.0);
    EXPECT_EQ(buckets.front().high[0], 99.0);
    const std::uint64_t span = buckets[1].first_frame - buckets[0].first_frame;
    EXPECT_EQ(span, 256u);  // 300000 frames need 147 buckets of 2048
    for (const auto& b : buckets) {
        bool has = false;  // a frame 999 (mod 1000) among the bucket's
        for (std::uint64_t i = b.first_frame; i < b.first_frame + span; ++i) has |= i % 1000 == 999;
        EXPECT_EQ(b.lossless[1], has) << b.first_frame;
        EXPECT_FALSE(b.lossless[0]);
    }
    // Any finite values end in a picture (the axis ticks are counted).
    for (const double huge : {1e17, 1.7e308, -1e300}) {
        ReportInfo info;
        info.layout = report_layout(kRgb8);
        const std::unique_ptr<Report> plot = make_report(ReportKind::kPlot, info);
        ReportSummary summary(info.layout);
        const FrameFigures f{PlaneFigure{1, huge}, PlaneFigure{1, huge}, PlaneFigure{1, huge}};
        for (std::uint64_t i = 0; i < 3; ++i) plot->frame({i, i, f}), summary.add(f);
        EXPECT_NE(plot->end(summary).find("</svg>"), std::string::npos) << huge;
    }
}
