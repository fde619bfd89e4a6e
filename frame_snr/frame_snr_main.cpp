// frame-snr: per-frame, per-plane SNR of a target file against a reference file
// of 16-bit planar frames, with an optional frame skip for targets that keep only
// every (frame_skip + 1)-th frame of the reference.
#include "frame_snr_main.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "buffer.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "geometry.hpp"
#include "parse.hpp"
#include "snr.hpp"

namespace rawframes {

namespace {

constexpr const char* kProgram = "frame-snr";
constexpr int kFailed = 1;
constexpr const char* kDescription =
    "Prints the per-frame SNR of each plane of target_file against reference_file\n"
    "(16-bit planar frames, default 160 x 112), and the averages. Plane 1 is luma\n"
    "(peak 1023), planes 0 and 2 chroma (peak 2047). Target frame i is compared\n"
    "with reference frame i * (frame_skip + 1).\n"
    "Exit status: 0 when frames were compared, 1 otherwise, 255 when a file\n"
    "cannot be opened.\n";
constexpr int kOpenFailed = -1;
constexpr std::int32_t kDefaultHeight = 112;
constexpr std::int32_t kDefaultWidth = 160;

int fail(const std::string& what, const std::string& reason) {
    report_error(kProgram, what, reason);
    return kFailed;
}

// Reads one whole frame; a counted frame that arrives short is an error.
bool read_frame(InputFile& file, std::int16_t* buffer, std::uint64_t bytes, bool at_offset,
                std::uint64_t offset) {
    const Transfer got = at_offset ? file.read_at(buffer, bytes, offset) : file.read(buffer, bytes);
    if (got.error != 0) {
        fail("cannot read " + file.path(), error_text(got.error));
        return false;
    }
    if (got.bytes != bytes) {
        fail("cannot read " + file.path(), "the file ended inside a frame it was counted to hold");
        return false;
    }
    le16_to_host(reinterpret_cast<std::uint16_t*>(buffer), bytes / 2);
    return true;
}

}  // namespace

int frame_snr_main(int argc, char** argv) {
    constexpr const char* kUsage =
        "\nError!\nUsage: %s target_file reference_file frame_skip [height] [width]\n";
    if (argc == 2) {
        char usage[512];
        std::snprintf(usage, sizeof usage, kUsage + 8, argv[0]);
        if (handle_info_option(argc, argv, kProgram, usage, kDescription)) return 0;
    }
    // A height without a width is as incomplete as a missing argument.
    if (argc < 4 || argc == 5) {
        std::printf(kUsage, argv[0]);
        return kFailed;
    }
    const std::int32_t frame_skip = parse_int(argv[3]);
    FrameGeometry geometry{kDefaultWidth, kDefaultHeight};
    if (argc >= 6) {
        geometry.height = parse_int(argv[4]);
        geometry.width = parse_int(argv[5]);
    }
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);

    InputFile target, reference;
    if (target.open(argv[1]) != 0) {
        std::fprintf(stderr, "Error open file %s\n", argv[1]);
        return kOpenFailed;
    }
    if (reference.open(argv[2]) != 0) {
        std::fprintf(stderr, "Error open file %s\n", argv[2]);
        return kOpenFailed;
    }

    const std::uint64_t n = geometry.pixels();
    const std::uint64_t frame_bytes = geometry.planar16_bytes();
    // Both buffers together must fit in memory, not only each on its own.
    const bool fits = 2 * frame_bytes <= physical_memory_bytes();
    FrameBuffer<std::int16_t> target_frame = fits ? allocate_frame<std::int16_t>(3 * n) : nullptr;
    FrameBuffer<std::int16_t> reference_frame =
        fits ? allocate_frame<std::int16_t>(3 * n) : nullptr;
    if (!target_frame || !reference_frame)
        return fail("cannot allocate frame buffers",
                    "2 x " + std::to_string(frame_bytes) + " bytes are not available");

    // Files that cannot be measured (pipes) are refused before any report line.
    std::uint64_t target_bytes = 0, reference_bytes = 0;
    if (const int e = target.size(target_bytes); e != 0)
        return fail("cannot measure " + target.path(), error_text(e));
    if (const int e = reference.size(reference_bytes); e != 0)
        return fail("cannot measure " + reference.path(), error_text(e));

    std::printf("\nFrame\tSnrY\tSnrU\tSnrV");
    const std::uint64_t t_frames = count_frames(target_bytes, frame_bytes);
    const std::uint64_t r_frames = count_frames(reference_bytes, frame_bytes);

    // Target frame i is compared with reference frame i * step, and only while
    // that reference frame lies wholly inside the reference file.
    const std::uint64_t step = frame_skip > 0 ? std::uint64_t(frame_skip) + 1 : 1;
    const std::uint64_t usable_reference = (r_frames + step - 1) / step;
    const std::uint64_t compared = std::min(t_frames, usable_reference);

    target.advise_sequential();
    if (step == 1) reference.advise_sequential();

    SnrSums sums;
    for (std::uint64_t i = 0; i < compared; ++i) {
        if (!read_frame(target, target_frame.get(), frame_bytes, false, 0)) return kFailed;
        if (!read_frame(reference, reference_frame.get(), frame_bytes, step > 1,
                        i * step * frame_bytes))
            return kFailed;
        const FrameSnr f = measure_frame(target_frame.get(), reference_frame.get(), geometry.width,
                                         geometry.height);
        sums.add(f);
        std::printf("\n%" PRIu64 "\t%.3f\t%.4f\t%.4f", i, f.y, static_cast<double>(f.u), f.v);
    }

    int status = 0;
    if (compared == 0) {
        std::printf("\n\nAverage SNR Y: nan\nAverage SNR U: nan\nAverage SNR V: nan\n");
        status = kFailed;
    } else {
        const auto k = static_cast<double>(static_cast<float>(compared));
        std::printf("\n\nAverage SNR Y: %.4f", static_cast<double>(sums.y) / k);
        std::printf("\nAverage SNR U: %.4f", static_cast<double>(sums.u) / k);
        std::printf("\nAverage SNR V: %.4f\n", static_cast<double>(sums.v) / k);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail("cannot write the report to standard output", error_text(errno));
    return status;
}

}  // namespace rawframes
