#include "report.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace rawframes {

FrameGeometry measured_geometry(const ReportInfo& info) {
    if (info.region) return {info.region->width, info.region->height};
    return {info.width, info.height};
}

std::vector<const Measure*> run_measures(const ReportInfo& info) {
    if (!info.measures.empty()) return info.measures;
    return {snr_measure(*info.layout.format)};
}

namespace {

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

std::string svg_head(double height) {
    const std::string h = svg_label(height);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"" +
           h + "\" viewBox=\"0 0 960 " + h +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n"
           "<rect width=\"960\" height=\"" +
           h + "\" fill=\"white\"/>\n";
}

std::string svg_number(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", v);
    return b;
}

std::string svg_label(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

double nice_step(double span, int ticks) {
    const double raw = span / ticks;
    double mag = 1;
    while (mag > raw && mag > 1e-300) mag /= 10;
    while (mag * 10 <= raw && mag < 1e300) mag *= 10;
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * mag) return m * mag;
    return 10 * mag;
}

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
    std::array<std::optional<double>, 3> values;
    std::array<bool, 3> lossless{};
    for (std::size_t c = 0; c < 3; ++c) {
        lossless[c] = f[c].sse == 0;
        if (!lossless[c]) values[c] = f[c].snr;
    }
    add(frame, values, lossless);
}

void PlotSeries::add(std::uint64_t frame, const std::array<std::optional<double>, 3>& values,
                     const std::array<bool, 3>& lossless) {
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
        if (lossless[c]) b.lossless[c] = true;
        keep_min(b.low[c], values[c]);
        keep_max(b.high[c], values[c]);
    }
}

namespace {

// ", region W x H at X,Y" when the run measures one.
std::string region_text(const ReportInfo& info) {
    if (!info.region) return {};
    const Region& r = *info.region;
    return ", region " + std::to_string(r.width) + " x " + std::to_string(r.height) + " at " +
           std::to_string(r.x) + "," + std::to_string(r.y);
}

// One measure's panel of the picture, `top` pixels down from its top.
std::string svg_panel(const ReportInfo& info, const Measure::Panel& panel, const PlotSeries& series,
                      const ColumnValues& averages, std::uint64_t frames, double top) {
    constexpr double kWidth = 960, kHeight = 540;
    constexpr double kLeft = 70, kRight = 190, kTop = 70, kBottom = 60;
    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    const char* const colours[] = {"#1f77b4", "#2ca02c", "#d62728"};
    const std::size_t columns = panel.columns.size();

    // The dB range: every finite value and average, widened to whole ticks.
    double lo = INFINITY, hi = -INFINITY;
    const auto widen = [&](const std::optional<double>& v) {
        if (v && std::isfinite(*v)) lo = std::min(lo, *v), hi = std::max(hi, *v);
    };
    for (const PlotSeries::Bucket& b : series.buckets())
        for (std::size_t c = 0; c < columns; ++c) widen(b.low[c]), widen(b.high[c]);
    for (std::size_t c = 0; c < columns; ++c) widen(averages[c]);
    if (!(lo <= hi)) lo = panel.empty_low, hi = panel.empty_high;
    if (hi - lo < panel.least_span) lo -= panel.least_span / 2, hi += panel.least_span / 2;
    const double y_step = nice_step(hi - lo, 6);
    lo = std::floor(lo / y_step) * y_step;
    hi = std::ceil(hi / y_step) * y_step;
    const double last = series.frames() == 0 ? 1 : static_cast<double>(series.last_frame());
    const double x_span = std::max(last, 1.0);
    const double x_step = std::max(1.0, nice_step(x_span, 8));
    const auto px = [&](double frame) { return kLeft + frame / x_span * plot_w; };
    const auto py = [&](double v) { return top + kTop + (hi - v) / (hi - lo) * plot_h; };
    const auto num = svg_number;
    const auto label = svg_label;

    std::string s = "<text x=\"480\" y=\"" + label(top + 28) +
                    "\" text-anchor=\"middle\" font-size=\"15\">" + panel.title + " of " +
                    xml_text(info.target) + " against " + xml_text(info.reference) + " (" +
                    std::to_string(info.width) + " x " + std::to_string(info.height) +
                    region_text(info) + ", frame skip " + std::to_string(info.frame_skip) + ", " +
                    std::to_string(frames) + " frames)</text>\n";
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
             num(top + kTop + plot_h) + "\" y2=\"" + num(top + kTop + plot_h + 5) +
             "\" stroke=\"black\"/>\n";
        s += "<text x=\"" + num(px(f)) + "\" y=\"" + num(top + kTop + plot_h + 18) +
             "\" text-anchor=\"middle\">" + label(f) + "</text>\n";
    }
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(top + kTop) + "\" width=\"" + num(plot_w) +
         "\" height=\"" + num(plot_h) + "\" fill=\"none\" stroke=\"black\"/>\n";
    s += "<text x=\"" + num(kLeft + plot_w / 2) + "\" y=\"" + num(top + kHeight - 15) +
         "\" text-anchor=\"middle\">frame number</text>\n";
    s += "<text transform=\"translate(20 " + num(top + kTop + plot_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + panel.axis + "</text>\n";

    // Each plane: its curve (broken at lossless frames, which are marked at
    // the top edge), its average as a dashed line, and its legend entry. A
    // bucket of several frames draws its lowest and highest value.
    double legend_y = top + kTop + 10;
    double mark_y = top + kTop - 8;  // lossless marks of each plane in a row of their own
    for (std::size_t c = 0; c < columns; ++c) {
        const std::string name = xml_text(panel.columns[c]);
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
        char average[64] = "";
        if (avg) std::snprintf(average, sizeof average, panel.legend_format, *avg);
        std::string entry = name;
        entry.append(" ").append(c < panel.pooled.size() ? panel.pooled[c] : "average");
        if (avg) entry.append(" ").append(average).append(panel.legend_unit);
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 22) + "\">" + entry +
             "</text>\n";
        legend_y += 44;
        mark_y -= 9;
    }
    if (panel.lossless_marks) {
        const double lx = kLeft + plot_w + 15;
        s += "<path d=\"M" + num(lx + 8) + " " + num(legend_y - 4) + "h8l-4 7z\" fill=\"#555\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) +
             "\">lossless frame</text>\n";
    }
    return s;
}

// The picture: a panel per measure, one below the other.
std::string svg_plot(const ReportInfo& info, const std::vector<PlotSeries>& series,
                     const ReportSummary& summary) {
    const std::vector<const Measure*> measures = run_measures(info);
    std::string s = svg_head(540.0 * static_cast<double>(measures.size()));
    for (std::size_t k = 0; k < measures.size(); ++k) {
        ColumnValues averages = summary.mean_of_differing();
        if (k != 0) {
            const MeasureValues mean = summary.mean(k);
            const MeasureValues largest = summary.largest(k);
            const bool largest_of_second = std::string(measures[k]->name()) == "ciede2000";
            for (std::size_t c = 0; c < 3; ++c) {
                const double v = largest_of_second && c == 1 ? largest[c] : mean[c];
                averages[c] = std::isnan(v) ? std::nullopt : std::optional<double>(v);
            }
        }
        s += svg_panel(info, measures[k]->panel(info.layout), series[k], averages, summary.frames(),
                       540.0 * static_cast<double>(k));
    }
    return s + "</svg>\n";
}

// Each report shows the run's measures, in order, through their entries.
class TextReport final : public Report {
  public:
    explicit TextReport(const ReportInfo& info)
        : layout_(info.layout),
          measures_(run_measures(info)),
          region_(info.region ? region_text(info).substr(std::string(", region").size()) : "") {}
    std::string begin() override {
        // A run of a region says so first.
        std::string s = region_.empty() ? "" : "\nMeasured: the region" + region_;
        s += "\nFrame";
        for (const Measure* m : measures_) s += m->text_header(layout_);
        return s;
    }
    std::string frame(const FrameRecord& r) override {
        std::string s = "\n";
        s += std::to_string(r.frame);
        for (std::size_t k = 0; k < measures_.size(); ++k)
            s += measures_[k]->text_values(layout_, r, k);
        return s;
    }
    std::string end(const ReportSummary& summary) override {
        std::string s = "\n";
        for (std::size_t k = 0; k < measures_.size(); ++k)
            s += measures_[k]->text_summary(layout_, summary, k);
        return s + "\n";
    }

  private:
    ReportLayout layout_;
    std::vector<const Measure*> measures_;
    std::string region_;
};

class CsvReport final : public Report {
  public:
    explicit CsvReport(const ReportInfo& info)
        : layout_(info.layout), measures_(run_measures(info)) {}
    std::string begin() override {
        std::string s = "frame,reference_frame";
        for (const Measure* m : measures_) s += m->csv_header(layout_);
        return s + "\n";
    }
    std::string frame(const FrameRecord& r) override {
        std::string s = std::to_string(r.frame) + "," + std::to_string(r.reference_frame);
        for (std::size_t k = 0; k < measures_.size(); ++k)
            s += measures_[k]->csv_values(layout_, r, k);
        return s + "\n";
    }
    std::string end(const ReportSummary&) override { return {}; }

  private:
    ReportLayout layout_;
    std::vector<const Measure*> measures_;
};

class JsonReport final : public Report {
  public:
    explicit JsonReport(const ReportInfo& info) : info_(info), measures_(run_measures(info)) {}
    std::string begin() override {
        // Runs of more than SNR say which measures they hold.
        std::string listed;
        if (measures_.size() > 1) {
            listed = ", \"measures\": [";
            for (std::size_t k = 0; k < measures_.size(); ++k)
                listed += std::string(k ? ", " : "") + "\"" + measures_[k]->name() + "\"";
            listed += "]";
        }
        return "{\"target\": " + json_string(info_.target) +
               ", \"reference\": " + json_string(info_.reference) + ", \"format\": \"" +
               info_.layout.format->name + "\", \"width\": " + std::to_string(info_.width) +
               ", \"height\": " + std::to_string(info_.height) +
               ", \"frame_skip\": " + std::to_string(info_.frame_skip) + region() + listed +
               ",\n \"frames\": [";
    }
    std::string frame(const FrameRecord& r) override {
        std::string s = std::string(first_ ? "\n" : ",\n") +
                        "  {\"frame\": " + std::to_string(r.frame) +
                        ", \"reference_frame\": " + std::to_string(r.reference_frame);
        first_ = false;
        for (std::size_t k = 0; k < measures_.size(); ++k)
            s += measures_[k]->json_values(info_.layout, r, k);
        return s + "}";
    }
    std::string end(const ReportSummary& summary) override {
        std::string average, more;
        for (std::size_t k = 0; k < measures_.size(); ++k) {
            average += measures_[k]->json_average(info_.layout, summary, k);
            more += measures_[k]->json_summary(info_, summary);
        }
        return std::string(summary.frames() ? "\n ]" : "]") +
               ",\n \"summary\": {\"frames\": " + std::to_string(summary.frames()) +
               ", \"average\": {" + average + "}" + more + "}}\n";
    }

  private:
    std::string region() const {
        if (!info_.region) return {};
        const Region& r = *info_.region;
        return ", \"region\": {\"x\": " + std::to_string(r.x) + ", \"y\": " + std::to_string(r.y) +
               ", \"width\": " + std::to_string(r.width) +
               ", \"height\": " + std::to_string(r.height) + "}";
    }
    ReportInfo info_;
    std::vector<const Measure*> measures_;
    bool first_ = true;
};

class PlotReport final : public Report {
  public:
    explicit PlotReport(const ReportInfo& info)
        : info_(info), measures_(run_measures(info)), series_(measures_.size()) {}
    std::string begin() override { return {}; }
    std::string frame(const FrameRecord& r) override {
        for (std::size_t k = 0; k < measures_.size(); ++k) {
            std::array<bool, 3> lossless{};
            const auto values = measures_[k]->plot_values(r, k, lossless);
            series_[k].add(r.frame, values, lossless);
        }
        return {};
    }
    std::string end(const ReportSummary& summary) override {
        return svg_plot(info_, series_, summary);
    }

  private:
    ReportInfo info_;
    std::vector<const Measure*> measures_;
    std::vector<PlotSeries> series_;
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
