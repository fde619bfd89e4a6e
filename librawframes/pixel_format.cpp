#include "pixel_format.hpp"

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

}  // namespace rawframes
