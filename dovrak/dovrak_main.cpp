// dovrak: converts 10-bit planar RGB frames (16-bit little-endian samples) into
// 8-bit full-range BT.709 YCbCr 4:2:0 frames.
#include "dovrak_main.hpp"

#include <algorithm>

#include "convert_driver.hpp"
#include "pixel_format.hpp"
#include "rgb10_to_yuv420_kernel.hpp"

namespace rawframes {

int dovrak_main(int argc, char** argv) {
    static const ConverterSpec converter{
        ProgramSpec{
            .program = "dovrak",
            // "hight" is the program's own spelling in its usage line, which
            // users' scripts and notes may quote; it stays as it is.
            .usage = "Usage: dovrak infile outfile width hight\n",
            .help_usage_from = 0,
            .description =
                "Converts frames of 10-bit planar R, G, B (16-bit little-endian samples) into\n"
                "8-bit full-range BT.709 YCbCr 4:2:0 (Y plane, then Cb and Cr planes of\n"
                "(width + 1) / 2 x (hight + 1) / 2 samples). Every whole input frame is "
                "converted.\n"
                "Exit status: 0 on success, 255 on any error.\n",
            .options = kY4mOutputOptions,
            .options_help = kY4mOptionsHelp,
            .usage_status = 255,
            .failure_status = 255,
            .usage_to_stderr = false,
            .kernels =
                [] {
                    return std::max(best_isa(rgb10_to_yuv420_pixels_variants()),
                                    best_isa(rgb10_to_yuv420_average_variants()));
                },
        },
        ConverterPolicy{},
        kRgb10,
        kYuv420,
        false,
        [](void* in, void* out, const FrameGeometry& g) {
            return rgb10_to_yuv420_frame(static_cast<std::uint16_t*>(in),
                                         static_cast<std::uint8_t*>(out), g);
        },
        kAbove10BitWarning,
    };
    return run_converter(converter, argc, argv);
}

}  // namespace rawframes
