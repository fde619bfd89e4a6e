// Whole-frame file access for the raw frame files: open, measure, read and write
// whole frames with every short transfer and failure reported to the caller.
//
// The name "-" stands for standard input (as an input) or standard output (as
// an output). An input is either seekable (a regular file or a block device,
// whose frames can be counted from its size) or a stream (a pipe, FIFO, socket
// or character device, read until it ends).
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

    // Opens `path` for reading ("-": standard input); returns 0 or the errno
    // value of the failure.
    int open(const char* path);
    // The name to use in messages: the path, or "standard input".
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    // Whether the input can only be read forward until it ends.
    bool is_stream() const { return stream_; }

    // Bytes from the current position to the end, found by seeking; the
    // position is left where it was. Returns 0 or an errno value (an input that
    // cannot seek, such as a pipe).
    int size(std::uint64_t& bytes);

    // While `fd` is readable, reads from a stream give up with ECANCELED instead
    // of waiting for data; this lets another thread stop a blocked reader.
    void set_cancel_fd(int fd) { cancel_fd_ = fd; }

    // Moves the position of a seekable input to `offset` bytes from where it
    // started; returns 0 or an errno value.
    int seek(std::uint64_t offset);

    // Tells the kernel the file will be read once from start to end.
    void advise_sequential();

    // Reads `bytes` bytes from the current position, stopping early only at end
    // of file or on an error.
    Transfer read(void* buffer, std::uint64_t bytes);
    // The same at a byte offset from where the input started, leaving the
    // current position alone (seekable inputs only).
    Transfer read_at(void* buffer, std::uint64_t bytes, std::uint64_t offset);

  private:
    bool wait_readable();

    int fd_ = -1;
    bool stream_ = false;
    int cancel_fd_ = -1;
    std::uint64_t start_ = 0;
    std::string path_;
};

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Opens `path` for writing, creating it if needed, and truncates it to
    // empty; "-" is standard output, used as it is. When the output is the
    // same regular file or block device as `input` (same device and inode),
    // nothing is truncated and the result is kSameFile.
    // With `truncate` false the file is only opened, and truncate() empties
    // it once the caller is sure to write it.
    static constexpr int kSameFile = -1;
    int create(const char* path, const InputFile& input, const InputFile* other_input = nullptr,
               bool truncate = true);
    int truncate();
    // The name to use in messages: the path, or "standard output".
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

    // Writes all `bytes` bytes; returns 0 or the errno value of the failure
    // (a device that accepts no more bytes gives ENOSPC).
    int write(const void* buffer, std::uint64_t bytes);
    // Closes the file; returns 0 or the errno value of a failed close.
    int close();

  private:
    int fd_ = -1;
    bool standard_ = false;
    std::string path_;
};

// Whether two open descriptors write to the same place, so that what is
// written through one would overwrite or interleave with the other: the same
// file, pipe, socket or terminal (not /dev/null, which keeps nothing).
bool same_destination(int a, int b);

// Samples of Planar16Frame files are little-endian on disk. These convert a
// buffer of samples in place between file order and the host's order (nothing
// to do on little-endian hosts).
void le16_to_host(std::uint16_t* samples, std::uint64_t count);
void host_to_le16(std::uint16_t* samples, std::uint64_t count);

}  // namespace rawframes
