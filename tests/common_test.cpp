#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>

#include "buffer.hpp"
#include "fp_probe.hpp"
#include "frame_file.hpp"
#include "geometry.hpp"
#include "parse.hpp"
#include "pixel_format.hpp"
#include "support.hpp"

using namespace rawframes;
using namespace testing_support;

TEST(ParseInt, BehavesLikeAtoiWithinRange) {
    for (const char* text : {"0", "42", "-17", "+8", "  \t\n 12", "12abc", "-0", "2147483647",
                             "-2147483648", "  -99x7", "007"}) {
        EXPECT_EQ(parse_int(text), std::atoi(text)) << text;
    }
}

TEST(ParseInt, TextWithoutLeadingDigitsIsZero) {
    for (const char* text : {"", "abc", "-", "+", " x12", "--5", "+-5", "x10"}) {
        EXPECT_EQ(parse_int(text), 0) << text;
    }
}

TEST(ParseInt, OutOfRangeValuesWrapModulo2To32) {
    EXPECT_EQ(parse_int("2147483648"), INT32_MIN);
    EXPECT_EQ(parse_int("4294967295"), -1);
    EXPECT_EQ(parse_int("4294967296"), 0);
    EXPECT_EQ(parse_int("4294967297"), 1);
    EXPECT_EQ(parse_int("-2147483649"), INT32_MAX);
    EXPECT_EQ(parse_int("-4294967296"), 0);
    // 10^20 mod 2^32 = 1661992960
    EXPECT_EQ(parse_int("100000000000000000000"), 1661992960);
    // 10^38 - 1 is -1 modulo 2^32: the digits never stop the accumulation.
    EXPECT_EQ(parse_int("99999999999999999999999999999999999999"), -1);
}

TEST(Geometry, FrameSizesOfTheThreeFormats) {
    const FrameGeometry even{160, 112};
    EXPECT_EQ(even.pixels(), 17920u);
    EXPECT_EQ(frame_bytes(kRgb10, even), 107520u);
    EXPECT_EQ(frame_bytes(kRgb8, even), 53760u);
    EXPECT_EQ(frame_bytes(kYuv420, even), 26880u);  // 3 * N / 2
    EXPECT_EQ(plane_offset(kYuv420, even, 2), 17920u + 4480u);

    // Odd sizes round the chroma planes up so that every pixel has a sample.
    const FrameGeometry odd{5, 3};
    EXPECT_EQ(odd.chroma_width(), 3u);
    EXPECT_EQ(odd.chroma_height(), 2u);
    EXPECT_EQ(frame_bytes(kYuv420, odd), 15u + 2u * 6u);
    EXPECT_EQ(plane_offset(kYuv420, odd, 1), 15u);
    EXPECT_EQ(plane_offset(kYuv420, odd, 2), 21u);
    EXPECT_EQ((frame_bytes(kYuv420, FrameGeometry{1, 1})), 3u);

    // Sizes are 64-bit: no wrap past 2^32.
    const FrameGeometry huge{65536, 65536};
    EXPECT_EQ(frame_bytes(kRgb10, huge), 6ull << 32);
}

TEST(Geometry, RejectsDimensionsBelowOneAndUnaddressableFrames) {
    EXPECT_TRUE(check_geometry({1, 1}).empty());
    EXPECT_TRUE(check_geometry({INT32_MAX, 1}).empty());
    for (FrameGeometry g : {FrameGeometry{0, 5}, FrameGeometry{5, 0}, FrameGeometry{-2, -3},
                            FrameGeometry{-1, 4}, FrameGeometry{INT32_MAX, INT32_MAX}}) {
        EXPECT_FALSE(check_geometry(g).empty()) << g.width << " x " << g.height;
    }
}

TEST(Geometry, CountsOnlyWholeFrames) {
    EXPECT_EQ(count_frames(0, 6), 0u);
    EXPECT_EQ(count_frames(5, 6), 0u);
    EXPECT_EQ(count_frames(15, 6), 2u);  // two and a half frames
    EXPECT_EQ(count_frames((5ull << 31) + 7, 1ull << 31), 5u);
}

TEST(Buffer, ImpossibleRequestsGiveAnEmptyBuffer) {
    EXPECT_FALSE(allocate_frame<std::uint16_t>(0));
    EXPECT_FALSE(allocate_frame<std::uint16_t>(UINT64_MAX / 2));
    // More than the machine's memory is refused rather than overcommitted.
    EXPECT_FALSE(allocate_frame<std::uint8_t>(physical_memory_bytes() + 1));
    auto ok = allocate_frame<std::uint16_t>(1000);
    ASSERT_TRUE(ok);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ok.get()) % kBufferAlignment, 0u);
}

TEST(FrameFile, SizeAndReadsPastTwoGibibytes) {
    ScratchDir dir;
    const std::string path = dir.path("sparse.raw");
    const std::uint64_t size = (std::uint64_t{5} << 30) + 3;  // 5 GiB + 3, sparse
    if (!file_size_allowed(size))
        GTEST_SKIP() << "the file-size limit (ulimit -f) forbids the 5 GiB sparse file this needs";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        const char tail[] = "xyz";
        ASSERT_EQ(::pwrite(fd, tail, 3, static_cast<off_t>(size - 3)), 3);
        ::close(fd);
    }
    InputFile in;
    ASSERT_EQ(in.open(path.c_str()), 0);
    std::uint64_t measured = 0;
    ASSERT_EQ(in.size(measured), 0);
    EXPECT_EQ(measured, size);
    EXPECT_EQ(count_frames(measured, 1u << 30), 5u);
    char buf[8] = {};
    const Transfer t = in.read_at(buf, sizeof buf, size - 3);
    EXPECT_EQ(t.bytes, 3u);  // stops at end of file
    EXPECT_EQ(t.error, 0);
    EXPECT_EQ(std::string(buf, 3), "xyz");
}

TEST(FrameFile, OutputNamingTheInputIsRefusedUntouched) {
    ScratchDir dir;
    const std::string in_path = dir.path("in.raw");
    write_file(in_path, std::string("precious"));
    ASSERT_EQ(::link(in_path.c_str(), dir.path("hard").c_str()), 0);
    ASSERT_EQ(::symlink(in_path.c_str(), dir.path("soft").c_str()), 0);

    InputFile in;
    ASSERT_EQ(in.open(in_path.c_str()), 0);
    for (const std::string& out_path :
         {in_path, dir.path("hard"), dir.path("soft"), dir.path(".") + "/in.raw"}) {
        OutputFile out;
        EXPECT_EQ(out.create(out_path.c_str(), in), OutputFile::kSameFile) << out_path;
    }
    EXPECT_EQ(read_file(in_path).size(), 8u);

    // A device named as both input and output holds no data to lose.
    InputFile null_in;
    ASSERT_EQ(null_in.open("/dev/null"), 0);
    OutputFile null_out;
    EXPECT_EQ(null_out.create("/dev/null", null_in), 0);

    // A different existing file is truncated.
    const std::string other = dir.path("other.raw");
    write_file(other, std::string("old content"));
    OutputFile out;
    ASSERT_EQ(out.create(other.c_str(), in), 0);
    ASSERT_EQ(out.write("ab", 2), 0);
    ASSERT_EQ(out.close(), 0);
    EXPECT_EQ(read_file(other).size(), 2u);
}

TEST(FrameFile, FailedWritesAndOpensAreReported) {
    InputFile in;
    EXPECT_EQ(in.open("/nonexistent/dir/file"), ENOENT);
    EXPECT_EQ(in.open("/"), EISDIR);

    OutputFile full;
    ASSERT_EQ(full.create("/dev/full", in), 0);
    EXPECT_EQ(full.write("abc", 3), ENOSPC);
}

TEST(FloatingPointBuild, EvaluatesEachOperationOnItsOwn) {
    // (1 + 2^-30)(1 - 2^-30) = 1 - 2^-60 rounds to 1, so the separate operations
    // give 0; a fused multiply-add would keep -2^-60.
    const double e = 1.0 / (1u << 30);
    EXPECT_EQ(fp_probe_mul_add(1 + e, 1 - e, -1.0), 0.0);
    // Left to right, 1e16 - 1e16 + 1 is 1; reassociated it would be 0.
    EXPECT_EQ(fp_probe_sum(1e16, -1e16, 1.0), 1.0);
    static_assert(FLT_EVAL_METHOD == 0, "no excess precision");
}
