#include "error_map.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "lanes_scalar.hpp"

#ifdef RAWFRAMES_PNG
#include <png.h>
#endif

namespace rawframes {

namespace {

// The viridis colour map of van der Walt and Smith (public domain, CC0), 256
// colours from dark blue through green to yellow, each as lightness rises
// evenly.
constexpr std::uint8_t kViridis[256][3] = {
    {68, 1, 84},    {68, 2, 86},    {69, 4, 87},    {69, 5, 89},    {70, 7, 90},    {70, 8, 92},
    {70, 10, 93},   {70, 11, 94},   {71, 13, 96},   {71, 14, 97},   {71, 16, 99},   {71, 17, 100},
    {71, 19, 101},  {72, 20, 103},  {72, 22, 104},  {72, 23, 105},  {72, 24, 106},  {72, 26, 108},
    {72, 27, 109},  {72, 28, 110},  {72, 29, 111},  {72, 31, 112},  {72, 32, 113},  {72, 33, 115},
    {72, 35, 116},  {72, 36, 117},  {72, 37, 118},  {72, 38, 119},  {72, 40, 120},  {72, 41, 121},
    {71, 42, 122},  {71, 44, 122},  {71, 45, 123},  {71, 46, 124},  {71, 47, 125},  {70, 48, 126},
    {70, 50, 126},  {70, 51, 127},  {70, 52, 128},  {69, 53, 129},  {69, 55, 129},  {69, 56, 130},
    {68, 57, 131},  {68, 58, 131},  {68, 59, 132},  {67, 61, 132},  {67, 62, 133},  {66, 63, 133},
    {66, 64, 134},  {66, 65, 134},  {65, 66, 135},  {65, 68, 135},  {64, 69, 136},  {64, 70, 136},
    {63, 71, 136},  {63, 72, 137},  {62, 73, 137},  {62, 74, 137},  {62, 76, 138},  {61, 77, 138},
    {61, 78, 138},  {60, 79, 138},  {60, 80, 139},  {59, 81, 139},  {59, 82, 139},  {58, 83, 139},
    {58, 84, 140},  {57, 85, 140},  {57, 86, 140},  {56, 88, 140},  {56, 89, 140},  {55, 90, 140},
    {55, 91, 141},  {54, 92, 141},  {54, 93, 141},  {53, 94, 141},  {53, 95, 141},  {52, 96, 141},
    {52, 97, 141},  {51, 98, 141},  {51, 99, 141},  {50, 100, 142}, {50, 101, 142}, {49, 102, 142},
    {49, 103, 142}, {49, 104, 142}, {48, 105, 142}, {48, 106, 142}, {47, 107, 142}, {47, 108, 142},
    {46, 109, 142}, {46, 110, 142}, {46, 111, 142}, {45, 112, 142}, {45, 113, 142}, {44, 113, 142},
    {44, 114, 142}, {44, 115, 142}, {43, 116, 142}, {43, 117, 142}, {42, 118, 142}, {42, 119, 142},
    {42, 120, 142}, {41, 121, 142}, {41, 122, 142}, {41, 123, 142}, {40, 124, 142}, {40, 125, 142},
    {39, 126, 142}, {39, 127, 142}, {39, 128, 142}, {38, 129, 142}, {38, 130, 142}, {38, 130, 142},
    {37, 131, 142}, {37, 132, 142}, {37, 133, 142}, {36, 134, 142}, {36, 135, 142}, {35, 136, 142},
    {35, 137, 142}, {35, 138, 141}, {34, 139, 141}, {34, 140, 141}, {34, 141, 141}, {33, 142, 141},
    {33, 143, 141}, {33, 144, 141}, {33, 145, 140}, {32, 146, 140}, {32, 146, 140}, {32, 147, 140},
    {31, 148, 140}, {31, 149, 139}, {31, 150, 139}, {31, 151, 139}, {31, 152, 139}, {31, 153, 138},
    {31, 154, 138}, {30, 155, 138}, {30, 156, 137}, {30, 157, 137}, {31, 158, 137}, {31, 159, 136},
    {31, 160, 136}, {31, 161, 136}, {31, 161, 135}, {31, 162, 135}, {32, 163, 134}, {32, 164, 134},
    {33, 165, 133}, {33, 166, 133}, {34, 167, 133}, {34, 168, 132}, {35, 169, 131}, {36, 170, 131},
    {37, 171, 130}, {37, 172, 130}, {38, 173, 129}, {39, 173, 129}, {40, 174, 128}, {41, 175, 127},
    {42, 176, 127}, {44, 177, 126}, {45, 178, 125}, {46, 179, 124}, {47, 180, 124}, {49, 181, 123},
    {50, 182, 122}, {52, 182, 121}, {53, 183, 121}, {55, 184, 120}, {56, 185, 119}, {58, 186, 118},
    {59, 187, 117}, {61, 188, 116}, {63, 188, 115}, {64, 189, 114}, {66, 190, 113}, {68, 191, 112},
    {70, 192, 111}, {72, 193, 110}, {74, 193, 109}, {76, 194, 108}, {78, 195, 107}, {80, 196, 106},
    {82, 197, 105}, {84, 197, 104}, {86, 198, 103}, {88, 199, 101}, {90, 200, 100}, {92, 200, 99},
    {94, 201, 98},  {96, 202, 96},  {99, 203, 95},  {101, 203, 94}, {103, 204, 92}, {105, 205, 91},
    {108, 205, 90}, {110, 206, 88}, {112, 207, 87}, {115, 208, 86}, {117, 208, 84}, {119, 209, 83},
    {122, 209, 81}, {124, 210, 80}, {127, 211, 78}, {129, 211, 77}, {132, 212, 75}, {134, 213, 73},
    {137, 213, 72}, {139, 214, 70}, {142, 214, 69}, {144, 215, 67}, {147, 215, 65}, {149, 216, 64},
    {152, 216, 62}, {155, 217, 60}, {157, 217, 59}, {160, 218, 57}, {162, 218, 55}, {165, 219, 54},
    {168, 219, 52}, {170, 220, 50}, {173, 220, 48}, {176, 221, 47}, {178, 221, 45}, {181, 222, 43},
    {184, 222, 41}, {186, 222, 40}, {189, 223, 38}, {192, 223, 37}, {194, 223, 35}, {197, 224, 33},
    {200, 224, 32}, {202, 225, 31}, {205, 225, 29}, {208, 225, 28}, {210, 226, 27}, {213, 226, 26},
    {216, 226, 25}, {218, 227, 25}, {221, 227, 24}, {223, 227, 24}, {226, 228, 24}, {229, 228, 25},
    {231, 228, 25}, {234, 229, 26}, {236, 229, 27}, {239, 229, 28}, {241, 229, 29}, {244, 230, 30},
    {246, 230, 32}, {248, 230, 33}, {251, 231, 35}, {253, 231, 37},
};

// Digits of 5 x 7 pixels, a row a byte (bit 4 the leftmost pixel).
constexpr std::uint8_t kDigits[10][7] = {
    {14, 17, 19, 21, 25, 17, 14}, {4, 12, 4, 4, 4, 4, 14},  {14, 17, 1, 2, 4, 8, 31},
    {31, 2, 4, 2, 1, 17, 14},     {2, 6, 10, 18, 31, 2, 2}, {31, 16, 30, 1, 1, 17, 14},
    {6, 8, 16, 30, 17, 17, 14},   {31, 1, 2, 4, 8, 8, 8},   {14, 17, 17, 14, 17, 17, 14},
    {14, 17, 17, 15, 1, 2, 12},
};

std::optional<std::uint64_t> whole(const std::string& text) {
    std::uint64_t v = 0;
    if (text.empty() || text.size() > 18) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

}  // namespace

std::string parse_error_map_frames(const std::string& list, ErrorMapFrames& out) {
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        at = comma + 1;
        if (item.rfind("worst:", 0) == 0) {
            const auto n = whole(item.substr(6));
            if (!n || *n == 0 || *n > 1000)
                return "invalid '" + item + "': worst:N takes N from 1 to 1000";
            out.worst = static_cast<std::size_t>(*n);
        } else if (const auto n = whole(item)) {
            out.frames.push_back(*n);
        } else {
            return "invalid '" + item + "': expected frame numbers or worst:N";
        }
    }
    std::sort(out.frames.begin(), out.frames.end());
    out.frames.erase(std::unique(out.frames.begin(), out.frames.end()), out.frames.end());
    return {};
}

ErrorMap error_map(const PixelFormat& format, const FrameGeometry& g, const std::uint8_t* target,
                   const std::uint8_t* reference, std::optional<std::uint32_t> plane) {
    ErrorMap map;
    map.width = static_cast<std::uint32_t>(g.width);
    map.height = static_cast<std::uint32_t>(g.height);
    map.difference.assign(static_cast<std::size_t>(map.width) * map.height, 0);
    std::vector<std::uint32_t> owner(map.difference.size(), 0);
    for (std::uint32_t p = 0; p < 3; ++p) {
        if (plane && *plane != p) continue;
        const std::uint64_t at = plane_offset(format, g, p);
        const std::uint64_t pw = plane_width(format, g, p);
        // A subsampled plane's sample covers its 2 x 2 pixels.
        const bool half = pw != static_cast<std::uint64_t>(g.width);
        for (std::uint32_t y = 0; y < map.height; ++y) {
            for (std::uint32_t x = 0; x < map.width; ++x) {
                const std::uint64_t i = (half ? y / 2 : y) * pw + (half ? x / 2 : x);
                int a = 0, b = 0;
                if (format.sample_bytes == 2) {
                    std::int16_t sa = 0, sb = 0;
                    std::memcpy(&sa, target + at + 2 * i, 2);
                    std::memcpy(&sb, reference + at + 2 * i, 2);
                    a = sa, b = sb;
                } else {
                    a = target[at + i], b = reference[at + i];
                }
                const auto d = static_cast<std::uint32_t>(a > b ? a - b : b - a);
                std::uint32_t& cell = map.difference[static_cast<std::size_t>(y) * map.width + x];
                if (d > cell) cell = d, owner[static_cast<std::size_t>(y) * map.width + x] = p;
            }
        }
    }
    // The first pixel, in raster order, of the largest difference.
    map.plane_of_largest = plane.value_or(0);
    for (std::size_t i = 0; i < map.difference.size(); ++i) {
        if (map.difference[i] <= map.largest) continue;
        map.largest = map.difference[i];
        map.x = static_cast<std::uint32_t>(i % map.width);
        map.y = static_cast<std::uint32_t>(i / map.width);
        map.plane_of_largest = owner[i];
    }
    return map;
}

std::vector<std::uint8_t> error_map_picture(const ErrorMap& map, std::uint32_t& picture_height) {
    const std::uint32_t w = map.width;
    picture_height = map.height + kErrorMapStrip;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * picture_height * 3, 255);
    // The colour of each difference up to the largest, on the log scale.
    const double top = scalar_lanes::log_(1.0 + map.largest);
    const auto index = [&](std::uint32_t d) -> std::uint32_t {
        if (d == 0 || map.largest == 0) return 0;
        const double t = scalar_lanes::log_(1.0 + d) / top;
        return 1 + std::min<std::uint32_t>(254, static_cast<std::uint32_t>(254 * t));
    };
    std::vector<std::uint8_t> colour_of(static_cast<std::size_t>(map.largest) + 1);
    for (std::uint32_t d = 0; d <= map.largest; ++d)
        colour_of[d] = static_cast<std::uint8_t>(index(d));
    const auto put = [&](std::uint32_t x, std::uint32_t y, const std::uint8_t* c) {
        std::uint8_t* px = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        px[0] = c[0], px[1] = c[1], px[2] = c[2];
    };
    for (std::uint32_t y = 0; y < map.height; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            put(x, y, kViridis[colour_of[map.difference[static_cast<std::size_t>(y) * w + x]]]);
    // The strip: the colour bar from 0 to the largest difference, ticks at
    // 0, 1, 10, 100 ... and at the largest, and their values.
    if (w < 24) return rgb;
    const std::uint32_t left = 8, right = w - 9, bar_top = map.height + 4, bar_rows = 12;
    const auto position = [&](std::uint32_t colour) {
        return left + (right - left) * colour / 255;
    };
    for (std::uint32_t x = left; x <= right; ++x)
        for (std::uint32_t y = bar_top; y < bar_top + bar_rows; ++y)
            put(x, y, kViridis[(x - left) * 255 / (right - left)]);
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    std::uint32_t free_from = 0;  // where the next label may start
    const auto tick = [&](std::uint32_t value, bool always) {
        const std::uint32_t x = position(index(value));
        for (std::uint32_t y = bar_top + bar_rows; y < bar_top + bar_rows + 3; ++y)
            put(x, y, kBlack);
        const std::string text = std::to_string(value);
        const std::uint32_t width = static_cast<std::uint32_t>(text.size()) * 6 - 1;
        std::uint32_t from = x >= width / 2 ? x - width / 2 : 0;
        if (from + width >= w) from = w - width - 1;
        if (from < free_from && !always) return;
        for (std::size_t k = 0; k < text.size(); ++k)
            for (std::uint32_t row = 0; row < 7; ++row)
                for (std::uint32_t col = 0; col < 5; ++col)
                    if (kDigits[text[k] - '0'][row] & (16 >> col))
                        put(from + static_cast<std::uint32_t>(k) * 6 + col,
                            bar_top + bar_rows + 4 + row, kBlack);
        free_from = from + width + 4;
    };
    tick(0, true);
    for (std::uint32_t v = 1; v < map.largest && v <= 100000000; v *= 10)
        if (position(index(v)) + 12 < position(index(map.largest))) tick(v, false);
    if (map.largest > 0) tick(map.largest, true);
    return rgb;
}

#ifdef RAWFRAMES_PNG

bool png_available() {
    return true;
}

std::string write_png(const std::string& path, const std::vector<std::uint8_t>& rgb,
                      std::uint32_t width, std::uint32_t height, const std::string& comment) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return std::strerror(errno);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(f);
        std::remove(path.c_str());
        return "libpng could not start";
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        std::remove(path.c_str());
        return "libpng could not write it";
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>(comment.c_str());
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<std::size_t>(y) * width * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0) {
        std::remove(path.c_str());
        return std::strerror(errno);
    }
    return {};
}

#else

bool png_available() {
    return false;
}

std::string write_png(const std::string&, const std::vector<std::uint8_t>&, std::uint32_t,
                      std::uint32_t, const std::string&) {
    return "this build has no PNG support (libpng)";
}

#endif

}  // namespace rawframes
