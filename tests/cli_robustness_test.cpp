// Every program against a battery of bad arguments and awkward files: it must
// end normally with its documented status and a message, leave its inputs
// untouched, and never report success for an output that is not whole frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include "buffer.hpp"
#include "geometry.hpp"
#include "parse.hpp"
#include "pixel_format.hpp"
#include "program_list.hpp"
#include "support.hpp"

using namespace rawframes;
using namespace testing_support;

namespace {

struct Program {
    std::string name;
    std::string path;
    std::set<int> statuses;  // every status the program may end with
    int failed;              // the status of a failure
    // Output frame size for the given geometry, or 0 when it writes no file.
    std::function<std::uint64_t(const FrameGeometry&)> out_frame;
    const PixelFormat* in = nullptr;  // the format it reads
};

// Every program of the suite that converts or measures frames (or, with
// `all`, every program), each with what the batteries need to know of it.
std::vector<Program> programs(bool all_programs = false) {
    const auto frame = [](const PixelFormat& f) {
        return [&f](const FrameGeometry& g) { return frame_bytes(f, g); };
    };
    const std::map<std::string, Program> known = {
        {"rgb10-to-yuv10", {"", "", {0, 1}, 1, frame(kYuv10), &kRgb10}},
        {"yuv10-to-rgb10", {"", "", {0, 1, 2}, 1, frame(kRgb10), &kYuv10}},
        {"frame-snr", {"", "", {0, 1, 255}, 1, nullptr, &kYuv10}},
        {"dovrak", {"", "", {0, 255}, 255, frame(kYuv420), &kRgb10}},
        {"yuv420-to-rgb", {"", "", {0, 255}, 255, frame(kRgb8), &kYuv420}},
        {"rd-curve", {"", "", {0, 1, 2}, 1, nullptr, nullptr}},  // reads reports, not frames
    };
    std::vector<Program> all;
    for (const ProgramEntry& entry : program_list()) {
        const auto it = known.find(entry.name);
        if (it == known.end())
            throw std::runtime_error(std::string("no battery entry for ") + entry.name);
        if (it->second.in == nullptr && !all_programs) continue;
        all.push_back(it->second);
        all.back().name = entry.name;
        all.back().path = entry.path;
    }
    return all;
}

const char* const kNumbers[] = {"",   "abc",        "-5",          "0",    "99999999999999999999",
                                "1",  "2147483647", "-2147483648", " 4",   "4x",
                                "+4", "3",          "-0",          "65536"};

}  // namespace

TEST(CliRobustness, HelpAndVersionOnlyAsTheSoleArgument) {
    for (const Program& p : programs(true)) {
        const RunResult help = run(p.path, {"--help"});
        EXPECT_EQ(help.status, 0) << p.name;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << p.name;
        EXPECT_GT(std::count(help.out.begin(), help.out.end(), '\n'), 2) << p.name;
        EXPECT_EQ(help.err, "") << p.name;
        const RunResult version = run(p.path, {"--version"});
        EXPECT_EQ(version.status, 0) << p.name;
        EXPECT_EQ(version.out.rfind(p.name + " (rawframes) ", 0), 0u) << version.out;
        // The second line names the kernels' instruction set, which RAWFRAMES_ISA caps.
        EXPECT_NE(version.out.find("\nkernels: "), std::string::npos) << version.out;
        Launch plain;
        plain.environment = {"RAWFRAMES_ISA=plain"};
        EXPECT_NE(run(p.path, {"--version"}, {}, plain).out.find("\nkernels: plain\n"),
                  std::string::npos);
        Launch unknown;
        unknown.environment = {"RAWFRAMES_ISA=sse9"};
        const RunResult bad_isa = run(p.path, {"--version"}, {}, unknown);
        EXPECT_EQ(bad_isa.status, p.failed) << p.name;
        EXPECT_EQ(bad_isa.err, p.name +
                                   ": unknown instruction set 'sse9' in RAWFRAMES_ISA "
                                   "(plain, avx2 or avx512)\n");
        // Help or version that cannot be written is a failure, not a success.
        Launch full;
        full.stdout_file = "/dev/full";
        for (const char* info : {"--help", "--version"}) {
            const RunResult r = run(p.path, {info}, {}, full);
            EXPECT_NE(r.status, 0) << p.name << " " << info;
            EXPECT_EQ(r.err,
                      p.name + ": cannot write to standard output: No space left on device\n");
        }
        // A control character in a file name never splits a message.
        const RunResult odd_name =
            p.in ? run(p.path, {"no\nsuch\x01", "no\nsuch", "4", "4", "1"})
                 : run(p.path, {"--quality", "snr_y", "r", "1", "no\nsuch\x01"});
        EXPECT_EQ(std::count(odd_name.err.begin(), odd_name.err.end(), '\n'), 1) << odd_name.err;
        EXPECT_NE(odd_name.err.find("no\\nsuch\\x01"), std::string::npos) << odd_name.err;
        // With anything else on the line they are ordinary arguments.
        const RunResult extra = run(p.path, {"--help", "x"});
        EXPECT_NE(extra.status, 0) << p.name;
        EXPECT_NE((extra.out + extra.err).find("Usage"), std::string::npos) << p.name;
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

namespace {

// Replaces every occurrence of `from` in `text` with `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Bytes that vary from sample to sample, 10-bit where read as 16-bit samples.
std::string sample_bytes(std::size_t bytes, unsigned seed) {
    std::string s(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        s[i] = static_cast<char>((i * 131 + seed * 17 + i / 7) % 256 & (i % 2 ? 0x03 : 0xFF));
    return s;
}

}  // namespace

TEST(Streams, PipesStandardStreamsOptionsAndThreadCountsGiveWhatFilesGive) {
    // Each converter, on odd 5 x 3 frames, with whole frames, a partial last
    // frame, less than a frame and nothing: the same bytes through a named
    // file, standard input from a file or from a pipe, a file really named -,
    // standard output, options anywhere and any number of threads must give
    // the same output, messages and status.
    ScratchDir dir;
    const std::string in = dir.path("in.raw"), out = dir.path("out.raw"), dash = dir.path("-");
    for (const Program& p : programs()) {
        if (!p.out_frame) continue;
        const bool rgb10 = p.name == "rgb10-to-yuv10";
        const std::size_t frame = p.name == "yuv420-to-rgb" ? 27 : 90;
        for (const std::size_t size :
             {4 * frame, 3 * frame + frame / 2 + 1, frame - 3, std::size_t{1}, std::size_t{0}}) {
            const std::string bytes = sample_bytes(size, static_cast<unsigned>(size));
            write_file(in, bytes);
            write_file(dash, bytes);
            for (const char* limit : {"-1", "2"}) {
                if (!rgb10 && std::string(limit) == "2") continue;
                // "N" stands for num_frame, which only rgb10-to-yuv10 takes.
                const auto args = [&](std::vector<std::string> a) {
                    const auto at = std::find(a.begin(), a.end(), "N");
                    if (rgb10)
                        *at = limit;
                    else
                        a.erase(at);
                    return a;
                };
                const RunResult want =
                    run(p.path, args({in, out, "5", "3", "N", "--threads", "1"}));
                const std::vector<std::uint8_t> want_out = read_file(out);
                const std::string what = p.name + " " + std::to_string(size) + " bytes";
                ASSERT_EQ(want.status, 0) << what << want.err;
                EXPECT_EQ(want_out.size() % p.out_frame({5, 3}), 0u) << what;

                struct Variant {
                    std::vector<std::string> args;
                    Launch launch;
                    std::string in_name;  // the input's name in messages
                };
                const std::vector<Variant> variants = {
                    {args({"-", out, "5", "3", "N"}), Launch::input_file(in), "standard input"},
                    {args({"-", out, "5", "3", "N", "--threads=2"}), Launch::input_bytes(bytes),
                     "standard input"},
                    {args({"--threads", "3", dash, out, "5", "3", "N"}), {}, dash},
                    {args({in, "--no-progress", out, "5", "--threads=7", "3", "N"}), {}, in},
                    {args({"--", in, out, "5", "3", "N"}), Launch::input_bytes(bytes), in},
                    {args({"-", "-", "5", "3", "N", "--threads", "2"}), Launch::input_bytes(bytes),
                     "standard input"},
                };
                for (const Variant& v : variants) {
                    std::filesystem::remove(out);
                    const RunResult r = run(p.path, v.args, {}, v.launch);
                    std::string line = what;
                    for (const auto& a : v.args) line += " " + a;
                    EXPECT_EQ(r.status, want.status) << line << "\n" << r.err;
                    EXPECT_EQ(r.err, replaced(want.err, in, v.in_name)) << line;
                    if (v.args[1] == "-") {
                        EXPECT_EQ(r.out, std::string(want_out.begin(), want_out.end())) << line;
                    } else {
                        EXPECT_EQ(read_file(out), want_out) << line;
                        EXPECT_EQ(r.out, "") << line;
                    }
                }
            }
        }
    }
}

TEST(Streams, FrameRangesAddUpToTheWholeRun) {
    // 7 frames and a bit, cut into the ranges [0, 3), [3, 5) and [5, end),
    // each read from the file (a seek) and from a pipe (read and dropped).
    ScratchDir dir;
    const std::string in = dir.path("in.raw"), out = dir.path("out.raw");
    const std::vector<std::vector<std::string>> ranges = {
        {"--frames", "3"}, {"--start", "3", "--frames", "2"}, {"--start=5"}};
    for (const Program& p : programs()) {
        const FrameGeometry g{5, 3};
        const std::uint64_t frame = frame_bytes(*p.in, g);
        const std::string bytes = sample_bytes(7 * frame + frame / 2 + 1, 9);
        write_file(in, bytes);
        std::vector<std::string> base = {in, out, "5", "3"};
        if (!p.out_frame) {  // frame-snr, frame skip 1 over a reference twice as long
            write_file(out, sample_bytes(14 * frame, 8));
            base = {in, out, "1", "3", "5"};
        }
        if (p.name == "rgb10-to-yuv10") base.push_back("-1");
        // The frame lines of a frame-snr report, or the output of a converter.
        const auto result = [&](const RunResult& r) {
            if (p.out_frame) {
                const std::vector<std::uint8_t> o = read_file(out);
                return std::string(o.begin(), o.end());
            }
            std::string lines;  // those that begin with a frame number
            for (std::size_t at = 0, end = 0; at < r.out.size(); at = end + 1) {
                end = std::min(r.out.find('\n', at), r.out.size());
                if (r.out[at] >= '0' && r.out[at] <= '9') lines += r.out.substr(at, end - at + 1);
            }
            return lines;
        };
        const RunResult whole_run = run(p.path, base);
        ASSERT_EQ(whole_run.status, 0) << p.name << whole_run.err;
        const std::string whole = result(whole_run);
        ASSERT_FALSE(whole.empty()) << p.name;
        for (const bool piped : {false, true}) {
            std::string joined;
            for (const auto& range : ranges) {
                std::vector<std::string> args = base;
                if (piped) args[0] = "-";
                args.insert(args.end(), range.begin(), range.end());
                const RunResult r =
                    run(p.path, args, {}, piped ? Launch::input_file(in) : Launch{});
                EXPECT_EQ(r.status, 0) << p.name << ' ' << range[0] << r.err;
                joined += result(r);
            }
            EXPECT_EQ(joined, whole) << p.name << (piped ? " from a pipe" : " from the file");
        }
        // The same by --shard (7 frames: 3, 2 and 2), shard 1 named by a
        // variable; a pipe's frames cannot be counted to be divided.
        std::string joined;
        for (const char* shard : {"0/3", "env:TASK/3", "2/3"}) {
            std::vector<std::string> args = base;
            args.insert(args.end(), {"--shard", shard});
            Launch launch;
            launch.environment = {"TASK=1"};
            const RunResult r = run(p.path, args, {}, launch);
            EXPECT_EQ(r.status, 0) << p.name << ' ' << shard << r.err;
            joined += result(r);
        }
        EXPECT_EQ(joined, whole) << p.name << " in shards";
        std::vector<std::string> piped = base;
        piped[0] = "-";
        piped.insert(piped.end(), {"--shard", "1/3"});
        const RunResult r = run(p.path, piped, {}, Launch::input_bytes(bytes));
        EXPECT_EQ(r.status, p.failed) << p.name;
        EXPECT_NE(r.err.find("needs the number of frames in advance"), std::string::npos) << r.err;
    }
    // A shard that does not exist, an unset variable, or one that is not a
    // number: usage errors.
    for (const char* shard : {"3/3", "env:UNSET_TASK/2", "env:HOME/2", "1", "x/2", "1/0"}) {
        const RunResult r = run(dovrak(), {in, out, "5", "3", "--shard", shard});
        EXPECT_EQ(r.status, 255) << shard;
        EXPECT_NE(r.err.find(shard), std::string::npos) << r.err;
    }
    EXPECT_EQ(run(dovrak(), {in, out, "5", "3", "--shard", "0/2", "--start", "1"}).status, 255);
    // rgb10-to-yuv10's num_frame and --frames: the smaller of the two.
    write_file(in, sample_bytes(6 * 90, 4));
    for (const auto& [num_frame, frames] : {std::pair{"4", "2"}, {"2", "5"}}) {
        ASSERT_EQ(run(rgb10_to_yuv10(), {in, out, "5", "3", num_frame, "--frames", frames}).status,
                  0);
        EXPECT_EQ(read_file(out).size(), 2u * 90) << num_frame << ' ' << frames;
    }
    // Frames past the end: nothing to do, and nothing compared is a failure.
    EXPECT_EQ(run(dovrak(), {in, out, "5", "3", "--start", "9"}).status, 0);
    EXPECT_EQ(read_file(out).size(), 0u);
    EXPECT_EQ(run(frame_snr(), {in, in, "0", "3", "5", "--start", "6"}).status, 1);
    EXPECT_EQ(run(dovrak(), {in, out, "5", "3", "--start", "x"}).status, 255);
}

TEST(Streams, FrameSnrReadsEitherInputAsAStreamWithAnyThreadCount) {
    // 5 x 3 frames of 90 bytes: a target of 3 frames and a bit against a
    // reference of 7 frames and a bit, with frame skips that reach past the
    // reference's end and one that does not.
    ScratchDir dir;
    const std::string target = dir.path("t.yuv"), reference = dir.path("r.yuv");
    const std::string t_bytes = sample_bytes(3 * 90 + 50, 1),
                      r_bytes = sample_bytes(7 * 90 + 89, 2);
    write_file(target, t_bytes);
    write_file(reference, r_bytes);
    for (const char* skip : {"0", "1", "2", "5"}) {
        const RunResult want = run(frame_snr(), {target, reference, skip, "3", "5"});
        EXPECT_NE(want.out.find("Average SNR Y: "), std::string::npos) << want.out;
        struct Variant {
            std::vector<std::string> args;
            Launch launch;
            std::string piped;  // the input given as -
        };
        const std::vector<Variant> variants = {
            {{"-", reference, skip, "3", "5", "--threads", "1"},
             Launch::input_bytes(t_bytes),
             target},
            {{target, "-", skip, "--threads=3", "3", "5"}, Launch::input_bytes(r_bytes), reference},
            {{"--threads", "8", target, "-", skip, "3", "5"},
             Launch::input_file(reference),
             reference},
            {{target, reference, skip, "3", "5", "--threads", "2"}, {}, "none"},
        };
        for (const Variant& v : variants) {
            const RunResult r = run(frame_snr(), v.args, {}, v.launch);
            EXPECT_EQ(r.status, want.status) << v.args[0] << " " << v.args[1] << " skip " << skip;
            EXPECT_EQ(r.out, want.out) << v.args[0] << " " << v.args[1] << " skip " << skip;
            EXPECT_EQ(r.err, replaced(want.err, v.piped, "standard input"));
        }
    }
    const RunResult twice = run(frame_snr(), {"-", "-", "0", "3", "5"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.out, "");
    EXPECT_EQ(std::count(twice.err.begin(), twice.err.end(), '\n'), 1) << twice.err;
}

TEST(Streams, AnErrorInAnyStageStopsTheWholeRun) {
    ScratchDir dir;
    for (const Program& p : programs()) {
        if (!p.out_frame) continue;
        const int failed = p.failed;
        const auto args = [&](std::string in, std::string out) {
            std::vector<std::string> a{in, out, "64", "32"};
            if (p.name == "rgb10-to-yuv10") a.push_back("-1");
            return a;
        };
        // An endless input and an output that takes nothing.
        const RunResult full = run(p.path, args("/dev/zero", "/dev/full"));
        EXPECT_EQ(full.status, failed) << p.name;
        EXPECT_EQ(full.err, p.name + ": cannot write /dev/full: No space left on device\n");

        // A pipe whose reader goes away: with SIGPIPE ignored, a message.
        const std::string fifo = dir.path(p.name + ".fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        Launch sigpipe_ignored;
        sigpipe_ignored.ignore_sigpipe = true;
        const RunResult broken = run(
            p.path, args("/dev/zero", fifo),
            [&] {
                const int fd = ::open(fifo.c_str(), O_RDONLY);
                char some[4096];
                [[maybe_unused]] const ssize_t n = ::read(fd, some, sizeof some);
                ::close(fd);
            },
            sigpipe_ignored);
        EXPECT_EQ(broken.status, failed) << p.name;
        EXPECT_EQ(broken.err, p.name + ": cannot write " + fifo + ": Broken pipe\n");

        // A reader waiting on a stream that stays open is stopped too when the
        // output fails.
        const std::string held = dir.path(p.name + ".held");
        ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
        const int keep_open = ::open(held.c_str(), O_RDWR);
        const std::string one_frame(6 * 64 * 32, '\0');
        ASSERT_EQ(::write(keep_open, one_frame.data(), one_frame.size()),
                  static_cast<ssize_t>(one_frame.size()));
        const RunResult stuck = run(p.path, args(held, "/dev/full"));
        ::close(keep_open);
        EXPECT_EQ(stuck.status, failed) << p.name;
        EXPECT_EQ(stuck.err, p.name + ": cannot write /dev/full: No space left on device\n");

        // An input that shrinks while it is read: the output waits in a pipe
        // while the file is cut to a frame and a half, and the run then fails
        // with one line at the first frame it no longer has.
        const FrameGeometry g{640, 480};
        const std::string shrinking = dir.path(p.name + ".shrinking"), slow = fifo + ".slow";
        const std::uint64_t in_frame = frame_bytes(*p.in, g);
        write_file(shrinking, sample_bytes(10 * in_frame, 3));
        ASSERT_EQ(::mkfifo(slow.c_str(), 0600), 0);
        std::vector<std::string> shrink_args{shrinking, slow, "640", "480", "--threads", "1"};
        if (p.name == "rgb10-to-yuv10") shrink_args.insert(shrink_args.begin() + 4, "-1");
        const RunResult cut = run(p.path, shrink_args, [&] {
            const int fd = ::open(slow.c_str(), O_RDONLY);
            char some[4096];
            [[maybe_unused]] ssize_t n = ::read(fd, some, sizeof some);
            ::truncate(shrinking.c_str(), static_cast<off_t>(in_frame * 3 / 2));
            while ((n = ::read(fd, some, sizeof some)) > 0) {
            }
            ::close(fd);
        });
        EXPECT_EQ(cut.status, failed) << p.name;
        EXPECT_NE(cut.err.find(": the file ended inside frame "), std::string::npos) << cut.err;
        EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << cut.err;
    }
}

TEST(Streams, MemoryDoesNotGrowWithTheNumberOfFrames) {
#if defined(__SANITIZE_ADDRESS__) || defined(RAWFRAMES_EMULATED)
    GTEST_SKIP() << "the sanitizer's or the emulator's own memory hides the program's";
#endif
    // 1920 x 1080 frames from an endless input: the peak stays within
    // (threads + 4) frame buffers and 8 MiB, for 5 frames as for 60.
    const std::uint64_t frame = 6ull * 1920 * 1080;
    for (const char* threads : {"1", "3"}) {
        long peak[2] = {0, 0};
        int k = 0;
        for (const char* frames : {"5", "60"}) {
            const RunResult r = run(rgb10_to_yuv10(), {"/dev/zero", "/dev/null", "1920", "1080",
                                                       frames, "--threads", threads});
            ASSERT_EQ(r.status, 0) << r.err;
            peak[k++] = r.max_rss_kib;
        }
        const long bound = static_cast<long>(((std::stoul(threads) + 4) * frame >> 10) + 8192);
        EXPECT_LE(peak[1], bound) << threads << " threads";
        EXPECT_LE(peak[1], peak[0] + 4096) << threads << " threads";
    }
}

TEST(Memory, LessNeverFailsWhereLessStillSucceeds) {
#if defined(__SANITIZE_ADDRESS__) || defined(RAWFRAMES_EMULATED)
    GTEST_SKIP() << "the sanitizer's or the emulator's own address space hides the program's";
#endif
    // A ladder of address-space limits (ulimit -v), 4 threads asked for:
    // above the first limit that succeeds every run succeeds, and every run
    // that fails says why in one line and leaves an existing output alone.
    ScratchDir dir;
    const FrameGeometry g{1280, 720};  // buffers the size of a few thread stacks
    const std::string w = std::to_string(g.width), h = std::to_string(g.height);
    for (const Program& p : programs()) {
        const std::string in = dir.path(p.name + ".in"), out = dir.path(p.name + ".out");
        write_file(in, sample_bytes(2 * frame_bytes(*p.in, g), 1));
        std::vector<std::string> args = {"-c", "ulimit -v \"$1\"; shift; exec \"$@\"", "sh", "",
                                         p.path};
        if (p.out_frame) {
            args.insert(args.end(), {in, out, w, h});
        } else {
            args.insert(args.end(), {in, in, "0", h, w});
        }
        if (p.name == "rgb10-to-yuv10") args.push_back("2");
        args.insert(args.end(), {"--threads", "4"});
        int first_success = 0;
        for (int kib = 12 * 1024; kib <= 192 * 1024; kib += 12 * 1024) {
            args[3] = std::to_string(kib);
            write_file(out, std::string("keep"));
            const RunResult r = run("/bin/sh", args);
            if (r.status == 0) {
                if (first_success == 0) first_success = kib;
                if (p.out_frame) {
                    EXPECT_EQ(read_file(out).size(), 2 * p.out_frame(g)) << kib;
                }
                continue;
            }
            EXPECT_EQ(first_success, 0) << p.name << " failed at " << kib << " KiB after "
                                        << first_success << " KiB succeeded: " << r.err;
            // 127: the loader could not map the program's libraries.
            EXPECT_TRUE(r.status == p.failed || r.status == 127) << p.name << ' ' << r.status;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << p.name << r.err;
            EXPECT_EQ(read_file(out).size(), 4u) << p.name << " at " << kib << " KiB";
        }
        EXPECT_NE(first_success, 0) << p.name << " never succeeded";
    }
}

TEST(Streams, ProgressLineOnlyOnATerminalAndErasedAtTheEnd) {
    // Standard error on a pseudo-terminal: one progress line, rewritten in
    // place and erased at the end; --no-progress shows nothing.
    for (const bool wanted : {true, false}) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        const std::string terminal = ::ptsname(master);
        std::string seen;
        std::vector<std::string> args{"/dev/zero", "/dev/null", "64", "32", "3"};
        if (!wanted) args.push_back("--no-progress");
        // The program's standard error is the terminal: run it through a shell.
        std::string command = "exec " + rgb10_to_yuv10();
        for (const auto& a : args) command += " " + a;
        command += " 2>" + terminal;
        const RunResult r = run("/bin/sh", {"-c", command}, [&] {
            pollfd pfd{master, POLLIN, 0};
            char buf[4096];
            while (::poll(&pfd, 1, 2000) > 0) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0) break;
                seen.append(buf, static_cast<std::size_t>(n));
                if (seen.size() >= 3 && seen.compare(seen.size() - 3, 3, "\033[K") == 0) break;
            }
        });
        ::close(master);
        EXPECT_EQ(r.status, 0) << r.err;
        if (wanted) {
            EXPECT_NE(seen.find("rgb10-to-yuv10: frame 1 of 3, "), std::string::npos) << seen;
            EXPECT_NE(seen.find(" fps"), std::string::npos) << seen;
            EXPECT_EQ(seen.find('\n'), std::string::npos) << seen;
            EXPECT_EQ(seen.substr(seen.size() - 4), "\r\033[K") << seen;
        } else {
            EXPECT_EQ(seen, "");
        }
    }
}

TEST(Streams, ClosedStandardDescriptorsNeverReceiveAFileOrAMessage) {
    // Started with standard input and error closed, the output must not take
    // descriptor 2 and receive the partial-frame warning.
    ScratchDir dir;
    const std::string in = dir.path("in.rgb"), out = dir.path("out.yuv");
    write_file(in, sample_bytes(6 * 16 + 10, 3));
    const RunResult open = run(rgb10_to_yuv10(), {in, out, "4", "4", "-1"});
    ASSERT_EQ(open.status, 0);
    ASSERT_NE(open.err, "");
    const auto want = read_file(out);
    ASSERT_EQ(want.size(), 2u * 6 * 16);
    Launch closed_fds;
    closed_fds.close_stdin_and_stderr = true;
    const RunResult closed = run(rgb10_to_yuv10(), {in, out, "4", "4", "-1"}, {}, closed_fds);
    EXPECT_EQ(closed.status, 0);
    EXPECT_EQ(read_file(out), want);
    // A closed standard output or input named as "-" (for frame-snr, the
    // text report's) is an error, not an output lost or an empty input.
    const std::pair<std::vector<std::string>, std::string> uses[] = {
        {{">&-", dovrak(), in, "-", "4", "4"}, "cannot write standard output"},
        {{"<&-", dovrak(), "-", out, "4", "4"}, "cannot open standard input"},
        {{">&-", frame_snr(), in, in, "0", "4", "4", "--csv", dir.path("x.csv")},
         "cannot write standard output"},
    };
    for (const auto& [args, why] : uses) {
        std::vector<std::string> a = {"-c", "r=$1; shift; eval 'exec \"$@\" '\"$r\"", "sh"};
        a.insert(a.end(), args.begin(), args.end());
        const RunResult r = run("/bin/sh", a);
        EXPECT_NE(r.status, 0) << args[1];
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    }
}
