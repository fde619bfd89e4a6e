#include "cli_info.hpp"

#include <cstdio>
#include <cstring>

#ifndef RAWFRAMES_VERSION
#define RAWFRAMES_VERSION "unknown"
#endif

namespace rawframes {

bool handle_info_option(int argc, char** argv, const char* program, const char* usage,
                        const char* description) {
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s\n%s", usage, description);
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (rawframes) %s\n", program, RAWFRAMES_VERSION);
        return true;
    }
    return false;
}

}  // namespace rawframes
