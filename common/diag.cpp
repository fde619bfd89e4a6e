#include "diag.hpp"

#include <cstdio>
#include <cstring>

namespace rawframes {

void report_error(const char* program, const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", program, what.c_str(), reason.c_str());
}

std::string error_text(int error) {
    return std::strerror(error);
}

}  // namespace rawframes
