#include "frame_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>

namespace rawframes {

namespace {

// A single read or write call moves at most this much; larger requests loop.
constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;

void close_quietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

InputFile::~InputFile() { close_quietly(fd_); }

int InputFile::open(const char* path) {
    close_quietly(fd_);
    path_ = path;
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        close_quietly(fd_);
        return EISDIR;
    }
    return 0;
}

int InputFile::size(std::uint64_t& bytes) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) return errno;
    if (::lseek(fd_, 0, SEEK_SET) < 0) return errno;
    bytes = static_cast<std::uint64_t>(end);
    return 0;
}

void InputFile::advise_sequential() {
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

Transfer InputFile::read(void* buffer, std::uint64_t bytes) {
    Transfer t;
    auto* p = static_cast<unsigned char*>(buffer);
    while (t.bytes < bytes) {
        const std::size_t chunk = static_cast<std::size_t>(std::min(bytes - t.bytes, kMaxChunk));
        const ssize_t n = ::read(fd_, p + t.bytes, chunk);
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

Transfer InputFile::read_at(void* buffer, std::uint64_t bytes, std::uint64_t offset) {
    Transfer t;
    auto* p = static_cast<unsigned char*>(buffer);
    while (t.bytes < bytes) {
        const std::size_t chunk = static_cast<std::size_t>(std::min(bytes - t.bytes, kMaxChunk));
        const std::uint64_t at = offset + t.bytes;
        if (at > static_cast<std::uint64_t>(INT64_MAX)) break;  // beyond any file: end of data
        const ssize_t n = ::pread(fd_, p + t.bytes, chunk, static_cast<off_t>(at));
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

OutputFile::~OutputFile() { close_quietly(fd_); }

int OutputFile::create(const char* path, const InputFile& input) {
    close_quietly(fd_);
    path_ = path;
    // Open without truncating first, so that an output naming the input (directly,
    // through a link or another path) can be refused before any byte is lost.
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return errno;
    struct stat out {};
    if (::fstat(fd_, &out) != 0) {
        const int e = errno;
        close_quietly(fd_);
        return e;
    }
    struct stat in {};
    if (input.fd() >= 0 && ::fstat(input.fd(), &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino) {
        close_quietly(fd_);
        return kSameFile;
    }
    if (S_ISREG(out.st_mode) && ::ftruncate(fd_, 0) != 0) {
        const int e = errno;
        close_quietly(fd_);
        return e;
    }
    return 0;
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
