#include "process.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

namespace rawframes {

namespace {
bool closed_at_start[3] = {false, false, false};
}  // namespace

bool standard_descriptor_was_closed(int fd) {
    return fd >= 0 && fd <= 2 && closed_at_start[fd];
}

void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        closed_at_start[fd] = true;
        // open() returns the lowest free descriptor, which is this one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd && opened >= 0) ::close(opened);
    }
}

std::size_t available_cpus() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<std::size_t>(n);
    }
#endif
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

}  // namespace rawframes
