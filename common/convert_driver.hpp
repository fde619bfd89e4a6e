// The command-line driver shared by the converters: take the options out of
// the arguments (start_program), check the geometry, allocate the frame slots, open the input
// and the output, then run the frame pipeline (read, convert, write) over
// every frame. Every message but the usage text is one line on standard error.
#pragma once

#include <cstdint>

#include "cli_info.hpp"
#include "geometry.hpp"
#include "pixel_format.hpp"

namespace rawframes {

// The options of a converter whose output may be YUV4MPEG2: --y4m, --fps, or
// an output name ending in .y4m.
inline constexpr OptionSpec kY4mOutputOptions[] = {{"y4m", false}, {"fps", true}};
inline constexpr const char* kY4mOptionsHelp =
    "  --y4m          write YUV4MPEG2 (also when outfile ends in .y4m)\n"
    "  --fps NUM[:DEN]  the frame rate a YUV4MPEG2 output states (default 25)\n";

// What differs between the converters beyond their frame formats and what
// ProgramSpec says.
struct ConverterPolicy {
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
};

struct ConverterSpec {
    ProgramSpec program;  // with kY4mOutputOptions when the output may be y4m
    ConverterPolicy policy;
    const PixelFormat& input;  // read as YUV4MPEG2 too when it has a y4m form
    const PixelFormat& output;
    // The frame is converted in its input buffer (the formats are the same size).
    bool in_place;
    // Converts one frame (16-bit samples in host order); `out` is null in
    // place. Returns how many samples `count_warning` is about.
    std::uint64_t (*convert)(void* in, void* out, const FrameGeometry&);
    // What the samples convert() counts are, said once at the end when there
    // are any: "<count> <count_warning>".
    const char* count_warning;
};

// The count warning of the converters that read 10-bit samples.
inline constexpr const char* kAbove10BitWarning =
    "samples above 1023: the input is not 10-bit RGB, and their results are clamped";

int run_converter(const ConverterSpec& converter, int argc, char** argv);

}  // namespace rawframes
