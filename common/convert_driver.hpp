// The command-line driver shared by the three converters: take the options
// out of the arguments, check the geometry, allocate the frame slots, open the
// input and the output, then run the frame pipeline (read, convert, write) over
// every frame. Usage text goes to standard output, every other message is one
// line on standard error.
#pragma once

#include <cstdint>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

// What differs between the converters beyond their frame formats.
struct ConverterPolicy {
    int usage_status = 255;    // after the usage message
    int failure_status = 255;  // after any other failure
    // A fifth argument num_frame limits the frames converted (negative: no
    // limit), and exactly five arguments are required; otherwise at least four,
    // extra ones ignored.
    bool frame_limit = false;
    // A last frame only partly present is completed with zero samples,
    // converted and written, with a warning; otherwise it is ignored.
    bool complete_partial_frame = false;
    // Files that cannot be opened or created are reported as "NAME file open
    // error" rather than with the reason.
    bool terse_open_errors = false;
    // The output may be YUV4MPEG2 (--y4m, --fps, or a name ending in .y4m);
    // the input is read as YUV4MPEG2 when it begins like one.
    bool y4m_output = false;
    bool y4m_input = false;
};

struct ConverterSpec {
    const char* program;
    const char* usage;  // printf format; %s, when present, is argv[0]
    const char* description;
    ConverterPolicy policy;
    bool planar16_input;  // 16-bit little-endian input samples
    std::uint64_t (*in_bytes)(const FrameGeometry&);
    // 0 when the frame is converted in place and written from the input buffer.
    std::uint64_t (*out_bytes)(const FrameGeometry&);
    // Converts one frame (input samples in host order); `out` is null in place.
    void (*convert)(void* in, void* out, const FrameGeometry&);
    // The instruction set the conversion's kernels run on in this process.
    Isa (*kernels)();
};

int run_converter(const ConverterSpec& converter, int argc, char** argv);

}  // namespace rawframes
