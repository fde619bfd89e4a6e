// Helpers for the tests: a scratch directory, whole-file reads and writes, frame
// builders, and running the real programs with their output captured.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cpu.hpp"

namespace testing_support {

namespace fs = std::filesystem;

// A fresh directory that is removed with everything in it at the end of a test.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

  private:
    fs::path dir_;
};

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_file(const std::string& path, const std::string& bytes);

// 16-bit samples as little-endian bytes.
std::vector<std::uint8_t> le16_bytes(const std::vector<std::uint16_t>& samples);
std::vector<std::uint16_t> le16_samples(const std::vector<std::uint8_t>& bytes);

// One Planar16Frame of n pixels per plane with every R, G and B sample given.
std::vector<std::uint16_t> rgb16_frame(std::size_t n, std::uint16_t r, std::uint16_t g,
                                       std::uint16_t b);

struct RunResult {
    int status = -1;  // exit status 0..255, or -1 when the program did not exit normally
    std::string out;
    std::string err;
    long max_rss_kib = 0;  // peak resident memory
};

// How a program's standard descriptors are set up; by default standard input
// is /dev/null and standard output and error are captured.
struct Launch {
    std::string stdin_file;                  // standard input read from this file
    std::optional<std::string> stdin_bytes;  // standard input a pipe fed these bytes
    bool close_stdin_and_stderr = false;     // start with descriptors 0 and 2 closed
    bool ignore_sigpipe = false;             // start with SIGPIPE ignored
    std::string stdout_file;                 // standard output written here, not captured
    std::vector<std::string> environment;    // NAME=value settings added to the environment

    static Launch input_file(std::string path) {
        Launch l;
        l.stdin_file = std::move(path);
        return l;
    }
    static Launch input_bytes(std::string bytes) {
        Launch l;
        l.stdin_bytes = std::move(bytes);
        return l;
    }
};

// Runs `program` with `args`. `while_running`, when given, is called after the
// program has started and before waiting for it (to feed or drain a pipe the
// program opens, say).
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::function<void()>& while_running = {}, const Launch& launch = {});

// Runs body(variant) for every variant of a kernel that this processor can
// execute, and says which ones it cannot.
template <class Fn, class Body>
void for_each_supported(std::span<const rawframes::KernelVariant<Fn>> variants, Body body) {
    for (const auto& v : variants) {
        if (rawframes::cpu_supports(v.isa)) {
            body(v);
        } else {
            std::printf("skipping %s: not supported by this processor\n", v.name);
        }
    }
}

// Whether this process may make a file of `bytes` bytes (a sparse one, say):
// the file-size limit (ulimit -f) may forbid it.
bool file_size_allowed(std::uint64_t bytes);

// Paths of the built programs: any by name, and each of them.
std::string program_path(const std::string& name);
std::string rgb10_to_yuv10();
std::string yuv10_to_rgb10();
std::string frame_snr();
std::string dovrak();
std::string yuv420_to_rgb();

}  // namespace testing_support
