// dovrak: converts 10-bit planar RGB frames (16-bit little-endian samples) into
// 8-bit full-range BT.709 YCbCr 4:2:0 frames.
#include "dovrak_kernel.hpp"
#include "convert_driver.hpp"

using namespace rawframes;

int main(int argc, char** argv) {
    return run_frame_converter<std::uint16_t>(
        "dovrak", "Usage: dovrak infile outfile width hight\n", argc, argv,
        [](const FrameGeometry& g) { return 3 * g.pixels(); },
        [](const FrameGeometry& g) { return g.yuv420_bytes(); }, dovrak_frame);
}
