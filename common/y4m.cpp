#include "y4m.hpp"

#include <cstdint>
#include <sstream>
#include <vector>

namespace rawframes {

namespace {

// A whole number from 1 to 2^31 - 1 written as digits only.
bool parse_positive(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v < 1 || v > INT32_MAX) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool printable(const std::string& s) {
    for (const unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

}  // namespace

bool parse_frame_rate(const std::string& text, FrameRate& rate) {
    const std::size_t colon = text.find(':');
    FrameRate r;
    if (!parse_positive(text.substr(0, colon), r.num)) return false;
    if (colon != std::string::npos && !parse_positive(text.substr(colon + 1), r.den)) return false;
    rate = r;
    return true;
}

std::string y4m_stream_header(const PixelFormat& format, const FrameGeometry& g, FrameRate rate) {
    return std::string(kY4mMagic) + "W" + std::to_string(g.width) + " H" +
           std::to_string(g.height) + " F" + std::to_string(rate.num) + ":" +
           std::to_string(rate.den) + " Ip A1:1 C" + format.y4m_header_tail + "\n";
}

std::string check_y4m_stream_header(const std::string& params, const PixelFormat& format,
                                    FrameGeometry& g, const std::string& given_by) {
    if (!printable(params)) return "the YUV4MPEG2 header holds bytes that are not text";
    std::uint32_t width = 0, height = 0;
    bool has_width = false, has_height = false;
    std::string colour = "420jpeg";  // what a header without a C tag means
    std::istringstream words(params);
    for (std::string word; words >> word;) {
        const char tag = word[0];
        const std::string value = word.substr(1);
        if (tag == 'W' || tag == 'H') {
            std::uint32_t& v = tag == 'W' ? width : height;
            if (!parse_positive(value, v))
                return "the YUV4MPEG2 header has an invalid size '" + word + "'";
            (tag == 'W' ? has_width : has_height) = true;
        } else if (tag == 'C') {
            colour = value;
        }
        // F, I, A and X parameters do not change how the frames are read.
    }
    bool known = false;
    std::string tags;
    for (const char* t : format.y4m_tags) {
        if (t == nullptr) continue;
        known = known || colour == t;
        tags += std::string(tags.empty() ? "" : ", ") + "C" + t;
    }
    if (!known)
        return "the YUV4MPEG2 stream is C" + colour + "; only " + format.y4m_description + " (" +
               tags + ") can be read";
    if (!has_width || !has_height) return "the YUV4MPEG2 header gives no frame size";
    if (g.width == 0 && g.height == 0) {
        g = {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
        return {};
    }
    if (width != static_cast<std::uint32_t>(g.width) ||
        height != static_cast<std::uint32_t>(g.height))
        return "the YUV4MPEG2 frames are " + std::to_string(width) + " x " +
               std::to_string(height) + " but " + given_by + " gives " + std::to_string(g.width) +
               " x " + std::to_string(g.height);
    return {};
}

std::string check_y4m_frame_header(const std::string& line) {
    if (line.rfind("FRAME", 0) != 0 || (line.size() > 5 && line[5] != ' ') || !printable(line))
        return "a YUV4MPEG2 frame does not start with a FRAME line";
    return {};
}

}  // namespace rawframes
