#include "report.hpp"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "log10.hpp"

namespace rawframes {

std::string json_key(const ReportLayout& layout, std::size_t c) {
    std::string s = layout.name(c);
    for (char& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return s;
}

bool single_precision(const ReportLayout& layout, std::size_t c) {
    return layout.classic && c == 1;
}

namespace {

// The shortest decimal text that reads back to the same value.
template <class T>
std::string shortest(T value) {
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::string(buf, end);
}

// A column's value as written in CSV and JSON.
std::string value_text(const ReportLayout& layout, std::size_t c, double v) {
    return single_precision(layout, c) ? shortest(static_cast<float>(v)) : shortest(v);
}

std::string json_values(const ReportLayout& layout, const ColumnValues& values,
                        bool single_values = false) {
    std::string s = "{";
    for (std::size_t c = 0; c < 3; ++c) {
        const std::optional<double>& v = values[c];
        s += std::string(c ? ", " : "") + "\"" + json_key(layout, c) + "\": ";
        if (!v || !std::isfinite(*v))
            s += "null";
        else
            s += single_values ? value_text(layout, c, *v) : shortest(*v);
    }
    return s + "}";
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : valid_utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string xml_text(const std::string& text) {
    std::string out;
    for (const unsigned char c : valid_utf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c < 0x20 ? '?' : static_cast<char>(c);
        }
    }
    return out;
}

// A column's value for the summaries and the plot; absent for identical planes.
std::optional<double> differing_value(const PlaneFigure& p) {
    if (p.sse == 0) return std::nullopt;
    return p.snr;
}

void keep_min(std::optional<double>& m, const std::optional<double>& v) {
    if (v && (!m || *v < *m)) m = v;
}
void keep_max(std::optional<double>& m, const std::optional<double>& v) {
    if (v && (!m || *v > *m)) m = v;
}

}  // namespace

std::string valid_utf8(const std::string& s) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        std::size_t len = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
        std::uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates, values past U+10FFFF and noncharacters.
        static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= kLeast[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) &&
             (cp & 0xFFFE) != 0xFFFE && (cp < 0xFDD0 || cp > 0xFDEF);
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += 1;
        }
    }
    return out;
}

ReportLayout report_layout(const PixelFormat& format) {
    ReportLayout l;
    l.format = &format;
    l.classic = &format == &kYuv10;
    l.plane =
        l.classic ? std::array<std::uint32_t, 3>{1, 0, 2} : std::array<std::uint32_t, 3>{0, 1, 2};
    return l;
}

PlaneFigure column_figure(const ReportLayout& layout, std::size_t c, Sse sse,
                          const FrameGeometry& g) {
    const PixelFormat& format = *layout.format;
    const std::uint32_t p = layout.plane[c];
    if (sse == 0) return {0, layout.classic ? 0.0 : INFINITY};
    const double peak = format.planes[p].peak;
    double snr = snr_db(
        static_cast<double>(sse), static_cast<std::int32_t>(plane_width(format, g, p)),
        static_cast<std::int32_t>(plane_height(format, g, p)), static_cast<float>(peak * peak));
    if (single_precision(layout, c)) snr = static_cast<float>(snr);
    return {sse, snr};
}

FrameFigures measure(const ReportLayout& layout, const std::uint8_t* target,
                     const std::uint8_t* reference, const FrameGeometry& g) {
    FrameFigures f;
    const PixelFormat& format = *layout.format;
    for (std::size_t c = 0; c < 3; ++c) {
        const std::uint32_t p = layout.plane[c];
        const std::uint64_t at = plane_offset(format, g, p), n = plane_samples(format, g, p);
        Sse sse = 0;
        if (format.sample_bytes == 2)
            plane_sse(reinterpret_cast<const std::int16_t*>(target + at),
                      reinterpret_cast<const std::int16_t*>(reference + at), n, &sse);
        else
            plane_sse8(target + at, reference + at, n, &sse);
        f[c] = column_figure(layout, c, sse, g);
    }
    return f;
}

void ReportSummary::add(const FrameFigures& f) {
    ++frames_;
    if (layout_.classic)
        sums_.add(FrameSnr{f[0].snr, static_cast<float>(f[1].snr), f[2].snr, f[0].sse, f[1].sse,
                           f[2].sse});
    for (std::size_t c = 0; c < 3; ++c) {
        total_[c] += f[c].sse;
        const std::optional<double> v = differing_value(f[c]);
        if (v) differing_sum_[c] += *v, ++differing_[c];
        keep_min(min_[c], v);
        keep_max(max_[c], v);
    }
}

ColumnValues ReportSummary::average() const {
    if (frames_ == 0) return {};
    if (!layout_.classic) {
        ColumnValues v = mean_of_differing();
        for (auto& x : v)
            if (!x) x = INFINITY;
        return v;
    }
    const auto k = static_cast<double>(static_cast<float>(frames_));
    return {static_cast<double>(sums_.y) / k, static_cast<double>(sums_.u) / k,
            static_cast<double>(sums_.v) / k};
}

ColumnValues ReportSummary::mean_of_differing() const {
    ColumnValues v;
    for (std::size_t c = 0; c < 3; ++c)
        if (differing_[c] != 0) v[c] = differing_sum_[c] / static_cast<double>(differing_[c]);
    return v;
}

ColumnValues ReportSummary::global(const FrameGeometry& g) const {
    ColumnValues v;
    const PixelFormat& format = *layout_.format;
    for (std::size_t c = 0; c < 3; ++c) {
        if (total_[c] == 0) continue;
        const std::uint32_t p = layout_.plane[c];
        const double peak = format.planes[p].peak;
        const double signal = static_cast<double>(static_cast<float>(peak * peak)) *
                              static_cast<double>(plane_width(format, g, p)) *
                              static_cast<double>(plane_height(format, g, p)) *
                              static_cast<double>(frames_);
        v[c] = ten_log10(signal / static_cast<double>(total_[c]));
    }
    return v;
}

namespace {

std::string text_header(const ReportLayout& layout) {
    std::string s = "\nFrame";
    for (std::size_t c = 0; c < 3; ++c) s += "\tSnr" + layout.name(c);
    return s;
}

std::string text_line(const ReportLayout& layout, std::uint64_t frame, const FrameFigures& f) {
    char line[160];
    std::snprintf(
        line, sizeof line,
        layout.classic ? "\n%" PRIu64 "\t%.3f\t%.4f\t%.4f" : "\n%" PRIu64 "\t%.4f\t%.4f\t%.4f",
        frame, f[0].snr, f[1].snr, f[2].snr);
    return line;
}

std::string text_averages(const ReportSummary& summary, const ReportLayout& layout) {
    const ColumnValues average = summary.average();
    std::string s = "\n";
    for (std::size_t c = 0; c < 3; ++c) {
        char value[64] = "nan";
        if (average[c]) std::snprintf(value, sizeof value, "%.4f", *average[c]);
        s += "\nAverage SNR " + layout.name(c) + ": " + value;
    }
    return s + "\n";
}

std::string csv_header(const ReportLayout& layout) {
    std::string s = "frame,reference_frame";
    for (const char* kind : {",sse_", ",snr_"})
        for (std::size_t c = 0; c < 3; ++c) s.append(kind).append(json_key(layout, c));
    return s + "\n";
}

std::string csv_row(const ReportLayout& layout, const FrameRecord& r) {
    std::string s = std::to_string(r.frame) + "," + std::to_string(r.reference_frame);
    for (const PlaneFigure& p : r.figures) s.append(",").append(sse_text(p.sse));
    for (std::size_t c = 0; c < 3; ++c) {
        const PlaneFigure& p = r.figures[c];
        s.append(",").append(p.sse ? value_text(layout, c, p.snr) : std::string("inf"));
    }
    return s + "\n";
}

std::string json_begin(const ReportInfo& info) {
    return "{\"target\": " + json_string(info.target) +
           ", \"reference\": " + json_string(info.reference) + ", \"format\": \"" +
           info.layout.format->name + "\", \"width\": " + std::to_string(info.width) +
           ", \"height\": " + std::to_string(info.height) +
           ", \"frame_skip\": " + std::to_string(info.frame_skip) + ",\n \"frames\": [";
}

std::string json_frame(const ReportLayout& layout, const FrameRecord& r, bool first) {
    std::string sse = "{", snr = "{";
    for (std::size_t c = 0; c < 3; ++c) {
        const PlaneFigure& p = r.figures[c];
        const std::string key = std::string(c ? ", " : "") + "\"" + json_key(layout, c) + "\": ";
        sse += key + sse_text(p.sse);
        snr += key + (p.sse ? value_text(layout, c, p.snr) : "null");
    }
    return std::string(first ? "\n" : ",\n") + "  {\"frame\": " + std::to_string(r.frame) +
           ", \"reference_frame\": " + std::to_string(r.reference_frame) + ", \"sse\": " + sse +
           "}, \"snr\": " + snr + "}}";
}

std::string json_end(const ReportInfo& info, const ReportSummary& summary) {
    const ReportLayout& l = info.layout;
    return std::string(summary.frames() ? "\n ]" : "]") +
           ",\n \"summary\": {\"frames\": " + std::to_string(summary.frames()) +
           ", \"average\": " + json_values(l, summary.average()) +
           ", \"global\": " + json_values(l, summary.global({info.width, info.height})) +
           ", \"min\": " + json_values(l, summary.min(), true) +
           ", \"max\": " + json_values(l, summary.max(), true) + "}}\n";
}

}  // namespace

void PlotSeries::merge_pairs() {
    std::vector<Bucket> merged;
    for (const Bucket& b : buckets_) {
        const std::uint64_t start =
            first_frame_ + (b.first_frame - first_frame_) / (2 * span_) * 2 * span_;
        if (merged.empty() || merged.back().first_frame != start) {
            merged.push_back(b);
            merged.back().first_frame = start;
            continue;
        }
        Bucket& m = merged.back();
        for (std::size_t c = 0; c < 3; ++c) {
            keep_min(m.low[c], b.low[c]);
            keep_max(m.high[c], b.high[c]);
            m.lossless[c] = m.lossless[c] || b.lossless[c];
        }
    }
    buckets_ = std::move(merged);
    span_ *= 2;
}

void PlotSeries::add(std::uint64_t frame, const FrameFigures& f) {
    if (frames_ == 0) first_frame_ = frame;
    ++frames_;
    last_frame_ = frame;
    while ((frame - first_frame_) / span_ >= kMaxBuckets) merge_pairs();
    const std::uint64_t start = first_frame_ + (frame - first_frame_) / span_ * span_;
    if (buckets_.empty() || buckets_.back().first_frame != start) {
        buckets_.emplace_back();
        buckets_.back().first_frame = start;
    }
    Bucket& b = buckets_.back();
    for (std::size_t c = 0; c < 3; ++c) {
        const std::optional<double> v = differing_value(f[c]);
        if (!v) b.lossless[c] = true;
        keep_min(b.low[c], v);
        keep_max(b.high[c], v);
    }
}

namespace {

std::string svg_plot(const ReportInfo& info, const PlotSeries& series,
                     const ReportSummary& summary) {
    constexpr double kWidth = 960, kHeight = 540;
    constexpr double kLeft = 70, kRight = 190, kTop = 70, kBottom = 60;
    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    const char* const colours[] = {"#1f77b4", "#2ca02c", "#d62728"};
    const ReportLayout& layout = info.layout;
    const ColumnValues averages = summary.mean_of_differing();

    // The dB range: every finite value and average, widened to whole ticks.
    double lo = INFINITY, hi = -INFINITY;
    const auto widen = [&](const std::optional<double>& v) {
        if (v && std::isfinite(*v)) lo = std::min(lo, *v), hi = std::max(hi, *v);
    };
    for (const PlotSeries::Bucket& b : series.buckets())
        for (std::size_t c = 0; c < 3; ++c) widen(b.low[c]), widen(b.high[c]);
    for (const auto& a : averages) widen(a);
    if (!(lo <= hi)) lo = 0, hi = 60;
    if (hi - lo < 1) lo -= 0.5, hi += 0.5;
    // 1, 2 or 5 times a power of ten, the smallest that makes at most
    // `ticks` steps of `span`; the power found by steps of ten, so that it is
    // the same on every machine.
    const auto nice_step = [](double span, int ticks) {
        const double raw = span / ticks;
        double mag = 1;
        while (mag > raw && mag > 1e-300) mag /= 10;
        while (mag * 10 <= raw && mag < 1e300) mag *= 10;
        for (const double m : {1.0, 2.0, 5.0, 10.0})
            if (raw <= m * mag) return m * mag;
        return 10 * mag;
    };
    const double y_step = nice_step(hi - lo, 6);
    lo = std::floor(lo / y_step) * y_step;
    hi = std::ceil(hi / y_step) * y_step;
    const double last = series.frames() == 0 ? 1 : static_cast<double>(series.last_frame());
    const double x_span = std::max(last, 1.0);
    const double x_step = std::max(1.0, nice_step(x_span, 8));
    const auto px = [&](double frame) { return kLeft + frame / x_span * plot_w; };
    const auto py = [&](double db) { return kTop + (hi - db) / (hi - lo) * plot_h; };
    const auto num = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.1f", v);
        return std::string(b);
    };
    const auto label = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%g", v);
        return std::string(b);
    };

    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" "
        "viewBox=\"0 0 960 540\" font-family=\"sans-serif\" font-size=\"12\">\n"
        "<rect width=\"960\" height=\"540\" fill=\"white\"/>\n";
    s += "<text x=\"480\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">SNR of " +
         xml_text(info.target) + " against " + xml_text(info.reference) + " (" +
         std::to_string(info.width) + " x " + std::to_string(info.height) + ", frame skip " +
         std::to_string(info.frame_skip) + ", " + std::to_string(summary.frames()) +
         " frames)</text>\n";
    // Grid, ticks and their labels.
    // Ticks counted, not stepped: a step too small to change a huge value
    // must not loop for ever.
    const auto tick_count = [](double from, double to, double step) {
        const double n = std::floor((to - from) / step + 0.5);
        return n >= 0 && n <= 100 ? static_cast<int>(n) : 0;
    };
    for (int k = 0, n = tick_count(lo, hi, y_step); k <= n; ++k) {
        const double v = lo + k * y_step;
        s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plot_w) + "\" y1=\"" +
             num(py(v)) + "\" y2=\"" + num(py(v)) + "\" stroke=\"#ddd\"/>\n";
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(v) + 4) +
             "\" text-anchor=\"end\">" + label(v) + "</text>\n";
    }
    for (int k = 0, n = tick_count(0, x_span, x_step); k <= n; ++k) {
        const double f = k * x_step;
        s += "<line x1=\"" + num(px(f)) + "\" x2=\"" + num(px(f)) + "\" y1=\"" +
             num(kTop + plot_h) + "\" y2=\"" + num(kTop + plot_h + 5) + "\" stroke=\"black\"/>\n";
        s += "<text x=\"" + num(px(f)) + "\" y=\"" + num(kTop + plot_h + 18) +
             "\" text-anchor=\"middle\">" + label(f) + "</text>\n";
    }
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(plot_w) +
         "\" height=\"" + num(plot_h) + "\" fill=\"none\" stroke=\"black\"/>\n";
    s += "<text x=\"" + num(kLeft + plot_w / 2) + "\" y=\"" + num(kHeight - 15) +
         "\" text-anchor=\"middle\">frame number</text>\n";
    s += "<text transform=\"translate(20 " + num(kTop + plot_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">SNR (dB)</text>\n";

    // Each plane: its curve (broken at lossless frames, which are marked at
    // the top edge), its average as a dashed line, and its legend entry. A
    // bucket of several frames draws its lowest and highest value.
    double legend_y = kTop + 10;
    double mark_y = kTop - 8;  // lossless marks of each plane in a row of their own
    for (std::size_t c = 0; c < 3; ++c) {
        const std::string name = xml_text(layout.name(c));
        const char* colour = colours[c];
        std::string path, marks;
        bool pen_down = false;
        for (const PlotSeries::Bucket& b : series.buckets()) {
            const double x = px(static_cast<double>(b.first_frame));
            if (b.lossless[c]) {
                marks += "<path d=\"M" + num(x - 4) + " " + num(mark_y) + "h8l-4 7z\" fill=\"" +
                         colour + "\"><title>frame " + std::to_string(b.first_frame) + ": " + name +
                         " lossless</title></path>\n";
                pen_down = false;
            }
            if (!b.low[c]) continue;
            path += pen_down ? 'L' : 'M';
            path += num(x) + " " + num(py(*b.low[c])) + " ";
            if (*b.high[c] != *b.low[c]) path += "L" + num(x) + " " + num(py(*b.high[c])) + " ";
            pen_down = true;
            if (series.frames() <= 200)
                marks += "<circle cx=\"" + num(x) + "\" cy=\"" + num(py(*b.low[c])) +
                         "\" r=\"2\" fill=\"" + colour + "\"/>\n";
        }
        if (!path.empty())
            s += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + colour +
                 "\" stroke-width=\"1.5\"/>\n";
        s += marks;
        const std::optional<double> avg = averages[c];
        if (avg && std::isfinite(*avg))
            s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plot_w) + "\" y1=\"" +
                 num(py(*avg)) + "\" y2=\"" + num(py(*avg)) + "\" stroke=\"" + colour +
                 "\" stroke-dasharray=\"6 4\"/>\n";
        const double lx = kLeft + plot_w + 15;
        s += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 25) + "\" y1=\"" + num(legend_y) +
             "\" y2=\"" + num(legend_y) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) + "\">" + name +
             "</text>\n";
        s += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 25) + "\" y1=\"" + num(legend_y + 18) +
             "\" y2=\"" + num(legend_y + 18) + "\" stroke=\"" + colour +
             "\" stroke-dasharray=\"6 4\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 22) + "\">" + name +
             " average" + (avg ? " " + num(*avg) + " dB" : std::string()) + "</text>\n";
        legend_y += 44;
        mark_y -= 9;
    }
    const double lx = kLeft + plot_w + 15;
    s += "<path d=\"M" + num(lx + 8) + " " + num(legend_y - 4) + "h8l-4 7z\" fill=\"#555\"/>\n";
    s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) + "\">lossless frame</text>\n";
    s += "</svg>\n";
    return s;
}

class TextReport final : public Report {
  public:
    explicit TextReport(const ReportInfo& info) : layout_(info.layout) {}
    std::string begin() override { return text_header(layout_); }
    std::string frame(const FrameRecord& r) override {
        return text_line(layout_, r.frame, r.figures);
    }
    std::string end(const ReportSummary& summary) override {
        return text_averages(summary, layout_);
    }

  private:
    ReportLayout layout_;
};

class CsvReport final : public Report {
  public:
    explicit CsvReport(const ReportInfo& info) : layout_(info.layout) {}
    std::string begin() override { return csv_header(layout_); }
    std::string frame(const FrameRecord& r) override { return csv_row(layout_, r); }
    std::string end(const ReportSummary&) override { return {}; }

  private:
    ReportLayout layout_;
};

class JsonReport final : public Report {
  public:
    explicit JsonReport(const ReportInfo& info) : info_(info) {}
    std::string begin() override { return json_begin(info_); }
    std::string frame(const FrameRecord& r) override {
        const bool first = first_;
        first_ = false;
        return json_frame(info_.layout, r, first);
    }
    std::string end(const ReportSummary& summary) override { return json_end(info_, summary); }

  private:
    ReportInfo info_;
    bool first_ = true;
};

class PlotReport final : public Report {
  public:
    explicit PlotReport(const ReportInfo& info) : info_(info) {}
    std::string begin() override { return {}; }
    std::string frame(const FrameRecord& r) override {
        series_.add(r.frame, r.figures);
        return {};
    }
    std::string end(const ReportSummary& summary) override {
        return svg_plot(info_, series_, summary);
    }

  private:
    ReportInfo info_;
    PlotSeries series_;
};

}  // namespace

std::unique_ptr<Report> make_report(ReportKind kind, const ReportInfo& info) {
    switch (kind) {
        case ReportKind::kText:
            return std::make_unique<TextReport>(info);
        case ReportKind::kCsv:
            return std::make_unique<CsvReport>(info);
        case ReportKind::kJson:
            return std::make_unique<JsonReport>(info);
        case ReportKind::kPlot:
            break;
    }
    return std::make_unique<PlotReport>(info);
}

}  // namespace rawframes
