#include "options.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace rawframes {

std::optional<std::string> CommandLine::value(const char* name) const {
    std::optional<std::string> found;
    for (const auto& [n, v] : given)
        if (n == name) found = v;
    return found;
}

CommandLine parse_command_line(int argc, char** argv, std::span<const OptionSpec> options) {
    CommandLine line;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_ended || std::strncmp(arg, "--", 2) != 0) {
            line.positional.push_back(arg);
            continue;
        }
        if (arg[2] == '\0') {
            options_ended = true;
            continue;
        }
        const char* name = arg + 2;
        const char* equals = std::strchr(name, '=');
        const std::string key = equals ? std::string(name, equals) : std::string(name);
        const OptionSpec* known = nullptr;
        for (const OptionSpec& o : options)
            if (key == o.name) known = &o;
        if (line.error.empty()) {
            if (known == nullptr) {
                line.error = "unknown option --" + key;
            } else if (known->takes_value && equals == nullptr && i + 1 >= argc) {
                line.error = "option --" + key + " needs a value";
            } else if (!known->takes_value && equals != nullptr) {
                line.error = "option --" + key + " takes no value";
            }
        }
        if (known == nullptr) continue;
        std::string value;
        if (equals != nullptr) {
            value = equals + 1;
        } else if (known->takes_value && i + 1 < argc) {
            value = argv[++i];
        }
        line.given.emplace_back(key, value);
    }
    return line;
}

namespace {

// The value of 1 to `most_digits` decimal digits and nothing else.
std::optional<std::uint64_t> decimal_count(const std::string& text, std::size_t most_digits) {
    if (text.empty() || text.size() > most_digits) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

}  // namespace

std::string read_run_options(const CommandLine& line, RunOptions& run) {
    if (!line.error.empty()) return line.error;
    run.threads = 0;
    run.progress = !line.has(kNoProgressOption.name);
    if (const auto text = line.value(kThreadsOption.name)) {
        const std::optional<std::uint64_t> n = decimal_count(*text, 4);
        if (!n || *n < 1 || *n > kMaxThreads)
            return "invalid --threads value '" + *text + "': expected a number from 1 to " +
                   std::to_string(kMaxThreads);
        run.threads = static_cast<std::size_t>(*n);
    }
    for (const OptionSpec* o : {&kStartOption, &kFramesOption}) {
        const auto text = line.value(o->name);
        if (!text) continue;
        const std::optional<std::uint64_t> n = decimal_count(*text, 18);
        if (!n)
            return "invalid --" + std::string(o->name) + " value '" + *text +
                   "': expected a number of frames from 0 to 999999999999999999";
        if (o == &kStartOption)
            run.start = *n;
        else
            run.frames = n;
    }
    if (const auto text = line.value(kShardOption.name)) {
        if (line.has(kStartOption.name) || line.has(kFramesOption.name))
            return "--shard takes the place of --start and --frames";
        const std::string::size_type slash = text->rfind('/');
        const std::optional<std::uint64_t> count =
            slash == std::string::npos ? std::nullopt : decimal_count(text->substr(slash + 1), 18);
        if (!count || *count == 0)
            return "invalid --shard value '" + *text +
                   "': expected I/N, shard I (from 0) of N, I a number or env:NAME";
        std::string index_text = text->substr(0, slash);
        if (index_text.rfind("env:", 0) == 0) {
            const std::string name = index_text.substr(4);
            const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
            if (value == nullptr)
                return "--shard " + *text + ": the variable " + name + " is not set";
            index_text = value;
            if (!decimal_count(index_text, 18))
                return "--shard " + *text + ": " + name + " is '" + index_text +
                       "', not a shard number";
        }
        const std::optional<std::uint64_t> index = decimal_count(index_text, 18);
        if (!index)
            return "invalid --shard value '" + *text +
                   "': expected I/N, shard I (from 0) of N, I a number or env:NAME";
        if (*index >= *count)
            return "--shard " + *text + ": shard " + index_text + " of " + std::to_string(*count) +
                   " does not exist (they are numbered from 0 to " + std::to_string(*count - 1) +
                   ")";
        run.shard = Shard{*index, *count};
    }
    return {};
}

std::string apply_shard(RunOptions& run, std::optional<std::uint64_t> frames) {
    if (!run.shard) return {};
    if (!frames)
        return "--shard needs the number of frames in advance, which a stream or a "
               "YUV4MPEG2 input does not give: use --start and --frames";
    const auto [index, count] = *run.shard;
    const std::uint64_t each = *frames / count, longer = *frames % count;
    run.start = index * each + std::min(index, longer);
    run.frames = each + (index < longer ? 1 : 0);
    run.shard.reset();
    return {};
}

}  // namespace rawframes
