// yuv420-to-rgb: converts 8-bit full-range BT.709 YCbCr 4:2:0 frames into 8-bit
// planar RGB frames.
#include "yuv420_to_rgb_main.hpp"

#include "convert_driver.hpp"
#include "pixel_format.hpp"
#include "yuv420_to_rgb_kernel.hpp"

namespace rawframes {

int yuv420_to_rgb_main(int argc, char** argv) {
    static const ConverterSpec converter{
        ProgramSpec{
            .program = "yuv420-to-rgb",
            // "hight" is the program's own spelling in its usage line; it stays.
            .usage = "Usage: yuv420-to-rgb infile outfile width hight\n",
            .help_usage_from = 0,
            .description =
                "Converts frames of 8-bit full-range BT.709 YCbCr 4:2:0 into 8-bit planar R, G, "
                "B.\n"
                "Every whole input frame is converted. An input that begins with a YUV4MPEG2\n"
                "header is read as 8-bit 4:2:0 YUV4MPEG2 of the size given.\n"
                "Exit status: 0 on success, 255 on any error.\n",
            .options = {},
            .options_help = "",
            .usage_status = 255,
            .failure_status = 255,
            .usage_to_stderr = false,
            .kernels = [] { return best_isa(yuv420_row_variants()); },
        },
        ConverterPolicy{},
        kYuv420,
        kRgb8,
        false,
        [](void* in, void* out, const FrameGeometry& g) {
            yuv420_to_rgb_frame(static_cast<const std::uint8_t*>(in),
                                static_cast<std::uint8_t*>(out), g);
            return std::uint64_t{0};
        },
        "",
    };
    return run_converter(converter, argc, argv);
}

}  // namespace rawframes
