// rgb10-to-yuv10: converts 10-bit planar RGB frames (16-bit little-endian
// samples) into Co + 1024, Y, Cg + 1024 frames with the reversible YCoCg-R
// transform, num_frame frames or until the input ends.
#include "rgb10_to_yuv10_main.hpp"

#include <cstdio>
#include <cstring>

#include "buffer.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "geometry.hpp"
#include "parse.hpp"
#include "ycocg_r.hpp"

namespace rawframes {

namespace {

constexpr const char* kProgram = "rgb10-to-yuv10";
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr const char* kDescription =
    "Converts frames of 10-bit planar R, G, B (16-bit little-endian samples) into\n"
    "planar Co + 1024, Y, Cg + 1024 with the reversible integer YCoCg-R transform.\n"
    "Converts num_frame frames, or until the input ends when num_frame is negative.\n"
    "Exit status: 0 on success, 1 on any error.\n";

int fail(const std::string& what, const std::string& reason) {
    report_error(kProgram, what, reason);
    return kFailed;
}

}  // namespace

int rgb10_to_yuv10_main(int argc, char** argv) {
    constexpr const char* kUsage = "Usage : %s input_rgb10 output_yuv10 width height num_frame\n";
    if (argc == 2) {
        char usage[512];
        std::snprintf(usage, sizeof usage, kUsage, argv[0]);
        if (handle_info_option(argc, argv, kProgram, usage, kDescription)) return kOk;
    }
    if (argc != 6) {
        std::printf(kUsage, argv[0]);
        return kFailed;
    }
    const FrameGeometry geometry{parse_int(argv[3]), parse_int(argv[4])};
    // A negative count reads as a very large one: convert until the input ends.
    const auto num_frame = static_cast<std::uint32_t>(parse_int(argv[5]));

    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);
    const std::uint64_t samples = 3 * geometry.pixels();
    const std::uint64_t frame_bytes = geometry.planar16_bytes();
    FrameBuffer<std::uint16_t> frame = allocate_frame<std::uint16_t>(samples);
    if (!frame)
        return fail("cannot allocate a frame buffer",
                    std::to_string(frame_bytes) + " bytes are not available");

    InputFile input;
    if (input.open(argv[1]) != 0) {
        std::fprintf(stderr, "%s file open error \n", argv[1]);
        return kFailed;
    }
    input.advise_sequential();
    OutputFile output;
    if (const int rc = output.create(argv[2], input); rc != 0) {
        if (rc == OutputFile::kSameFile)
            return fail(std::string("cannot write ") + argv[2],
                        std::string("it is the same file as the input ") + argv[1]);
        std::fprintf(stderr, "%s file open error \n", argv[2]);
        return kFailed;
    }

    for (std::uint32_t i = 0; i < num_frame; ++i) {
        const Transfer got = input.read(frame.get(), frame_bytes);
        if (got.error != 0)
            return fail(std::string("cannot read ") + argv[1], error_text(got.error));
        // The loop ends at the first read that does not deliver one whole sample.
        if (got.bytes < 2) break;
        if (got.bytes < frame_bytes) {
            // A last frame only partly present: samples not wholly present are
            // zero, and the frame is converted and written whole.
            const std::uint64_t whole = got.bytes / 2;
            std::memset(frame.get() + whole, 0, (samples - whole) * 2);
            report_error(kProgram, std::string("warning: ") + argv[1],
                         "last frame has only " + std::to_string(got.bytes) + " of " +
                             std::to_string(frame_bytes) + " bytes; missing samples are zero");
        }
        le16_to_host(frame.get(), samples);
        ycocg_r_frame(frame.get(), geometry.height, geometry.width);
        host_to_le16(frame.get(), samples);
        if (const int e = output.write(frame.get(), frame_bytes); e != 0)
            return fail(std::string("cannot write ") + argv[2], error_text(e));
        if (got.bytes < frame_bytes) break;
    }
    if (const int e = output.close(); e != 0)
        return fail(std::string("cannot write ") + argv[2], error_text(e));
    return kOk;
}

}  // namespace rawframes
