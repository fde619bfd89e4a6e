#include "merge.hpp"

#include <charconv>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "diag.hpp"
#include "pixel_format.hpp"

namespace rawframes {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxDepth = 32;

// The bytes of a report, read through a fixed buffer. It watches the text as
// the parser takes it, so that no single string or number can make the parser
// hold more than kMaxReportValue bytes.
class ReportBytes {
  public:
    explicit ReportBytes(InputFile& file) : file_(file), buffer_(std::size_t{1} << 16) { fill(); }
    bool at_end() const { return at_ == size_; }
    char current() const { return buffer_[at_]; }
    void advance() {
        watch(buffer_[at_]);
        if (++at_ == size_) fill();
    }

  private:
    void fill() {
        const Transfer t = file_.read(buffer_.data(), buffer_.size());
        if (t.error != 0) throw MergeError(error_text(t.error));
        size_ = t.bytes;
        at_ = 0;
    }
    void watch(char c) {
        if (in_string_) {
            if (escaped_)
                escaped_ = false;
            else if (c == '\\')
                escaped_ = true;
            else if (c == '"')
                in_string_ = false;
        } else if (c == '"') {
            in_string_ = true;
            length_ = 0;
        } else if (c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}' ||
                   c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            length_ = 0;
        }
        if (++length_ > kMaxReportValue)
            throw MergeError("it holds a value longer than " + std::to_string(kMaxReportValue) +
                             " bytes, which no frame-snr report has");
    }

    InputFile& file_;
    std::vector<char> buffer_;
    std::size_t at_ = 0, size_ = 0;
    bool in_string_ = false, escaped_ = false;
    std::uint64_t length_ = 0;
};

// An input iterator over ReportBytes, as the parser reads its input.
struct ReportIterator {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    ReportBytes* bytes = nullptr;  // null: the end
    char operator*() const { return bytes->current(); }
    ReportIterator& operator++() {
        bytes->advance();
        return *this;
    }
    bool ended() const { return bytes == nullptr || bytes->at_end(); }
    bool operator==(const ReportIterator& other) const { return ended() == other.ended(); }
    bool operator!=(const ReportIterator& other) const { return !(*this == other); }
};

std::string shortest_text(double v) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// A scalar value as the parser gives it.
struct Value {
    enum Kind { kNull, kBool, kUnsigned, kNegative, kFloat, kString } kind = kNull;
    std::uint64_t whole = 0;
    std::string text;  // of a string, or a number as written
};

// The parser's events, placed in the report: its head (the top-level members)
// and each frame of its "frames" array. Values the merge does not use are
// passed over, nested at most kMaxDepth deep.
class ReportEvents : public nlohmann::json_sax<Json> {
  public:
    // What is done with each frame; null for the head only.
    explicit ReportEvents(const ReportInfo* run,
                          const std::function<void(const FrameRecord&)>* frame)
        : run_(run), frame_(frame) {}

    ReportInfo info;
    std::string format;
    bool have_frames = false, have_width = false, have_height = false, have_skip = false;
    std::string error;  // why the parse stopped, or empty

    bool null() override { return value({}); }
    bool boolean(bool) override { return value({Value::kBool, 0, {}}); }
    bool number_integer(number_integer_t v) override {
        return value({Value::kNegative, 0, std::to_string(v)});
    }
    bool number_unsigned(number_unsigned_t v) override {
        return value({Value::kUnsigned, v, std::to_string(v)});
    }
    bool number_float(number_float_t, const string_t& s) override {
        return value({Value::kFloat, 0, s});
    }
    bool string(string_t& s) override { return value({Value::kString, 0, s}); }
    bool binary(binary_t&) override { return value({}); }
    bool key(string_t& k) override {
        levels_.back().key = k;
        return true;
    }
    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        // The parser's text after its "[json.exception.parse_error.N] " prefix.
        std::string what = e.what();
        if (const std::size_t at = what.find("] "); at != std::string::npos) what.erase(0, at + 2);
        return stop("it is not valid JSON: " + what);
    }

  private:
    struct Level {
        bool array;
        std::string key;  // of the member being read, in an object
    };

    bool stop(const std::string& why) {
        if (error.empty()) error = why;
        return false;
    }
    bool not_a_report(const std::string& why) {
        return stop("it is not a frame-snr JSON report (" + why + ")");
    }
    // In the "frames" array: depth 2 holds the frames, 3 their members, 4 the
    // planes of "sse" and "snr".
    bool in_frames() const {
        return levels_.size() >= 2 && levels_[0].key == "frames" && levels_[1].array;
    }
    bool open(bool array) {
        const std::size_t depth = levels_.size();
        if (depth == 0 && array) return not_a_report("it is not a JSON object");
        if (depth == 1 && levels_[0].key == "frames") {
            if (!array) return not_a_report("\"frames\" is not an array");
            have_frames = true;
        }
        if (depth == 2 && in_frames()) {
            if (array) return not_a_report("a frame is not an object");
            record_ = {};
            for (auto& s : seen_) s = Seen{};
            have_number_ = have_reference_ = false;
        }
        if (depth >= kMaxDepth) return not_a_report("it nests too deeply");
        levels_.push_back({array, {}});
        return true;
    }
    bool close() {
        levels_.pop_back();
        if (levels_.size() == 2 && in_frames() && frame_ != nullptr) return end_frame();
        return true;
    }
    bool value(const Value& v) {
        const std::size_t depth = levels_.size();
        if (depth == 0) return not_a_report("it is not a JSON object");
        if (depth == 1) return head(levels_[0].key, v);
        if (!in_frames() || frame_ == nullptr) return true;
        if (depth == 2) return not_a_report("a frame is not an object");
        const std::string& member = levels_[2].key;
        if (depth == 3 && (member == "frame" || member == "reference_frame")) {
            if (v.kind != Value::kUnsigned)
                return not_a_report("a frame's \"" + member + "\" is not a frame number");
            (member == "frame" ? record_.frame : record_.reference_frame) = v.whole;
            (member == "frame" ? have_number_ : have_reference_) = true;
        }
        if (depth == 4 && (member == "sse" || member == "snr")) return plane(member, v);
        return true;
    }
    bool head(const std::string& key, const Value& v) {
        if (key == "target" || key == "reference" || key == "format") {
            if (v.kind != Value::kString) return not_a_report("\"" + key + "\" is not a string");
            (key == "target" ? info.target : key == "reference" ? info.reference : format) = v.text;
        } else if (key == "width" || key == "height" || key == "frame_skip") {
            if (v.kind != Value::kUnsigned || v.whole > INT32_MAX)
                return not_a_report("\"" + key + "\" is not a whole number up to 2147483647");
            const auto n = static_cast<std::int32_t>(v.whole);
            (key == "width" ? info.width : key == "height" ? info.height : info.frame_skip) = n;
            (key == "width" ? have_width : key == "height" ? have_height : have_skip) = true;
        }
        return true;
    }
    bool plane(const std::string& member, const Value& v) {
        const ReportLayout& layout = run_->layout;
        std::size_t c = 0;
        while (c < 3 && json_key(layout, c) != levels_[3].key) ++c;
        if (c == 3)
            return stop("frame " + frame_name() + " has no plane '" + levels_[3].key + "' of " +
                        layout.format->name);
        Seen& seen = seen_[c];
        if (member == "sse") {
            // Exact: whole numbers beyond 64 bits come as floats, written out.
            if (v.kind != Value::kUnsigned && v.kind != Value::kFloat)
                return stop("frame " + frame_name() + ": its squared error is not a whole number");
            Sse sum = 0;
            for (const char ch : v.text) {
                if (ch < '0' || ch > '9' || sum > (~Sse{0} - 9) / 10)
                    return stop("frame " + frame_name() + ": '" + v.text +
                                "' is not a squared error");
                sum = sum * 10 + static_cast<unsigned>(ch - '0');
            }
            record_.figures[c].sse = sum;
            seen.sse = true;
        } else {
            if (v.kind != Value::kNull && v.kind != Value::kUnsigned && v.kind != Value::kFloat &&
                v.kind != Value::kNegative)
                return stop("frame " + frame_name() + ": an SNR is not a number or null");
            seen.snr = true;
            seen.snr_text = v.kind == Value::kNull ? std::nullopt : std::optional(v.text);
        }
        return true;
    }
    std::string frame_name() const {
        return have_number_ ? std::to_string(record_.frame) : "without a number";
    }
    // A frame is handed on once its figures are what its squared errors give.
    bool end_frame() {
        if (!have_number_ || !have_reference_)
            return not_a_report("a frame has no \"frame\" or \"reference_frame\"");
        const std::string name = "frame " + std::to_string(record_.frame);
        const std::uint64_t step = std::uint64_t(run_->frame_skip) + 1;
        if (std::uint64_t expected = 0; __builtin_mul_overflow(record_.frame, step, &expected) ||
                                        record_.reference_frame != expected)
            return stop(name + " is compared with reference frame " +
                        std::to_string(record_.reference_frame) + ", which frame skip " +
                        std::to_string(run_->frame_skip) + " does not give");
        const ReportLayout& layout = run_->layout;
        for (std::size_t c = 0; c < 3; ++c) {
            const Seen& seen = seen_[c];
            const std::string plane = layout.name(c);
            if (!seen.sse || !seen.snr)
                return stop(name + " lacks the squared error or the SNR of " + plane);
            PlaneFigure& figure = record_.figures[c];
            figure = column_figure(layout, c, figure.sse, {run_->width, run_->height});
            // Identical planes have no SNR in JSON; the others the one their
            // squared error gives, to the bit.
            bool same = false;
            if (!seen.snr_text) {
                same = figure.sse == 0;
            } else if (figure.sse != 0) {
                const std::string& t = *seen.snr_text;
                double stated = 0;
                std::from_chars_result got{};
                if (single_precision(layout, c)) {
                    float f = 0;
                    got = std::from_chars(t.data(), t.data() + t.size(), f);
                    stated = f;
                } else {
                    got = std::from_chars(t.data(), t.data() + t.size(), stated);
                }
                same =
                    got.ec == std::errc() && got.ptr == t.data() + t.size() && stated == figure.snr;
            }
            if (!same)
                return stop(name + ": its SNR of " + plane + " is " +
                            seen.snr_text.value_or("null") + ", but its squared error " +
                            sse_text(figure.sse) + " gives " +
                            (figure.sse == 0 ? std::string("null (identical planes)")
                                             : shortest_text(figure.snr)));
        }
        (*frame_)(record_);
        return true;
    }

    struct Seen {
        bool sse = false, snr = false;
        std::optional<std::string> snr_text;
    };
    const ReportInfo* run_;
    const std::function<void(const FrameRecord&)>* frame_;
    std::vector<Level> levels_;
    FrameRecord record_;
    std::array<Seen, 3> seen_{};
    bool have_number_ = false, have_reference_ = false;
};

// Parses the whole report from its start; throws MergeError.
void parse(InputFile& file, ReportEvents& events) {
    if (const int e = file.seek(0); e != 0) throw MergeError(error_text(e));
    ReportBytes bytes(file);
    const bool whole = Json::sax_parse(ReportIterator{&bytes}, ReportIterator{}, &events,
                                       Json::input_format_t::json, true);
    if (!whole) throw MergeError(events.error.empty() ? "it is not valid JSON" : events.error);
}

}  // namespace

ReportInfo read_report_info(InputFile& file) {
    ReportEvents events(nullptr, nullptr);
    parse(file, events);
    if (events.format.empty()) throw MergeError("it is not a frame-snr JSON report (no format)");
    const PixelFormat* f = find_pixel_format(events.format);
    if (f == nullptr) throw MergeError("its format '" + events.format + "' is unknown");
    if (!events.have_width || !events.have_height || !events.have_skip || !events.have_frames)
        throw MergeError(
            "it is not a frame-snr JSON report (it lacks the size, the frame skip or the frames)");
    ReportInfo info = events.info;
    info.layout = report_layout(*f);
    if (const std::string why = check_geometry({info.width, info.height}); !why.empty())
        throw MergeError("its frame size is invalid: " + why);
    return info;
}

void read_report_frames(InputFile& file, const ReportInfo& info,
                        const std::function<void(const FrameRecord&)>& frame) {
    ReportEvents events(&info, &frame);
    parse(file, events);
}

}  // namespace rawframes
