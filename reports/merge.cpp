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
constexpr std::size_t kMaxFrameMembers = 64;

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

using Value = JsonScalar;

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
    std::vector<std::string> measures;  // as the head lists them
    bool have_frames = false, have_width = false, have_height = false, have_skip = false;
    std::string error;             // why the parse stopped, or empty
    FrameJson summary;             // the summary's values, by their place
    std::optional<Region> region;  // the measured region, if the report names one

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
        if (depth == 1 && levels_[0].key == "measures" && !array)
            return not_a_report("\"measures\" is not a list");
        if (depth == 2 && in_frames()) {
            if (array) return not_a_report("a frame is not an object");
            frame_json_.members.clear();
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
        if (depth == 2 && levels_[0].key == "measures" && levels_[1].array) {
            if (v.kind != Value::kString || measures.size() >= kMaxMeasures)
                return not_a_report("\"measures\" is not a list of measures");
            measures.push_back(v.text);
            return true;
        }
        if (depth == 2 && levels_[0].key == "region" && !levels_[1].array) {
            const std::string& k = levels_[1].key;
            if (v.kind != Value::kUnsigned || v.whole > INT32_MAX)
                return not_a_report("\"region\" holds something other than whole numbers");
            const auto n = static_cast<std::int32_t>(v.whole);
            if (!region) region = Region{};
            (k == "x"       ? region->x
             : k == "y"     ? region->y
             : k == "width" ? region->width
                            : region->height) = n;
            return true;
        }
        if (depth >= 2 && depth <= 3 && levels_[0].key == "summary" && !levels_[1].array) {
            if (summary.members.size() >= kMaxFrameMembers)
                return not_a_report("its summary has too many members");
            summary.members.emplace_back(
                depth == 2 ? levels_[1].key : levels_[1].key + "." + levels_[2].key, v);
            return true;
        }
        if (depth == 4 && levels_[0].key == "summary" && levels_[1].key == "average") {
            if (summary.members.size() >= kMaxFrameMembers)
                return not_a_report("its summary has too many members");
            summary.members.emplace_back("average." + levels_[2].key + "." + levels_[3].key, v);
            return true;
        }
        if (!in_frames() || frame_ == nullptr) return true;
        if (depth == 2) return not_a_report("a frame is not an object");
        // A frame's members, and those of its objects, by where they stand.
        if (depth > 4) return true;
        if (frame_json_.members.size() >= kMaxFrameMembers)
            return not_a_report("a frame has too many members");
        frame_json_.members.emplace_back(
            depth == 3 ? levels_[2].key : levels_[2].key + "." + levels_[3].key, v);
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
    // A frame is handed on once its reference frame is the one the frame
    // skip gives and every measure has read its values back and found them
    // what a run gives.
    bool end_frame() {
        FrameRecord record;
        const Value* number = frame_json_.find("frame");
        const Value* reference = frame_json_.find("reference_frame");
        if (number == nullptr || reference == nullptr || number->kind != Value::kUnsigned ||
            reference->kind != Value::kUnsigned)
            return not_a_report("a frame has no \"frame\" or \"reference_frame\"");
        record.frame = number->whole;
        record.reference_frame = reference->whole;
        const std::string name = "frame " + std::to_string(record.frame);
        const std::uint64_t step = std::uint64_t(run_->frame_skip) + 1;
        if (std::uint64_t expected = 0; __builtin_mul_overflow(record.frame, step, &expected) ||
                                        record.reference_frame != expected)
            return stop(name + " is compared with reference frame " +
                        std::to_string(record.reference_frame) + ", which frame skip " +
                        std::to_string(run_->frame_skip) + " does not give");
        const std::vector<const Measure*> measures = run_measures(*run_);
        for (std::size_t k = 0; k < measures.size(); ++k)
            if (const std::string why = measures[k]->read(frame_json_, *run_, record, k);
                !why.empty())
                return stop(name + ": " + why);
        (*frame_)(record);
        return true;
    }

    const ReportInfo* run_;
    const std::function<void(const FrameRecord&)>* frame_;
    std::vector<Level> levels_;
    FrameJson frame_json_;
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
    return read_report_figures(file).info;
}

ReportFigures read_report_figures(InputFile& file) {
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
    if (events.region) {
        info.region = events.region;
        if (const std::string why = check_region(*f, {info.width, info.height}, *info.region);
            !why.empty())
            throw MergeError("its region is invalid: " + why);
    }
    std::string list;
    for (const std::string& m : events.measures) list += (list.empty() ? "" : ",") + m;
    if (const std::string why = choose_measures(list.empty() ? "snr" : list, *f, info.measures);
        !why.empty())
        throw MergeError("its measures are not ones of frame-snr: " + why);
    if (const std::string why = check_geometry({info.width, info.height}); !why.empty())
        throw MergeError("its frame size is invalid: " + why);
    return {info, events.summary};
}

void read_report_frames(InputFile& file, const ReportInfo& info,
                        const std::function<void(const FrameRecord&)>& frame) {
    ReportEvents events(&info, &frame);
    parse(file, events);
}

}  // namespace rawframes
