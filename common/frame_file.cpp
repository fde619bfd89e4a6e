#include "frame_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>

#include "process.hpp"

namespace rawframes {

namespace {

// A single read or write call moves at most this much; larger requests loop.
constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;

// Moves `bytes` bytes with `io(done, chunk)` (a read or pread that returns the
// count moved, 0 at end of file, or -1 with errno), retrying interrupted calls.
template <class Io>
Transfer transfer_all(std::uint64_t bytes, Io io) {
    Transfer t;
    while (t.bytes < bytes) {
        const std::size_t chunk = static_cast<std::size_t>(std::min(bytes - t.bytes, kMaxChunk));
        const ssize_t n = io(t.bytes, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            t.error = errno;
            break;
        }
        if (n == 0) break;
        t.bytes += static_cast<std::uint64_t>(n);
    }
    return t;
}

void close_quietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Opens `path`, or for "-" a duplicate of `standard_fd`, so that closing the
// result never closes the process's own standard descriptor. A standard
// descriptor that was closed when the program started is not there to use.
int open_or_standard(const char* path, int flags, int standard_fd) {
    if (path[0] == '-' && path[1] == '\0') {
        if (standard_descriptor_was_closed(standard_fd)) {
            errno = EBADF;
            return -1;
        }
        return ::fcntl(standard_fd, F_DUPFD_CLOEXEC, 3);
    }
    return ::open(path, flags | O_CLOEXEC, 0666);
}

bool is_seekable(const struct stat& st) {
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
}

// Frames are megabytes: a larger pipe buffer moves them in fewer, larger
// steps. Only a hint; the system's limit may refuse it.
void enlarge_pipe(int fd, const struct stat& st) {
#if defined(F_SETPIPE_SZ)
    if (S_ISFIFO(st.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#else
    (void)fd;
    (void)st;
#endif
}

}  // namespace

InputFile::~InputFile() {
    close_quietly(fd_);
}

int InputFile::open(const char* path) {
    close_quietly(fd_);
    path_ = std::string(path) == "-" ? "standard input" : path;
    fd_ = open_or_standard(path, O_RDONLY, STDIN_FILENO);
    if (fd_ < 0) return errno;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int e = errno;
        close_quietly(fd_);
        return e;
    }
    if (S_ISDIR(st.st_mode)) {
        close_quietly(fd_);
        return EISDIR;
    }
    stream_ = !is_seekable(st);
    enlarge_pipe(fd_, st);
    if (!stream_) {
        // Standard input may be a file already partly read: it starts here.
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        start_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
    }
    return 0;
}

int InputFile::size(std::uint64_t& bytes) {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0) return errno;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) return errno;
    if (::lseek(fd_, at, SEEK_SET) < 0) return errno;
    bytes = end > at ? static_cast<std::uint64_t>(end - at) : 0;
    return 0;
}

bool InputFile::wait_readable() {
    if (cancel_fd_ < 0) return true;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR) return true;  // let the read itself report the problem
    }
    return (fds[1].revents & POLLIN) == 0;
}

int InputFile::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - start_) return EOVERFLOW;
    return ::lseek(fd_, static_cast<off_t>(start_ + offset), SEEK_SET) < 0 ? errno : 0;
}

void InputFile::advise_sequential() {
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

Transfer InputFile::read(void* buffer, std::uint64_t bytes) {
    auto* p = static_cast<unsigned char*>(buffer);
    return transfer_all(bytes, [&](std::uint64_t done, std::size_t chunk) -> ssize_t {
        if (stream_ && !wait_readable()) {
            errno = ECANCELED;
            return -1;
        }
        return ::read(fd_, p + done, chunk);
    });
}

Transfer InputFile::read_at(void* buffer, std::uint64_t bytes, std::uint64_t offset) {
    auto* p = static_cast<unsigned char*>(buffer);
    return transfer_all(bytes, [&](std::uint64_t done, std::size_t chunk) -> ssize_t {
        const std::uint64_t at = start_ + offset + done;
        if (at > static_cast<std::uint64_t>(INT64_MAX)) return 0;  // beyond any file: no data
        return ::pread(fd_, p + done, chunk, static_cast<off_t>(at));
    });
}

OutputFile::~OutputFile() {
    close_quietly(fd_);
}

int OutputFile::create(const char* path, const InputFile& input, const InputFile* other_input,
                       bool truncate) {
    close_quietly(fd_);
    const bool standard = std::string(path) == "-";
    standard_ = standard;
    path_ = standard ? "standard output" : path;
    // Open without truncating first, so that an output naming the input (directly,
    // through a link or another path) can be refused before any byte is lost.
    fd_ = open_or_standard(path, O_WRONLY | O_CREAT, STDOUT_FILENO);
    if (fd_ < 0) return errno;
    struct stat out {};
    if (::fstat(fd_, &out) != 0) {
        const int e = errno;
        close_quietly(fd_);
        return e;
    }
    // Writing to the file being read would destroy its data; a stream named
    // twice (/dev/null, say) holds no data to lose.
    for (const InputFile* in_file : {&input, other_input}) {
        struct stat in {};
        if (in_file != nullptr && in_file->fd() >= 0 && ::fstat(in_file->fd(), &in) == 0 &&
            in.st_dev == out.st_dev && in.st_ino == out.st_ino && is_seekable(out)) {
            close_quietly(fd_);
            return kSameFile;
        }
    }
    enlarge_pipe(fd_, out);
    return truncate ? this->truncate() : 0;
}

int OutputFile::truncate() {
    struct stat out {};
    // Standard output is used as the shell set it up (appending, say).
    if (standard_ || ::fstat(fd_, &out) != 0 || !S_ISREG(out.st_mode)) return 0;
    if (::ftruncate(fd_, 0) != 0) {
        const int e = errno;
        close_quietly(fd_);
        return e;
    }
    return 0;
}

bool same_destination(int a, int b) {
    struct stat sa {
    }, sb{}, null{};
    if (a < 0 || b < 0 || ::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
    if (sa.st_dev != sb.st_dev || sa.st_ino != sb.st_ino) return false;
    return !(S_ISCHR(sa.st_mode) && ::stat("/dev/null", &null) == 0 && null.st_rdev == sa.st_rdev);
}

int OutputFile::write(const void* buffer, std::uint64_t bytes) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    std::uint64_t done = 0;
    while (done < bytes) {
        const std::size_t chunk = static_cast<std::size_t>(std::min(bytes - done, kMaxChunk));
        const ssize_t n = ::write(fd_, p + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;
        done += static_cast<std::uint64_t>(n);
    }
    return 0;
}

int OutputFile::close() {
    if (fd_ < 0) return 0;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

void le16_to_host(std::uint16_t* samples, std::uint64_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t i = 0; i < count; ++i)
            samples[i] = static_cast<std::uint16_t>((samples[i] >> 8) | (samples[i] << 8));
    } else {
        (void)samples;
        (void)count;
    }
}

void host_to_le16(std::uint16_t* samples, std::uint64_t count) {
    le16_to_host(samples, count);
}

}  // namespace rawframes
