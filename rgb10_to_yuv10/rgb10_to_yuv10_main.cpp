// rgb10-to-yuv10: converts 10-bit planar RGB frames (16-bit little-endian
// samples) into Co + 1024, Y, Cg + 1024 frames with the reversible YCoCg-R
// transform, num_frame frames or until the input ends.
#include "rgb10_to_yuv10_main.hpp"

#include "convert_driver.hpp"
#include "frame_file.hpp"
#include "pixel_format.hpp"
#include "ycocg_r.hpp"

namespace rawframes {

int rgb10_to_yuv10_main(int argc, char** argv) {
    static const ConverterSpec converter{
        ProgramSpec{
            .program = "rgb10-to-yuv10",
            .usage = "Usage : %s input_rgb10 output_yuv10 width height num_frame\n",
            .help_usage_from = 0,
            .description =
                "Converts frames of 10-bit planar R, G, B (16-bit little-endian samples) into\n"
                "planar Co + 1024, Y, Cg + 1024 with the reversible integer YCoCg-R transform.\n"
                "Converts num_frame frames, or until the input ends when num_frame is negative.\n"
                "As YUV4MPEG2 (C444p12) the planes are Y, Co + 1024, Cg + 1024.\n"
                "Exit status: 0 on success, 1 on any error.\n",
            .options = kY4mOutputOptions,
            .options_help = kY4mOptionsHelp,
            .usage_status = 1,
            .failure_status = 1,
            .usage_to_stderr = false,
            .kernels = [] { return best_isa(ycocg_r_variants()); },
        },
        ConverterPolicy{
            .frame_limit = true, .complete_partial_frame = true, .terse_open_errors = true},
        kRgb10,
        kYuv10,
        true,
        [](void* in, void*, const FrameGeometry& g) {
            auto* frame = static_cast<std::uint16_t*>(in);
            const std::uint64_t above = ycocg_r_frame(frame, g);
            host_to_le16(frame, 3 * g.pixels());
            return above;
        },
        kAbove10BitWarning,
    };
    return run_converter(converter, argc, argv);
}

}  // namespace rawframes
