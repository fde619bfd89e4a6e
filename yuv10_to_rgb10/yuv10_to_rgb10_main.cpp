// yuv10-to-rgb10: the inverse of rgb10-to-yuv10. Converts planar Co + 1024, Y,
// Cg + 1024 frames (16-bit little-endian samples, or YUV4MPEG2 of 12 or 16
// bits 4:4:4 with the planes Y, Co + 1024, Cg + 1024) back into 10-bit planar
// R, G, B.
#include "yuv10_to_rgb10_main.hpp"

#include "convert_driver.hpp"
#include "frame_file.hpp"
#include "ycocg_r_inverse.hpp"

namespace rawframes {

int yuv10_to_rgb10_main(int argc, char** argv) {
    static const ConverterSpec converter{
        ProgramSpec{
            .program = "yuv10-to-rgb10",
            .usage = "Usage: yuv10-to-rgb10 infile outfile width height [options]\n",
            .help_usage_from = 0,
            .description =
                "Converts planar Co + 1024, Y, Cg + 1024 frames (16-bit little-endian samples,\n"
                "as rgb10-to-yuv10 writes them) back into 10-bit planar R, G, B with the inverse\n"
                "YCoCg-R transform. An input that begins with a YUV4MPEG2 header is read as\n"
                "C444p12 or C444p16 with the planes Y, Co + 1024, Cg + 1024. Every whole frame\n"
                "is converted; results outside 0..1023 are clamped and counted.\n"
                "Exit status: 0 on success, 1 on any error, 2 for a usage error.\n",
            .options = {},
            .options_help = "",
            .usage_status = 2,
            .failure_status = 1,
            .usage_to_stderr = true,
            .kernels = [] { return best_isa(ycocg_r_inverse_variants()); },
        },
        ConverterPolicy{},
        kYuv10,
        kRgb10,
        true,
        [](void* in, void*, const FrameGeometry& g) {
            auto* frame = static_cast<std::uint16_t*>(in);
            const std::uint64_t clamped = ycocg_r_inverse_frame(frame, g);
            host_to_le16(frame, 3 * g.pixels());
            return clamped;
        },
        "samples clamped to 0..1023: the input is not the YCoCg-R of 10-bit RGB (a lossy "
        "decode, say)",
    };
    return run_converter(converter, argc, argv);
}

}  // namespace rawframes
