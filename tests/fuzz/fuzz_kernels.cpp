// Differential fuzzing of the kernels through the kernel harness: every variant
// this processor supports must give the plain version's results on arbitrary
// input at arbitrary misalignment without writing past its buffers, and whole
// frames of tiny and odd sizes must convert without touching memory outside
// their buffers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel_harness.hpp"
#include "pixel_format.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "yuv420_to_rgb_kernel.hpp"

using namespace rawframes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto& kernels = kernel_harness::kernels();
    const unsigned which = data[0] % (kernels.size() + 1);
    const std::size_t n = 1 + (data[1] | (data[2] << 8)) % 700;
    const std::size_t offset = 2 * (data[3] % 32);
    kernel_harness::Source source(data + 4, size - 4);
    if (which < kernels.size()) {
        const kernel_harness::Kernel& k = kernels[which];
        if (!kernel_harness::check(k, k.make_inputs(source, n), n, offset).empty()) std::abort();
        return 0;
    }
    // Whole frames of 1..26 x 1..26 pixels through both converters.
    const FrameGeometry g{static_cast<std::int32_t>(1 + n % 26),
                          static_cast<std::int32_t>(1 + (n / 26) % 26)};
    std::vector<std::uint16_t> rgb(3 * g.pixels());
    for (auto& v : rgb) v = static_cast<std::uint16_t>(source.next());
    std::vector<std::uint8_t> yuv(frame_bytes(kYuv420, g)), out(frame_bytes(kRgb8, g));
    rgb10_to_yuv420_frame(rgb.data(), yuv.data(), g);
    yuv420_to_rgb_frame(yuv.data(), out.data(), g);
    return 0;
}
