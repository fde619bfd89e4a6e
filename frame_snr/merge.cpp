#include "merge.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "diag.hpp"
#include "pixel_format.hpp"

namespace rawframes {

// A reader of the JSON that frame-snr writes, a token at a time, through a
// small buffer: reports of any number of frames take no more memory.
class ShardReader::Json {
  public:
    explicit Json(InputFile& file) : file_(file) {}

    int peek() {
        if (at_ == buffer_.size()) {
            buffer_.resize(1 << 16);
            const Transfer t = file_.read(buffer_.data(), buffer_.size());
            if (t.error != 0) throw MergeError(error_text(t.error));
            buffer_.resize(t.bytes);
            at_ = 0;
            if (t.bytes == 0) return -1;
        }
        return static_cast<unsigned char>(buffer_[at_]);
    }
    int get() {
        const int c = peek();
        if (c >= 0) ++at_;
        return c;
    }
    void space() {
        while (peek() == ' ' || peek() == '\n' || peek() == '\t' || peek() == '\r') get();
    }
    void expect(char c) {
        space();
        if (get() != c)
            throw MergeError(std::string("it is not a frame-snr JSON report (expected '") + c +
                             "')");
    }
    bool next_is(char c) {
        space();
        return peek() == c;
    }
    std::string string() {
        expect('"');
        std::string s;
        for (int c; (c = get()) != '"';) {
            if (c < 0) throw MergeError("it ends inside a string");
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            c = get();
            if (c != 'u') {
                s += static_cast<char>(c == 'n' ? '\n' : c == 't' ? '\t' : c);
                continue;
            }
            unsigned v = 0;
            for (int k = 0; k < 4; ++k) {
                const int h = get();
                v = v * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
            }
            s += static_cast<char>(v);  // only control characters are written as \u
        }
        return s;
    }
    // A number or a literal, as written.
    std::string token() {
        space();
        std::string s;
        for (int c; (c = peek()) >= 0 && c != ',' && c != '}' && c != ']' && c != ' ' && c != '\n';)
            s += static_cast<char>(get());
        if (s.empty()) throw MergeError("a value is missing");
        return s;
    }
    // Passes over a value the merge does not use, nested at most 32 deep.
    void skip_value(int depth = 0) {
        if (depth > 32) throw MergeError("it is not a frame-snr JSON report (it nests too deeply)");
        space();
        if (peek() == '"') {
            string();
        } else if (peek() == '{' || peek() == '[') {
            const char close = get() == '{' ? '}' : ']';
            if (next_is(close)) {
                get();
                return;
            }
            do {
                if (close == '}') {
                    string();
                    expect(':');
                }
                skip_value(depth + 1);
            } while (comma_or(close));
        } else {
            token();
        }
    }
    // After a member: true for a comma, false for `close`.
    bool comma_or(char close) {
        space();
        const int c = get();
        if (c == ',') return true;
        if (c == close) return false;
        throw MergeError("it is not a frame-snr JSON report");
    }

  private:
    InputFile& file_;
    std::vector<char> buffer_;
    std::size_t at_ = 0;
};

namespace {

std::uint64_t whole_number(const std::string& text, std::uint64_t most) {
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > most)
        throw MergeError("'" + text + "' is not a valid count");
    return v;
}

Sse exact_sum(const std::string& text) {
    Sse v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || v > (~Sse{0} - 9) / 10)
            throw MergeError("'" + text + "' is not a squared error");
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (text.empty()) throw MergeError("a squared error is missing");
    return v;
}

}  // namespace

ShardReader::ShardReader(InputFile& file) : json_(std::make_unique<Json>(file)) {
    Json& j = *json_;
    j.expect('{');
    std::string format;
    for (;;) {
        const std::string key = j.string();
        j.expect(':');
        if (key == "frames") break;
        if (key == "target")
            info_.target = j.string();
        else if (key == "reference")
            info_.reference = j.string();
        else if (key == "format")
            format = j.string();
        else if (key == "width")
            info_.width = static_cast<std::int32_t>(whole_number(j.token(), INT32_MAX));
        else if (key == "height")
            info_.height = static_cast<std::int32_t>(whole_number(j.token(), INT32_MAX));
        else if (key == "frame_skip")
            info_.frame_skip = static_cast<std::int32_t>(whole_number(j.token(), INT32_MAX));
        else
            j.skip_value();
        if (!j.comma_or('}')) throw MergeError("it holds no frames");
    }
    if (format.empty()) throw MergeError("it is not a frame-snr JSON report (it names no format)");
    const PixelFormat* f = find_pixel_format(format);
    if (f == nullptr) throw MergeError("its format '" + format + "' is unknown");
    info_.layout = report_layout(*f);
    j.expect('[');
}

ShardReader::~ShardReader() = default;

bool ShardReader::next(FrameRecord& r) {
    Json& j = *json_;
    if (done_) return false;
    if (first_ && j.next_is(']')) {
        j.get();
        done_ = true;
        return false;
    }
    if (!first_ && !j.comma_or(']')) {
        done_ = true;
        return false;
    }
    first_ = false;
    const ReportLayout& layout = info_.layout;
    std::array<std::string, 3> snr_text;
    std::array<bool, 3> have_sse{}, have_snr{};
    bool have_frame = false, have_reference = false;
    j.expect('{');
    do {
        const std::string key = j.string();
        j.expect(':');
        if (key == "frame" || key == "reference_frame") {
            (key == "frame" ? r.frame : r.reference_frame) = whole_number(j.token(), UINT64_MAX);
            (key == "frame" ? have_frame : have_reference) = true;
        } else if (key == "sse" || key == "snr") {
            j.expect('{');
            do {
                const std::string name = j.string();
                j.expect(':');
                std::size_t c = 0;
                while (c < 3 && json_key(layout, c) != name) ++c;
                if (c == 3)
                    throw MergeError("it has no column '" + name + "' of " + layout.format->name);
                if (key == "sse") {
                    r.figures[c].sse = exact_sum(j.token());
                    have_sse[c] = true;
                } else {
                    snr_text[c] = j.token();
                    have_snr[c] = true;
                }
            } while (j.comma_or('}'));
        } else {
            j.skip_value();
        }
    } while (j.comma_or('}'));
    if (!have_frame || !have_reference) throw MergeError("a frame has no number");
    for (std::size_t c = 0; c < 3; ++c) {
        if (!have_sse[c] || !have_snr[c])
            throw MergeError("frame " + std::to_string(r.frame) + " lacks a figure");
        PlaneFigure& p = r.figures[c];
        if (p.sse == 0) {
            // Identical planes: the classic report shows 0, the others inf.
            p.snr = layout.classic ? 0.0 : INFINITY;
            continue;
        }
        const std::string& t = snr_text[c];
        double v = 0;
        std::from_chars_result got{};
        if (single_precision(layout, c)) {
            float f = 0;
            got = std::from_chars(t.data(), t.data() + t.size(), f);
            v = f;
        } else {
            got = std::from_chars(t.data(), t.data() + t.size(), v);
        }
        if (got.ec != std::errc() || got.ptr != t.data() + t.size())
            throw MergeError("'" + t + "' is not an SNR");
        p.snr = v;
    }
    return true;
}

}  // namespace rawframes
