#include "measures.hpp"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "ciede2000.hpp"
#include "log10.hpp"
#include "report.hpp"
#include "ssim.hpp"

namespace rawframes {

std::string json_key(const ReportLayout& layout, std::size_t c) {
    std::string s = layout.name(c);
    for (char& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return s;
}

bool single_precision(const ReportLayout& layout, std::size_t c) {
    return layout.classic && c == 1;
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

std::string shortest(double value) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

std::string shortest(float value) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

const JsonScalar* FrameJson::find(const std::string& key) const {
    const JsonScalar* found = nullptr;
    for (const auto& [k, v] : members)
        if (k == key) found = &v;  // the last, as a JSON object's member
    return found;
}

void Measure::pool(const FrameRecord& r, std::size_t slot, MeasurePool& pool) const {
    for (std::size_t c = 0; c < 3; ++c) {
        const double v = r.values[slot][c];
        if (std::isnan(v)) continue;
        pool.sum[c] += v;
        ++pool.count[c];
        pool.largest[c] = std::max(pool.largest[c], v);
    }
}

std::array<std::optional<double>, 3> Measure::plot_values(const FrameRecord& r, std::size_t slot,
                                                          std::array<bool, 3>& lossless) const {
    std::array<std::optional<double>, 3> out;
    lossless = {};
    for (std::size_t c = 0; c < 3; ++c)
        if (!std::isnan(r.values[slot][c])) out[c] = r.values[slot][c];
    return out;
}

namespace {

std::string printed(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// A value of the other measures: "%.6f" in text ("nan" where none), the
// shortest form in CSV (empty where none) and JSON (null where none).
std::string text_value(double v) {
    return std::isnan(v) ? "nan" : printed("%.6f", v);
}
std::string data_value(double v, const char* none) {
    return std::isnan(v) ? none : shortest(v);
}

// The JSON object of a measure's per-column values: {"y": v, "u": v, "v": v}.
std::string json_columns(const ReportLayout& layout, const MeasureValues& values) {
    std::string s = "{";
    for (std::size_t c = 0; c < 3; ++c)
        s += std::string(c ? ", " : "") + "\"" + json_key(layout, c) +
             "\": " + data_value(values[c], "null");
    return s + "}";
}

std::string json_optional_columns(const ReportLayout& layout, const ColumnValues& values,
                                  bool single_values = false) {
    std::string s = "{";
    for (std::size_t c = 0; c < 3; ++c) {
        const std::optional<double>& v = values[c];
        s += std::string(c ? ", " : "") + "\"" + json_key(layout, c) + "\": ";
        if (!v || !std::isfinite(*v))
            s += "null";
        else if (single_values && single_precision(layout, c))
            s += shortest(static_cast<float>(*v));
        else
            s += shortest(*v);
    }
    return s + "}";
}

// A number as JSON gives it back: its text read as a double (or, for the
// single-precision column, a float), exactly.
std::optional<double> number_of(const JsonScalar& v, bool single) {
    if (v.kind != JsonScalar::kUnsigned && v.kind != JsonScalar::kNegative &&
        v.kind != JsonScalar::kFloat)
        return std::nullopt;
    const char* b = v.text.data();
    const char* e = b + v.text.size();
    double d = 0;
    std::from_chars_result got{};
    if (single) {
        float f = 0;
        got = std::from_chars(b, e, f);
        d = f;
    } else {
        got = std::from_chars(b, e, d);
    }
    if (got.ec != std::errc() || got.ptr != e) return std::nullopt;
    return d;
}

// ---- SNR, the measure of every run --------------------------------------

class SnrMeasure final : public Measure {
  public:
    explicit SnrMeasure(bool classic) : classic_(classic) {}
    const char* name() const override { return "snr"; }
    bool applies(const PixelFormat& format) const override {
        return (&format == &kYuv10) == classic_;
    }
    void measure(const ReportLayout& layout, const std::uint8_t* target,
                 const std::uint8_t* reference, const FrameGeometry& g, double*, FrameRecord& r,
                 std::size_t) const override {
        r.figures = rawframes::measure(layout, target, reference, g);
    }
    std::string text_header(const ReportLayout& layout) const override {
        std::string s;
        for (std::size_t c = 0; c < 3; ++c) s += "\tSnr" + layout.name(c);
        return s;
    }
    std::string text_values(const ReportLayout&, const FrameRecord& r, std::size_t) const override {
        // yuv10's report gives Y three decimals; identical planes print 0
        // there and inf elsewhere.
        std::string s;
        for (std::size_t c = 0; c < 3; ++c)
            s.append("\t").append(printed(classic_ && c == 0 ? "%.3f" : "%.4f", r.figures[c].snr));
        return s;
    }
    std::string text_summary(const ReportLayout& layout, const ReportSummary& summary,
                             std::size_t) const override {
        const ColumnValues average = summary.average();
        std::string s;
        for (std::size_t c = 0; c < 3; ++c)
            s += "\nAverage SNR " + layout.name(c) + ": " +
                 (average[c] ? printed("%.4f", *average[c]) : "nan");
        return s;
    }
    std::string csv_header(const ReportLayout& layout) const override {
        std::string s;
        for (const char* kind : {",sse_", ",snr_"})
            for (std::size_t c = 0; c < 3; ++c) s.append(kind).append(json_key(layout, c));
        return s;
    }
    std::string csv_values(const ReportLayout& layout, const FrameRecord& r,
                           std::size_t) const override {
        std::string s;
        for (const PlaneFigure& p : r.figures) s.append(",").append(sse_text(p.sse));
        for (std::size_t c = 0; c < 3; ++c)
            s.append(",").append(r.figures[c].sse ? snr_text(layout, c, r.figures[c].snr)
                                                  : std::string("inf"));
        return s;
    }
    std::string json_values(const ReportLayout& layout, const FrameRecord& r,
                            std::size_t) const override {
        std::string sse = "{", snr = "{";
        for (std::size_t c = 0; c < 3; ++c) {
            const PlaneFigure& p = r.figures[c];
            const std::string key =
                std::string(c ? ", " : "") + "\"" + json_key(layout, c) + "\": ";
            sse += key + sse_text(p.sse);
            snr += key + (p.sse ? snr_text(layout, c, p.snr) : "null");
        }
        return ", \"sse\": " + sse + "}, \"snr\": " + snr + "}";
    }
    std::string json_average(const ReportLayout& layout, const ReportSummary& summary,
                             std::size_t) const override {
        const std::string columns = json_optional_columns(layout, summary.average());
        return columns.substr(1, columns.size() - 2);  // the members, without braces
    }
    std::string json_summary(const ReportInfo& info, const ReportSummary& summary) const override {
        const ReportLayout& l = info.layout;
        return ", \"global\": " +
               json_optional_columns(l, summary.global(measured_geometry(info))) +
               ", \"min\": " + json_optional_columns(l, summary.min(), true) +
               ", \"max\": " + json_optional_columns(l, summary.max(), true);
    }
    void pool(const FrameRecord&, std::size_t, MeasurePool&) const override {
        // The summary keeps SNR's own figures.
    }
    std::string read(const FrameJson& json, const ReportInfo& info, FrameRecord& r,
                     std::size_t) const override {
        const ReportLayout& layout = info.layout;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::string plane = layout.name(c);
            const JsonScalar* sse = json.find("sse." + json_key(layout, c));
            const JsonScalar* snr = json.find("snr." + json_key(layout, c));
            if (sse == nullptr || snr == nullptr)
                return "it lacks the squared error or the SNR of " + plane;
            // Exact: whole numbers beyond 64 bits come as floats, written out.
            if (sse->kind != JsonScalar::kUnsigned && sse->kind != JsonScalar::kFloat)
                return "its squared error of " + plane + " is not a whole number";
            Sse sum = 0;
            for (const char ch : sse->text) {
                if (ch < '0' || ch > '9' || sum > (~Sse{0} - 9) / 10)
                    return "'" + sse->text + "' is not a squared error";
                sum = sum * 10 + static_cast<unsigned>(ch - '0');
            }
            PlaneFigure& figure = r.figures[c];
            figure = column_figure(layout, c, sum, measured_geometry(info));
            // Identical planes have no SNR in JSON; the others the one their
            // squared error gives, to the bit.
            bool same = false;
            if (snr->kind == JsonScalar::kNull) {
                same = figure.sse == 0;
            } else if (figure.sse != 0) {
                const std::optional<double> stated = number_of(*snr, single_precision(layout, c));
                same = stated && *stated == figure.snr;
            }
            if (!same)
                return "its SNR of " + plane + " is " +
                       (snr->kind == JsonScalar::kNull ? std::string("null") : snr->text) +
                       ", but its squared error " + sse_text(figure.sse) + " gives " +
                       (figure.sse == 0 ? std::string("null (identical planes)")
                                        : shortest(figure.snr));
        }
        return {};
    }
    Panel panel(const ReportLayout& layout) const override {
        return {"SNR",  "SNR (dB)", {layout.name(0), layout.name(1), layout.name(2)},
                "%.1f", " dB",      true,
                0,      60,         1};
    }
    std::array<std::optional<double>, 3> plot_values(const FrameRecord& r, std::size_t,
                                                     std::array<bool, 3>& lossless) const override {
        std::array<std::optional<double>, 3> out;
        for (std::size_t c = 0; c < 3; ++c) {
            lossless[c] = r.figures[c].sse == 0;
            if (!lossless[c]) out[c] = r.figures[c].snr;
        }
        return out;
    }

  private:
    // A column's SNR as written in CSV and JSON: the shortest text of the
    // value the text report rounds (classic U in its single precision).
    static std::string snr_text(const ReportLayout& layout, std::size_t c, double v) {
        return single_precision(layout, c) ? shortest(static_cast<float>(v)) : shortest(v);
    }
    bool classic_;
};

// ---- SSIM and MS-SSIM ------------------------------------------------------

class SsimMeasure final : public Measure {
  public:
    explicit SsimMeasure(bool multi_scale) : multi_(multi_scale) {}
    const char* name() const override { return multi_ ? "ms-ssim" : "ssim"; }
    bool applies(const PixelFormat&) const override { return true; }
    std::vector<std::string> start_warnings(const ReportLayout& layout,
                                            const FrameGeometry& g) const override {
        std::vector<std::string> out;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint64_t w = plane_width(*layout.format, g, layout.plane[c]);
            const std::uint64_t h = plane_height(*layout.format, g, layout.plane[c]);
            if (w < least() || h < least())
                out.push_back("the " + layout.name(c) + " plane (" + std::to_string(w) + " x " +
                              std::to_string(h) + ") is smaller than " + std::to_string(least()) +
                              " x " + std::to_string(least()) + ": it has no " + title());
        }
        return out;
    }
    std::size_t scratch_doubles(const ReportLayout& layout, const FrameGeometry& g) const override {
        std::size_t most = 0;
        for (std::size_t c = 0; c < 3; ++c)
            most = std::max(most, ssim_scratch_doubles(
                                      plane_width(*layout.format, g, layout.plane[c]),
                                      plane_height(*layout.format, g, layout.plane[c]), multi_));
        return most;
    }
    void measure(const ReportLayout& layout, const std::uint8_t* target,
                 const std::uint8_t* reference, const FrameGeometry& g, double* scratch,
                 FrameRecord& r, std::size_t slot) const override {
        const PixelFormat& format = *layout.format;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint32_t p = layout.plane[c];
            const std::uint64_t at = plane_offset(format, g, p);
            const std::size_t w = plane_width(format, g, p), h = plane_height(format, g, p);
            const double peak = format.planes[p].peak;
            const auto stride = static_cast<std::ptrdiff_t>(w);
            SsimResult result;
            if (format.sample_bytes == 2) {
                const SamplePlane<std::int16_t> t{
                    reinterpret_cast<const std::int16_t*>(target + at), stride};
                const SamplePlane<std::int16_t> ref{
                    reinterpret_cast<const std::int16_t*>(reference + at), stride};
                result = multi_ ? plane_ms_ssim(t, ref, w, h, peak, scratch)
                                : plane_ssim(t, ref, w, h, peak, scratch);
            } else {
                const SamplePlane<std::uint8_t> t{target + at, stride};
                const SamplePlane<std::uint8_t> ref{reference + at, stride};
                result = multi_ ? plane_ms_ssim(t, ref, w, h, peak, scratch)
                                : plane_ssim(t, ref, w, h, peak, scratch);
            }
            r.values[slot][c] = result.value;
            r.notes.negative_scales += result.negative_mean;
        }
    }
    std::string text_header(const ReportLayout& layout) const override {
        std::string s;
        for (std::size_t c = 0; c < 3; ++c)
            s += std::string(multi_ ? "\tMsSsim" : "\tSsim") + layout.name(c);
        return s;
    }
    std::string text_values(const ReportLayout&, const FrameRecord& r,
                            std::size_t slot) const override {
        std::string s;
        for (const double v : r.values[slot]) s.append("\t").append(text_value(v));
        return s;
    }
    std::string text_summary(const ReportLayout& layout, const ReportSummary& summary,
                             std::size_t slot) const override {
        const MeasureValues mean = summary.mean(slot);
        std::string s;
        for (std::size_t c = 0; c < 3; ++c)
            s += "\nAverage " + title() + " " + layout.name(c) + ": " + text_value(mean[c]);
        return s;
    }
    std::string csv_header(const ReportLayout& layout) const override {
        std::string s;
        for (std::size_t c = 0; c < 3; ++c)
            s.append(",").append(key()).append("_").append(json_key(layout, c));
        return s;
    }
    std::string csv_values(const ReportLayout&, const FrameRecord& r,
                           std::size_t slot) const override {
        std::string s;
        for (const double v : r.values[slot]) s.append(",").append(data_value(v, ""));
        return s;
    }
    std::string json_values(const ReportLayout& layout, const FrameRecord& r,
                            std::size_t slot) const override {
        return ", \"" + key() + "\": " + json_columns(layout, r.values[slot]);
    }
    std::string json_average(const ReportLayout& layout, const ReportSummary& summary,
                             std::size_t slot) const override {
        return ", \"" + key() + "\": " + json_columns(layout, summary.mean(slot));
    }
    std::string read(const FrameJson& json, const ReportInfo& info, FrameRecord& r,
                     std::size_t slot) const override {
        const ReportLayout& layout = info.layout;
        const FrameGeometry g = measured_geometry(info);
        for (std::size_t c = 0; c < 3; ++c) {
            const JsonScalar* v = json.find(key() + "." + json_key(layout, c));
            const bool none = plane_width(*layout.format, g, layout.plane[c]) < least() ||
                              plane_height(*layout.format, g, layout.plane[c]) < least();
            if (v == nullptr) return "it lacks the " + title() + " of " + layout.name(c);
            if (v->kind == JsonScalar::kNull && none) continue;
            const std::optional<double> value = number_of(*v, false);
            // SSIM lies in [-1, 1], MS-SSIM in [0, 1].
            if (none || !value || !(*value >= (multi_ ? 0.0 : -1.0) && *value <= 1.0))
                return "its " + title() + " of " + layout.name(c) + " is " +
                       (v->kind == JsonScalar::kNull ? "null" : v->text) + ", which a " +
                       std::to_string(g.width) + " x " + std::to_string(g.height) +
                       " run does not give";
            r.values[slot][c] = *value;
        }
        return {};
    }
    Panel panel(const ReportLayout& layout) const override {
        return {title(), title(), {layout.name(0), layout.name(1), layout.name(2)},
                "%.4f",  "",      false,
                0,       1,       1e-4};
    }

  private:
    std::size_t least() const { return multi_ ? kMsSsimLeast : kSsimWindow; }
    std::string title() const { return multi_ ? "MS-SSIM" : "SSIM"; }
    std::string key() const { return multi_ ? "ms_ssim" : "ssim"; }
    bool multi_;
};

// ---- CIEDE2000 -------------------------------------------------------------

class Ciede2000Measure final : public Measure {
  public:
    const char* name() const override { return "ciede2000"; }
    bool applies(const PixelFormat& format) const override {
        return &format == &kRgb10 || &format == &kRgb8;
    }
    std::size_t scratch_doubles(const ReportLayout&, const FrameGeometry& g) const override {
        return ciede2000_scratch_doubles(static_cast<std::size_t>(g.width));
    }
    void measure(const ReportLayout& layout, const std::uint8_t* target,
                 const std::uint8_t* reference, const FrameGeometry& g, double* scratch,
                 FrameRecord& r, std::size_t slot) const override {
        const PixelFormat& format = *layout.format;
        const std::size_t w = static_cast<std::size_t>(g.width);
        const std::size_t h = static_cast<std::size_t>(g.height);
        const int peak = static_cast<int>(format.planes[0].peak);
        ColourDifference d;
        if (format.sample_bytes == 2) {
            SamplePlane<std::int16_t> t[3], ref[3];
            for (std::uint32_t p = 0; p < 3; ++p) {
                const std::uint64_t at = plane_offset(format, g, p);
                t[p] = {reinterpret_cast<const std::int16_t*>(target + at),
                        static_cast<std::ptrdiff_t>(w)};
                ref[p] = {reinterpret_cast<const std::int16_t*>(reference + at),
                          static_cast<std::ptrdiff_t>(w)};
            }
            d = frame_ciede2000(t, ref, w, h, peak, scratch);
        } else {
            SamplePlane<std::uint8_t> t[3], ref[3];
            for (std::uint32_t p = 0; p < 3; ++p) {
                const std::uint64_t at = plane_offset(format, g, p);
                t[p] = {target + at, static_cast<std::ptrdiff_t>(w)};
                ref[p] = {reference + at, static_cast<std::ptrdiff_t>(w)};
            }
            d = frame_ciede2000(t, ref, w, h, peak, scratch);
        }
        r.values[slot] = {d.mean, d.max, NAN};
        r.notes.clamped += d.clamped;
    }
    std::string text_header(const ReportLayout&) const override { return "\tDeltaE\tDeltaEMax"; }
    std::string text_values(const ReportLayout&, const FrameRecord& r,
                            std::size_t slot) const override {
        std::string s = "\t";
        s.append(text_value(r.values[slot][0])).append("\t").append(text_value(r.values[slot][1]));
        return s;
    }
    std::string text_summary(const ReportLayout&, const ReportSummary& summary,
                             std::size_t slot) const override {
        return "\nAverage DeltaE: " + text_value(summary.mean(slot)[0]) +
               "\nMaximum DeltaE: " + text_value(summary.largest(slot)[1]);
    }
    std::string csv_header(const ReportLayout&) const override { return ",delta_e,delta_e_max"; }
    std::string csv_values(const ReportLayout&, const FrameRecord& r,
                           std::size_t slot) const override {
        std::string s = ",";
        s.append(data_value(r.values[slot][0], ""))
            .append(",")
            .append(data_value(r.values[slot][1], ""));
        return s;
    }
    std::string json_values(const ReportLayout&, const FrameRecord& r,
                            std::size_t slot) const override {
        return ", \"delta_e\": " + data_value(r.values[slot][0], "null") +
               ", \"delta_e_max\": " + data_value(r.values[slot][1], "null");
    }
    std::string json_average(const ReportLayout&, const ReportSummary& summary,
                             std::size_t slot) const override {
        return ", \"delta_e\": " + data_value(summary.mean(slot)[0], "null") +
               ", \"delta_e_max\": " + data_value(summary.largest(slot)[1], "null");
    }
    std::string read(const FrameJson& json, const ReportInfo&, FrameRecord& r,
                     std::size_t slot) const override {
        const JsonScalar* mean = json.find("delta_e");
        const JsonScalar* most = json.find("delta_e_max");
        if (mean == nullptr || most == nullptr) return "it lacks delta_e or delta_e_max";
        const std::optional<double> m = number_of(*mean, false), x = number_of(*most, false);
        // Colour differences are finite, and the largest is at least the mean.
        if (!m || !x || !(*m >= 0 && *x >= *m && std::isfinite(*x)))
            return "its colour differences " + mean->text + " and " + most->text +
                   " are not a mean and a largest";
        r.values[slot] = {*m, *x, NAN};
        return {};
    }
    Panel panel(const ReportLayout&) const override {
        return {"CIEDE2000",
                "CIEDE2000 colour difference",
                {"mean", "largest"},
                "%.2f",
                "",
                false,
                0,
                1,
                0.1,
                {"average", "largest"}};
    }
};

const SnrMeasure kClassicSnr(true), kSnr(false);
const SsimMeasure kSsim(false), kMsSsim(true);
const Ciede2000Measure kCiede2000;
// The table, in the order of the reports' columns.
const Measure* const kMeasures[] = {&kClassicSnr, &kSnr, &kSsim, &kMsSsim, &kCiede2000};

}  // namespace

const Measure* snr_measure(const PixelFormat& format) {
    return &format == &kYuv10 ? static_cast<const Measure*>(&kClassicSnr) : &kSnr;
}

std::string measure_names() {
    std::string s;
    for (const Measure* m : kMeasures)
        if (s.find(m->name()) == std::string::npos)
            s += std::string(s.empty() ? "" : ", ") + m->name();
    return s;
}

std::string choose_measures(const std::string& list, const PixelFormat& format,
                            std::vector<const Measure*>& measures) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        names.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    for (const std::string& n : names) {
        bool known = false;
        for (const Measure* m : kMeasures) known = known || n == m->name();
        if (!known) return "unknown measure '" + n + "': expected " + measure_names();
    }
    measures.assign(1, snr_measure(format));
    for (const Measure* m : kMeasures) {
        if (m == measures[0] || std::string(m->name()) == "snr") continue;
        if (std::find(names.begin(), names.end(), m->name()) == names.end()) continue;
        if (!m->applies(format)) {
            std::string formats;
            for (const PixelFormat* f : pixel_formats())
                if (m->applies(*f))
                    formats += std::string(formats.empty() ? "" : " and ") + f->name;
            return std::string(m->name()) + " measures " + formats + " frames, not " + format.name;
        }
        measures.push_back(m);
    }
    return {};
}

// ---- the summary -----------------------------------------------------------

namespace {

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

void ReportSummary::add(const FrameRecord& r) {
    add(r.figures);
    for (std::size_t k = 1; k < measures_.size(); ++k) measures_[k]->pool(r, k, pools_[k]);
    notes_.clamped += r.notes.clamped;
    notes_.negative_scales += r.notes.negative_scales;
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

MeasureValues ReportSummary::mean(std::size_t slot) const {
    MeasureValues v = kNoValues;
    for (std::size_t c = 0; c < 3; ++c)
        if (pools_[slot].count[c] != 0)
            v[c] = pools_[slot].sum[c] / static_cast<double>(pools_[slot].count[c]);
    return v;
}

MeasureValues ReportSummary::largest(std::size_t slot) const {
    MeasureValues v = kNoValues;
    for (std::size_t c = 0; c < 3; ++c)
        if (pools_[slot].count[c] != 0) v[c] = pools_[slot].largest[c];
    return v;
}

std::vector<std::string> note_warnings(const ReportLayout& layout, const FrameNotes& notes) {
    std::vector<std::string> out;
    if (notes.clamped != 0)
        out.push_back(std::to_string(notes.clamped) + " samples outside 0 .. " +
                      std::to_string(static_cast<int>(layout.format->planes[0].peak)) +
                      " were taken as the nearest of the two for the colour difference");
    if (notes.negative_scales != 0)
        out.push_back(std::to_string(notes.negative_scales) +
                      " MS-SSIM scales of a plane had a negative mean, counted as 0");
    return out;
}

}  // namespace rawframes
