// Fuzzing of every program's argument and file handling, run in-process
// (rd-curve's reports and CSV points too):
// the input chooses a program, its argument strings and the content of its
// input file. Geometries whose frames would exceed 1 MiB are passed over so that
// runs stay fast; everything else, including malformed numbers, odd and tiny
// sizes and files that are not whole frames, goes to the real driver.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "parse.hpp"
#include "program_list.hpp"

using namespace rawframes;

namespace {

std::string scratch_path(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/rawframes-fuzz-" + std::to_string(::getpid()) + "-" +
           name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto programs = program_list();
    const ProgramEntry& program = programs[data[0] % programs.size()];
    const bool two_inputs = std::string(program.name) == "frame-snr";
    std::size_t at = 1;
    // Up to five NUL-terminated argument strings, then the file content.
    std::vector<std::string> words;
    while (words.size() < 5 && at < size) {
        std::string w;
        while (at < size && data[at] != 0 && w.size() < 40)
            w.push_back(static_cast<char>(data[at++]));
        if (at < size && data[at] == 0) ++at;
        words.push_back(w);
    }
    const std::string in = scratch_path("in"), out = scratch_path("out");
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        std::fwrite(data + at, 1, size - at, f);
        std::fclose(f);
    }

    std::vector<std::string> args{"program", in, two_inputs ? in : out};
    args.insert(args.end(), words.begin(), words.end());
    // rd-curve reads the file as frame-snr JSON reports (the first word's
    // length even) or as a CSV file of points.
    if (std::string(program.name) == "rd-curve") {
        const std::string key = words.empty() ? "snr_y" : words[0];
        if (key.size() % 2 == 0)
            args = {"program", "--quality", key,    "a", "1000", in,    "a", "2000",
                    in,        "b",         "1500", in,  "b",    "800", in};
        else
            args = {"program", "--quality", "snr_g", "--fps", "25", "--points", in};
    }
    // Keep the frame buffers small: skip inputs whose geometry would need more.
    const std::size_t w_at = two_inputs ? 4 : 3;
    if (args.size() > w_at + 1) {
        const long long w = parse_int(args[w_at].c_str()), h = parse_int(args[w_at + 1].c_str());
        if (w > 0 && h > 0 && w * h > (1 << 17)) return 0;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());
    program.main(argc, argv.data());
    std::fflush(stdout);
    ::unlink(in.c_str());
    ::unlink(out.c_str());
    return 0;
}
