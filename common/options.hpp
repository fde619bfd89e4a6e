// Command-line options shared by the programs. Arguments that begin with "--"
// are options ("--name" or "--name VALUE", also written "--name=VALUE"), and
// "--" alone ends the options. Options may stand before, between or after the
// positional arguments; everything else ("-", numbers such as "-1", names) is
// positional and keeps its place among the positional arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rawframes {

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takes_value;
};

// The options every program accepts.
inline constexpr OptionSpec kThreadsOption{"threads", true};
inline constexpr OptionSpec kNoProgressOption{"no-progress", false};
inline constexpr OptionSpec kStartOption{"start", true};
inline constexpr OptionSpec kFramesOption{"frames", true};
inline constexpr OptionSpec kShardOption{"shard", true};

struct CommandLine {
    std::vector<const char*> positional;                     // after the program name
    std::vector<std::pair<std::string, std::string>> given;  // name, value ("" for flags)
    std::string error;  // why the options are unusable, or empty

    // The last value given for `name`, if the option was given.
    std::optional<std::string> value(const char* name) const;
    bool has(const char* name) const { return value(name).has_value(); }
};

CommandLine parse_command_line(int argc, char** argv, std::span<const OptionSpec> options);

// The --help text of the options above.
inline constexpr const char* kRunOptionsHelp =
    "A file name of - is standard input or standard output.\n"
    "Options:\n"
    "  --threads N    conversion threads (default: the processors this process may\n"
    "                 use, less those its reading and writing keep busy; at least 1)\n"
    "  --start N      skip the first N frames of the input (frame numbers in messages\n"
    "                 and reports stay those of the whole input)\n"
    "  --frames N     handle at most N frames\n"
    "  --shard I/N    handle shard I (from 0) of N consecutive frame ranges of equal\n"
    "                 length (the first ones a frame longer where N does not divide\n"
    "                 the frames); I may be env:NAME, read from that variable\n"
    "  --no-progress  no progress line, which is otherwise shown on a terminal\n"
    "  --             ends the options\n";

// The options every program reads, checked: the number of conversion workers
// (0 when not given: the run chooses, see run_workers) and whether to show
// progress.
struct Shard {
    std::uint64_t index = 0, count = 1;  // shard `index` of `count`
};
struct RunOptions {
    std::size_t threads = 0;
    bool progress = true;
    std::uint64_t start = 0;              // frames skipped
    std::optional<std::uint64_t> frames;  // frames handled at most
    std::optional<Shard> shard;           // start and frames still to be set from it
};
inline constexpr std::size_t kMaxThreads = 256;
// Fills `run` from `line`; returns an error text (empty when all is well),
// the command line's own error first.
std::string read_run_options(const CommandLine& line, RunOptions& run);

// Sets start and frames from the shard of `run` (if any) for an input of
// `frames` frames; an unknown count (a stream) is an error. Returns an error
// text.
std::string apply_shard(RunOptions& run, std::optional<std::uint64_t> frames);

}  // namespace rawframes
