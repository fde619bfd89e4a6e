// The command-line driver shared by the two 4:2:0 converters: parse the
// arguments, allocate both frame buffers, open the input, create the output,
// count the whole input frames, then read, convert and write frame by frame.
// Every failure gives one line on standard error and status -1; a run that
// converted all its frames ends with 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "buffer.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "geometry.hpp"
#include "parse.hpp"

namespace rawframes {

inline constexpr int kConverterFailed = -1;

// `InSample` is the input sample type (16-bit samples are little-endian in the
// file); `in_samples` and `out_bytes` give the frame sizes for a geometry, and
// `convert(in, out, geometry)` converts one frame.
template <class InSample, class InSamples, class OutBytes, class Convert>
int run_frame_converter(const char* program, const char* usage, const char* description, int argc,
                        char** argv, InSamples in_samples, OutBytes out_bytes, Convert convert) {
    if (handle_info_option(argc, argv, program, usage, description)) return 0;
    if (argc < 5) {
        std::fputs(usage, stdout);
        return kConverterFailed;
    }
    auto fail = [program](const std::string& what, const std::string& reason) {
        report_error(program, what, reason);
        return kConverterFailed;
    };
    const std::string in_path = argv[1];
    const std::string out_path = argv[2];
    const FrameGeometry geometry{parse_int(argv[3]), parse_int(argv[4])};
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);

    const std::uint64_t samples = in_samples(geometry);
    const std::uint64_t in_bytes = samples * sizeof(InSample);
    const std::uint64_t out_size = out_bytes(geometry);
    // Both buffers together must fit in memory, not only each on its own.
    const bool fits = in_bytes + out_size <= physical_memory_bytes();
    FrameBuffer<InSample> in_frame = fits ? allocate_frame<InSample>(samples) : nullptr;
    FrameBuffer<std::uint8_t> out_frame = fits ? allocate_frame<std::uint8_t>(out_size) : nullptr;
    if (!in_frame || !out_frame)
        return fail("cannot allocate frame buffers",
                    std::to_string(in_bytes + out_size) + " bytes are not available");

    InputFile input;
    if (const int e = input.open(in_path.c_str()); e != 0)
        return fail("cannot open " + in_path, error_text(e));
    // Measured before the output is created, so that an input that cannot be
    // measured (a pipe, say) leaves no empty output behind.
    std::uint64_t size = 0;
    if (const int e = input.size(size); e != 0)
        return fail("cannot measure " + in_path, error_text(e));
    OutputFile output;
    if (const int e = output.create(out_path.c_str(), input); e != 0)
        return fail("cannot write " + out_path, e == OutputFile::kSameFile
                                                    ? "it is the same file as the input " + in_path
                                                    : error_text(e));
    const std::uint64_t frames = count_frames(size, in_bytes);
    input.advise_sequential();

    for (std::uint64_t i = 0; i < frames; ++i) {
        const Transfer got = input.read(in_frame.get(), in_bytes);
        if (got.error != 0) return fail("cannot read " + in_path, error_text(got.error));
        if (got.bytes != in_bytes)
            return fail("cannot read " + in_path, "the file ended inside frame " +
                                                      std::to_string(i) + " of " +
                                                      std::to_string(frames));
        if constexpr (sizeof(InSample) == 2)
            le16_to_host(reinterpret_cast<std::uint16_t*>(in_frame.get()), samples);
        convert(in_frame.get(), out_frame.get(), geometry);
        if (const int e = output.write(out_frame.get(), out_size); e != 0)
            return fail("cannot write " + out_path, error_text(e));
    }
    if (const int e = output.close(); e != 0)
        return fail("cannot write " + out_path, error_text(e));
    return 0;
}

}  // namespace rawframes
