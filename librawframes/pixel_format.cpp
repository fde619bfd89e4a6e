#include "pixel_format.hpp"

#include <cstring>

namespace rawframes {

namespace {
constexpr const PixelFormat* kFormats[] = {&kYuv10, &kRgb10, &kRgb8, &kYuv420};
}  // namespace

std::span<const PixelFormat* const> pixel_formats() {
    return kFormats;
}

const PixelFormat* find_pixel_format(std::string_view name) {
    for (const PixelFormat* f : kFormats)
        if (name == f->name) return f;
    return nullptr;
}

bool has_y4m_form(const PixelFormat& f) {
    return f.y4m_tags[0] != nullptr;
}

std::uint64_t plane_width(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p) {
    return f.chroma_420 && p > 0 ? g.chroma_width() : static_cast<std::uint64_t>(g.width);
}

std::uint64_t plane_height(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p) {
    return f.chroma_420 && p > 0 ? g.chroma_height() : static_cast<std::uint64_t>(g.height);
}

std::uint64_t plane_samples(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p) {
    return f.chroma_420 && p > 0 ? g.chroma_pixels() : g.pixels();
}

std::uint64_t plane_offset(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p) {
    std::uint64_t at = 0;
    for (std::uint32_t q = 0; q < p; ++q) at += plane_samples(f, g, q) * f.sample_bytes;
    return at;
}

std::uint64_t frame_bytes(const PixelFormat& f, const FrameGeometry& g) {
    return plane_offset(f, g, 3);
}

std::string check_region(const PixelFormat& f, const FrameGeometry& g, const Region& r) {
    if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 ||
        static_cast<std::int64_t>(r.x) + r.width > g.width ||
        static_cast<std::int64_t>(r.y) + r.height > g.height)
        return "the region " + std::to_string(r.width) + " x " + std::to_string(r.height) + " at " +
               std::to_string(r.x) + "," + std::to_string(r.y) + " does not lie inside the " +
               std::to_string(g.width) + " x " + std::to_string(g.height) + " frames";
    if (f.chroma_420 &&
        (r.x % 2 != 0 || r.y % 2 != 0 || (r.width % 2 != 0 && r.x + r.width != g.width) ||
         (r.height % 2 != 0 && r.y + r.height != g.height)))
        return std::string("a region of ") + f.name +
               " frames starts at even coordinates and has an even width and height (unless it "
               "reaches the frame's edge), so that its chroma rectangle falls on whole samples";
    return {};
}

void crop_frame(const PixelFormat& f, const FrameGeometry& g, const std::uint8_t* frame,
                const Region& r, std::uint8_t* out) {
    const FrameGeometry rg{r.width, r.height};
    for (std::uint32_t p = 0; p < 3; ++p) {
        const std::uint64_t full_width = plane_width(f, g, p);
        // A subsampled plane's rectangle is the region's halved.
        const bool half = full_width != static_cast<std::uint64_t>(g.width);
        const std::uint64_t x = half ? r.x / 2 : r.x, y = half ? r.y / 2 : r.y;
        const std::uint64_t w = plane_width(f, rg, p), h = plane_height(f, rg, p);
        const std::uint8_t* from = frame + plane_offset(f, g, p);
        std::uint8_t* to = out + plane_offset(f, rg, p);
        for (std::uint64_t row = 0; row < h; ++row)
            std::memcpy(to + row * w * f.sample_bytes,
                        from + ((y + row) * full_width + x) * f.sample_bytes, w * f.sample_bytes);
    }
}

}  // namespace rawframes
