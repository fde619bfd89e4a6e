// yuv420-to-rgb: converts 8-bit full-range BT.709 YCbCr 4:2:0 frames into 8-bit
// planar RGB frames.
#include "yuv420_kernel.hpp"
#include "convert_driver.hpp"

using namespace rawframes;

int main(int argc, char** argv) {
    return run_frame_converter<std::uint8_t>(
        "yuv420-to-rgb", "Usage: yuv420-to-rgb infile outfile width hight\n", argc, argv,
        [](const FrameGeometry& g) { return g.yuv420_bytes(); },
        [](const FrameGeometry& g) { return g.planar8_bytes(); }, yuv420_to_rgb_frame);
}
