#include "report.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace rawframes {

namespace {

// The shortest decimal text that reads back to the same value.
template <class T>
std::string shortest(T value) {
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::string(buf, end);
}

std::string json_value(const std::optional<double>& v) {
    return v ? shortest(*v) : "null";
}

// `single_u`: the U value is a single-precision one, written as such.
std::string json_planes(const PlaneValues& p, bool single_u = false) {
    const std::string u = single_u && p.u ? shortest(static_cast<float>(*p.u)) : json_value(p.u);
    return "{\"y\": " + json_value(p.y) + ", \"u\": " + u + ", \"v\": " + json_value(p.v) +
           "}";
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
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

std::string xml_text(const std::string& s) {
    std::string out;
    for (const unsigned char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c < 0x20 ? '?' : static_cast<char>(c);
        }
    }
    return out;
}

// Per-frame values of a plane; absent for identical planes.
PlaneValues frame_values(const FrameSnr& f) {
    PlaneValues p;
    if (f.sse_y != 0) p.y = f.y;
    if (f.sse_u != 0) p.u = static_cast<double>(f.u);
    if (f.sse_v != 0) p.v = f.v;
    return p;
}

void keep_min(std::optional<double>& m, const std::optional<double>& v) {
    if (v && (!m || *v < *m)) m = v;
}
void keep_max(std::optional<double>& m, const std::optional<double>& v) {
    if (v && (!m || *v > *m)) m = v;
}

}  // namespace

void ReportSummary::add(const FrameSnr& f) {
    ++frames_;
    sums_.add(f);
    total_y_ += f.sse_y;
    total_u_ += f.sse_u;
    total_v_ += f.sse_v;
    const PlaneValues p = frame_values(f);
    keep_min(min_.y, p.y), keep_min(min_.u, p.u), keep_min(min_.v, p.v);
    keep_max(max_.y, p.y), keep_max(max_.u, p.u), keep_max(max_.v, p.v);
}

PlaneValues ReportSummary::average() const {
    if (frames_ == 0) return {};
    const auto k = static_cast<double>(static_cast<float>(frames_));
    return {static_cast<double>(sums_.y) / k, static_cast<double>(sums_.u) / k,
            static_cast<double>(sums_.v) / k};
}

PlaneValues ReportSummary::global(std::int32_t width, std::int32_t height) const {
    const auto one = [&](Sse total, float peak_squared) -> std::optional<double> {
        if (total == 0) return std::nullopt;
        const double signal = static_cast<double>(peak_squared) * static_cast<double>(width) *
                              static_cast<double>(height) * static_cast<double>(frames_);
        return 10.0 * std::log10(signal / static_cast<double>(total));
    };
    return {one(total_y_, kLumaPeakSquared), one(total_u_, kChromaPeakSquared),
            one(total_v_, kChromaPeakSquared)};
}

std::string csv_header() {
    return "frame,reference_frame,sse_y,sse_u,sse_v,snr_y,snr_u,snr_v\n";
}

std::string csv_row(const FrameRecord& r) {
    const FrameSnr& f = r.snr;
    return std::to_string(r.frame) + "," + std::to_string(r.reference_frame) + "," +
           sse_text(f.sse_y) + "," + sse_text(f.sse_u) + "," + sse_text(f.sse_v) + "," +
           (f.sse_y ? shortest(f.y) : "inf") + "," + (f.sse_u ? shortest(f.u) : "inf") + "," +
           (f.sse_v ? shortest(f.v) : "inf") + "\n";
}

std::string json_begin(const ReportInfo& info) {
    return "{\"target\": " + json_string(info.target) +
           ", \"reference\": " + json_string(info.reference) +
           ", \"width\": " + std::to_string(info.width) +
           ", \"height\": " + std::to_string(info.height) +
           ", \"frame_skip\": " + std::to_string(info.frame_skip) + ",\n \"frames\": [";
}

std::string json_frame(const FrameRecord& r, bool first) {
    const FrameSnr& f = r.snr;
    const auto snr = [](Sse sse, const std::string& value) { return sse ? value : "null"; };
    return std::string(first ? "\n" : ",\n") + "  {\"frame\": " + std::to_string(r.frame) +
           ", \"reference_frame\": " + std::to_string(r.reference_frame) +
           ", \"sse\": {\"y\": " + sse_text(f.sse_y) + ", \"u\": " + sse_text(f.sse_u) +
           ", \"v\": " + sse_text(f.sse_v) + "}, \"snr\": {\"y\": " + snr(f.sse_y, shortest(f.y)) +
           ", \"u\": " + snr(f.sse_u, shortest(f.u)) + ", \"v\": " + snr(f.sse_v, shortest(f.v)) +
           "}}";
}

std::string json_end(const ReportInfo& info, const ReportSummary& summary) {
    return std::string(summary.frames() ? "\n ]" : "]") +
           ",\n \"summary\": {\"frames\": " + std::to_string(summary.frames()) +
           ", \"average\": " + json_planes(summary.average()) +
           ", \"global\": " + json_planes(summary.global(info.width, info.height)) +
           ", \"min\": " + json_planes(summary.min(), true) +
           ", \"max\": " + json_planes(summary.max(), true) +
           "}}\n";
}

std::string svg_plot(const ReportInfo& info, const std::vector<FrameRecord>& records,
                     const ReportSummary& summary) {
    constexpr double kWidth = 960, kHeight = 540;
    constexpr double kLeft = 70, kRight = 190, kTop = 70, kBottom = 60;
    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    struct Plane {
        const char* name;
        const char* colour;
        std::optional<double> PlaneValues::*value;
    };
    const Plane planes[] = {{"Y", "#1f77b4", &PlaneValues::y},
                            {"U", "#2ca02c", &PlaneValues::u},
                            {"V", "#d62728", &PlaneValues::v}};

    // The dB range: every finite value and average, widened to whole ticks.
    double lo = INFINITY, hi = -INFINITY;
    const auto widen = [&](const std::optional<double>& v) {
        if (v && std::isfinite(*v)) lo = std::min(lo, *v), hi = std::max(hi, *v);
    };
    for (const FrameRecord& r : records) {
        const PlaneValues p = frame_values(r.snr);
        for (const Plane& pl : planes) widen(p.*pl.value);
    }
    for (const Plane& pl : planes) widen(summary.average().*pl.value);
    if (!(lo <= hi)) lo = 0, hi = 60;
    if (hi - lo < 1) lo -= 0.5, hi += 0.5;
    const auto nice_step = [](double span, int ticks) {
        const double raw = span / ticks, mag = std::pow(10.0, std::floor(std::log10(raw)));
        for (const double m : {1.0, 2.0, 5.0, 10.0})
            if (raw <= m * mag) return m * mag;
        return 10 * mag;
    };
    const double y_step = nice_step(hi - lo, 6);
    lo = std::floor(lo / y_step) * y_step;
    hi = std::ceil(hi / y_step) * y_step;
    const double last = records.empty() ? 1 : static_cast<double>(records.back().frame);
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

    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" "
                    "viewBox=\"0 0 960 540\" font-family=\"sans-serif\" font-size=\"12\">\n"
                    "<rect width=\"960\" height=\"540\" fill=\"white\"/>\n";
    s += "<text x=\"480\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">SNR of " +
         xml_text(info.target) + " against " + xml_text(info.reference) + " (" +
         std::to_string(info.width) + " x " + std::to_string(info.height) + ", frame skip " +
         std::to_string(info.frame_skip) + ", " + std::to_string(summary.frames()) +
         " frames)</text>\n";
    // Grid, ticks and their labels.
    for (double v = lo; v <= hi + y_step / 2; v += y_step) {
        s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plot_w) + "\" y1=\"" +
             num(py(v)) + "\" y2=\"" + num(py(v)) + "\" stroke=\"#ddd\"/>\n";
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(v) + 4) +
             "\" text-anchor=\"end\">" + label(v) + "</text>\n";
    }
    for (double f = 0; f <= x_span + x_step / 2; f += x_step) {
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
    // the top edge), its average as a dashed line, and its legend entry.
    double legend_y = kTop + 10;
    double mark_y = kTop - 8;  // lossless marks of each plane in a row of their own
    for (const Plane& pl : planes) {
        std::string path, marks;
        bool pen_down = false;
        for (const FrameRecord& r : records) {
            const std::optional<double> v = frame_values(r.snr).*pl.value;
            const double x = px(static_cast<double>(r.frame));
            if (!v) {
                marks += "<path d=\"M" + num(x - 4) + " " + num(mark_y) + "h8l-4 7z\" fill=\"" +
                         pl.colour + "\"><title>frame " + std::to_string(r.frame) + ": " +
                         pl.name + " lossless</title></path>\n";
                pen_down = false;
                continue;
            }
            path += pen_down ? 'L' : 'M';
            path += num(x) + " " + num(py(*v)) + " ";
            pen_down = true;
            if (records.size() <= 200)
                marks += "<circle cx=\"" + num(x) + "\" cy=\"" + num(py(*v)) + "\" r=\"2\" fill=\"" +
                         pl.colour + "\"/>\n";
        }
        if (!path.empty())
            s += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + pl.colour +
                 "\" stroke-width=\"1.5\"/>\n";
        s += marks;
        const std::optional<double> avg = summary.average().*pl.value;
        if (avg && std::isfinite(*avg))
            s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plot_w) + "\" y1=\"" +
                 num(py(*avg)) + "\" y2=\"" + num(py(*avg)) + "\" stroke=\"" + pl.colour +
                 "\" stroke-dasharray=\"6 4\"/>\n";
        const double lx = kLeft + plot_w + 15;
        s += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 25) + "\" y1=\"" + num(legend_y) +
             "\" y2=\"" + num(legend_y) + "\" stroke=\"" + pl.colour + "\" stroke-width=\"2\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) + "\">" + pl.name +
             "</text>\n";
        s += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 25) + "\" y1=\"" +
             num(legend_y + 18) + "\" y2=\"" + num(legend_y + 18) + "\" stroke=\"" + pl.colour +
             "\" stroke-dasharray=\"6 4\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 22) + "\">" + pl.name +
             " average" + (avg ? " " + num(*avg) + " dB" : std::string()) + "</text>\n";
        legend_y += 44;
        mark_y -= 9;
    }
    const double lx = kLeft + plot_w + 15;
    s += "<path d=\"M" + num(lx + 8) + " " + num(legend_y - 4) + "h8l-4 7z\" fill=\"#555\"/>\n";
    s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) +
         "\">lossless frame</text>\n";
    s += "</svg>\n";
    return s;
}

}  // namespace rawframes
