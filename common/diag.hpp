// One-line diagnostics on standard error: "program: what failed: reason".
#pragma once

#include <string>

namespace rawframes {

void report_error(const char* program, const std::string& what, const std::string& reason);

// The text of an errno value.
std::string error_text(int error);

}  // namespace rawframes
