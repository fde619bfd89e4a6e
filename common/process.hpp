// What a program sets up about its own process before it does anything else.
#pragma once

#include <cstddef>

namespace rawframes {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that a file
// the program opens later can never take one of their numbers (and receive
// messages meant for standard error, say).
void ensure_standard_descriptors();
// Whether descriptor `fd` (0, 1 or 2) was closed when the program started, so
// that it now reads or writes /dev/null; "-" must not stand for it then.
bool standard_descriptor_was_closed(int fd);

// The number of processors this process may run on (its affinity mask), at
// least 1.
std::size_t available_cpus();

}  // namespace rawframes
