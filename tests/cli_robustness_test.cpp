// Every program against a battery of bad arguments and awkward files: it must
// end normally with its documented status and a message, leave its inputs
// untouched, and never report success for an output that is not whole frames.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "buffer.hpp"
#include "geometry.hpp"
#include "parse.hpp"
#include "support.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

struct Program {
    std::string name;
    std::string path;
    std::set<int> statuses;  // every status the program may end with
    // Output frame size for the given geometry, or 0 when it writes no file.
    std::function<std::uint64_t(const FrameGeometry&)> out_frame;
};

std::vector<Program> programs() {
    return {
        {"rgb10-to-yuv10",
         rgb10_to_yuv10(),
         {0, 1},
         [](const FrameGeometry& g) { return g.planar16_bytes(); }},
        {"frame-snr", frame_snr(), {0, 1, 255}, nullptr},
        {"dovrak", dovrak(), {0, 255}, [](const FrameGeometry& g) { return g.yuv420_bytes(); }},
        {"yuv420-to-rgb",
         yuv420_to_rgb(),
         {0, 255},
         [](const FrameGeometry& g) { return g.planar8_bytes(); }},
    };
}

const char* const kNumbers[] = {"",   "abc",        "-5",          "0",    "99999999999999999999",
                                "1",  "2147483647", "-2147483648", " 4",   "4x",
                                "+4", "3",          "-0",          "65536"};

}  // namespace

TEST(CliRobustness, HelpAndVersionOnlyAsTheSoleArgument) {
    for (const Program& p : programs()) {
        const RunResult help = run(p.path, {"--help"});
        EXPECT_EQ(help.status, 0) << p.name;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << p.name;
        EXPECT_GT(std::count(help.out.begin(), help.out.end(), '\n'), 2) << p.name;
        EXPECT_EQ(help.err, "") << p.name;
        const RunResult version = run(p.path, {"--version"});
        EXPECT_EQ(version.status, 0) << p.name;
        EXPECT_EQ(version.out.rfind(p.name + " (rawframes) ", 0), 0u) << version.out;
        // With anything else on the line they are ordinary arguments.
        const RunResult extra = run(p.path, {"--help", "x"});
        EXPECT_NE(extra.status, 0) << p.name;
        EXPECT_NE(extra.out.find("Usage"), std::string::npos) << p.name;
    }
}

TEST(CliRobustness, BadArgumentsAndFilesNeverCrashOrCorrupt) {
    ScratchDir dir;
    const std::string whole = dir.path("whole.raw"), truncated = dir.path("truncated.raw"),
                      empty = dir.path("empty.raw"), out = dir.path("out.raw");
    std::vector<std::uint8_t> bytes(6 * 4 * 3 * 2 + 7);  // two 4 x 3 16-bit frames and a bit
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 % 251);
    const std::map<std::string, std::vector<std::uint8_t>> files = {
        {whole, bytes},
        {truncated, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 13)},
        {empty, {}}};

    const std::vector<std::string> inputs = {whole, truncated, empty, dir.path("missing.raw"),
                                             dir.path(".")};
    const std::vector<std::string> outputs = {out, whole, dir.path("."), "/dev/full",
                                              dir.path("no/such/dir/out.raw")};
    std::size_t runs = 0;
    for (const Program& p : programs()) {
        std::vector<std::vector<std::string>> cases;
        for (const char* n : kNumbers) {
            if (p.name == "frame-snr") {
                cases.push_back({whole, whole, n});
                cases.push_back({whole, whole, "0", n, "4"});
                cases.push_back({whole, whole, "1", "3", n});
            } else {
                std::vector<std::string> c{whole, out, n, "3"};
                if (p.name == "rgb10-to-yuv10") c.push_back("2");
                cases.push_back(c);
                c[2] = "4", c[3] = n;
                cases.push_back(c);
                if (p.name == "rgb10-to-yuv10") cases.push_back({whole, out, "4", "3", n});
            }
        }
        for (const auto& in : inputs) {
            for (const auto& o : outputs) {
                if (p.name == "frame-snr") {
                    cases.push_back({in, o == out ? whole : in, "0", "3", "4"});
                    continue;
                }
                std::vector<std::string> c{in, o, "4", "3"};
                if (p.name == "rgb10-to-yuv10") c.push_back("-1");
                cases.push_back(c);
            }
        }
        cases.push_back({});
        cases.push_back({whole});

        for (const auto& args : cases) {
            std::error_code ec;
            std::filesystem::remove(out, ec);
            for (const auto& [path, content] : files) write_file(path, content);
            const RunResult r = run(p.path, args);
            ++runs;
            std::string line = p.name;
            for (const auto& a : args) line += " '" + a + "'";
            ASSERT_GE(r.status, 0) << line << " ended abnormally";
            EXPECT_TRUE(p.statuses.count(r.status)) << line << " status " << r.status;
            EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << line << "\n" << r.err;
            EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << line << "\n" << r.err;
            if (r.status != 0) {
                // A message, the usage text, or frame-snr's report of no frame.
                EXPECT_FALSE(r.err.empty() && r.out.find("Usage") == std::string::npos &&
                             r.out.find("Average SNR Y: nan") == std::string::npos)
                    << line << " failed without a message";
            }
            // The files read as inputs are unchanged (a file named as the output
            // of a run that reads another file may rightly be replaced).
            const std::size_t input_args = p.name == "frame-snr" ? 2 : 1;
            for (std::size_t k = 0; k < std::min(input_args, args.size()); ++k) {
                if (files.count(args[k])) {
                    ASSERT_EQ(read_file(args[k]), files.at(args[k])) << line << " changed an input";
                }
            }
            if (r.status == 0 && p.out_frame && args.size() >= 4 && args[1] == out) {
                const FrameGeometry g{parse_int(args[2].c_str()), parse_int(args[3].c_str())};
                const std::uint64_t size = std::filesystem::file_size(out);
                EXPECT_EQ(size % p.out_frame(g), 0u) << line << " wrote a partial frame";
            }
        }
    }
    EXPECT_GT(runs, 150u);
}

TEST(CliRobustness, UnreadableInputIsReported) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop reads";
    ScratchDir dir;
    const std::string in = dir.path("locked.raw");
    write_file(in, std::vector<std::uint8_t>(24, 1));
    ::chmod(in.c_str(), 0);
    EXPECT_EQ(run(dovrak(), {in, dir.path("o"), "2", "2"}).status, 255);
    EXPECT_EQ(run(yuv420_to_rgb(), {in, dir.path("o"), "2", "2"}).status, 255);
    EXPECT_EQ(run(rgb10_to_yuv10(), {in, dir.path("o"), "2", "2", "1"}).status, 1);
    EXPECT_EQ(run(frame_snr(), {in, in, "0", "2", "2"}).status, 255);
}

TEST(CliRobustness, BuffersThatTogetherExceedMemoryAreRefused) {
    // Sizes at which each buffer alone would fit in this machine's memory but
    // the program's buffers together would not.
    ScratchDir dir;
    const std::string in = dir.path("in.raw"), out = dir.path("out.raw");
    write_file(in, std::vector<std::uint8_t>(100, 1));
    const std::uint64_t memory = physical_memory_bytes();

    const std::uint64_t snr_h = memory / 18;  // each 16-bit frame is 2/3 of memory
    if (snr_h <= INT32_MAX) {
        const RunResult r = run(frame_snr(), {in, in, "0", std::to_string(snr_h), "2"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("frame-snr: cannot allocate frame buffers: ", 0), 0u) << r.err;
    }
    const std::uint64_t dovrak_h = memory / 28;  // input 6/7 of memory, output a quarter of that
    if (dovrak_h <= INT32_MAX) {
        const RunResult r = run(dovrak(), {in, out, "4", std::to_string(dovrak_h)});
        EXPECT_EQ(r.status, 255) << r.err;
        EXPECT_EQ(r.err.rfind("dovrak: cannot allocate frame buffers: ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}
