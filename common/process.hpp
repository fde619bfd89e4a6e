// What a program sets up about its own process before it does anything else.
#pragma once

#include <cstddef>

namespace rawframes {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that a file
// the program opens later can never take one of their numbers (and receive
// messages meant for standard error, say).
void ensure_standard_descriptors();

// The number of processors this process may run on (its affinity mask), at
// least 1.
std::size_t available_cpus();

}  // namespace rawframes
