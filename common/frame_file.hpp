// Whole-frame file access for the raw frame files: open, measure, read and write
// whole frames with every short transfer and failure reported to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rawframes {

// The outcome of a transfer: how many bytes moved, and the errno value of the
// failure that stopped it (0 when it stopped only at end of file or finished).
struct Transfer {
    std::uint64_t bytes = 0;
    int error = 0;
};

class InputFile {
  public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Opens `path` for reading; returns 0 or the errno value of the failure.
    int open(const char* path);
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

    // Size in bytes, found by seeking to the end; the file is left at its start.
    // Returns 0 or an errno value (an input that cannot seek, such as a pipe).
    int size(std::uint64_t& bytes);

    // Tells the kernel the file will be read once from start to end.
    void advise_sequential();

    // Reads `bytes` bytes from the current position, stopping early only at end
    // of file or on an error.
    Transfer read(void* buffer, std::uint64_t bytes);
    // The same at an absolute byte offset, leaving the current position alone.
    Transfer read_at(void* buffer, std::uint64_t bytes, std::uint64_t offset);

  private:
    int fd_ = -1;
    std::string path_;
};

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Opens `path` for writing, creating it if needed, and truncates it to
    // empty. When `path` is the same file as `input` (same device and inode,
    // other than a character device or pipe) nothing is truncated and the
    // result is kSameFile.
    static constexpr int kSameFile = -1;
    int create(const char* path, const InputFile& input);
    const std::string& path() const { return path_; }

    // Writes all `bytes` bytes; returns 0 or the errno value of the failure
    // (a device that accepts no more bytes gives ENOSPC).
    int write(const void* buffer, std::uint64_t bytes);
    // Closes the file; returns 0 or the errno value of a failed close.
    int close();

  private:
    int fd_ = -1;
    std::string path_;
};

// Samples of Planar16Frame files are little-endian on disk. These convert a
// buffer of samples in place between file order and the host's order (nothing
// to do on little-endian hosts).
void le16_to_host(std::uint16_t* samples, std::uint64_t count);
void host_to_le16(std::uint16_t* samples, std::uint64_t count);

}  // namespace rawframes
