#include "rd_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "measures.hpp"
#include "report.hpp"

namespace rawframes {

namespace {

std::string printed(const char* format, double v) {
    if (std::isnan(v)) return "none";
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string number(double v) {
    return std::isnan(v) ? "null" : shortest(v);
}

// The routes in the order of their first point.
std::vector<std::string> routes_of(const RdRun& run) {
    std::vector<std::string> routes;
    for (const RdPoint& p : run.points)
        if (std::find(routes.begin(), routes.end(), p.route) == routes.end())
            routes.push_back(p.route);
    return routes;
}

}  // namespace

std::string rd_text(const RdRun& run) {
    std::string s =
        "Quality: " + run.quality + " (" + run.title + "; " +
        (run.pooling == "global" ? "pooled over all samples" : "the mean over the frames") + "; " +
        (run.lower_is_better ? "lower" : "higher") + " is better)\n";
    s += "Route\tRate (kbit/s)\tQuality\tReport\n";
    for (const RdPoint& p : run.points)
        s += p.route + "\t" + printed("%.3f", p.rate) + "\t" + printed("%.6f", p.quality) + "\t" +
             p.report + "\n";
    s += "\nBD against " + run.anchor + " (" + interpolation_name(run.how) +
         "; BD-rate: the rate for the same quality, negative is fewer bits; BD-quality: at the "
         "same rate, " +
         (run.lower_is_better ? "negative" : "positive") + " is better):\n";
    s += "Route\tBD-rate (%)\tBD-quality\tOverlap\n";
    for (const RdDelta& d : run.deltas)
        s += d.route + "\t" + printed("%.4f", d.bd.bd_rate) + "\t" +
             printed("%.6f", d.bd.bd_quality) + "\t" + printed("%.4f", d.bd.overlap) + "\n";
    return s;
}

std::string rd_csv(const RdRun& run) {
    std::string s = "route,rate,quality,report\n";
    // Names with commas, quotes or line breaks are quoted.
    const auto field = [](const std::string& v) {
        if (v.find_first_of(",\"\n\r") == std::string::npos) return v;
        std::string q = "\"";
        for (const char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    };
    for (const RdPoint& p : run.points)
        s += field(p.route) + "," + number(p.rate) + "," + number(p.quality) + "," +
             field(p.report) + "\n";
    return s;
}

std::string rd_json(const RdRun& run) {
    std::string s = "{\"quality\": " + json_string(run.quality) +
                    ", \"better\": " + (run.lower_is_better ? "\"lower\"" : "\"higher\"") +
                    ", \"pooling\": " + json_string(run.pooling) + ", \"interpolation\": \"" +
                    interpolation_name(run.how) + "\", \"anchor\": " + json_string(run.anchor) +
                    ",\n \"points\": [";
    for (std::size_t k = 0; k < run.points.size(); ++k) {
        const RdPoint& p = run.points[k];
        s += std::string(k ? ",\n  " : "\n  ") + "{\"route\": " + json_string(p.route) +
             ", \"rate\": " + number(p.rate) + ", \"quality\": " + number(p.quality) +
             ", \"report\": " + json_string(p.report) + "}";
    }
    s += std::string(run.points.empty() ? "]" : "\n ]") + ",\n \"bd\": [";
    for (std::size_t k = 0; k < run.deltas.size(); ++k) {
        const RdDelta& d = run.deltas[k];
        s += std::string(k ? ",\n  " : "\n  ") + "{\"route\": " + json_string(d.route) +
             ", \"anchor\": " + json_string(d.anchor) + ", \"bd_rate\": " + number(d.bd.bd_rate) +
             ", \"bd_quality\": " + number(d.bd.bd_quality) +
             ", \"overlap\": " + number(d.bd.overlap) + ", \"interpolation\": \"" +
             interpolation_name(run.how) + "\"}";
    }
    return s + std::string(run.deltas.empty() ? "]" : "\n ]") + "}\n";
}

std::string rd_svg(const RdRun& run) {
    constexpr double kWidth = 960, kHeight = 540;
    constexpr double kLeft = 80, kRight = 250, kTop = 60, kBottom = 60;
    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    const char* const colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                   "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
    const auto num = svg_number;
    const auto label = svg_label;
    // The ranges: the rate from the tick at or below its least to the tick at
    // or above its largest (ticks at 1, 2 and 5 times the powers of ten, on a
    // logarithmic axis), and the quality widened by a twentieth.
    double r_lo = INFINITY, r_hi = -INFINITY, q_lo = INFINITY, q_hi = -INFINITY;
    for (const RdPoint& p : run.points) {
        r_lo = std::min(r_lo, p.rate), r_hi = std::max(r_hi, p.rate);
        q_lo = std::min(q_lo, p.quality), q_hi = std::max(q_hi, p.quality);
    }
    if (!(r_lo <= r_hi)) r_lo = 100, r_hi = 10000, q_lo = 0, q_hi = 1;
    if (q_hi - q_lo < 1e-6) q_lo -= 0.5, q_hi += 0.5;
    const double q_pad = (q_hi - q_lo) * 0.05;
    q_lo -= q_pad, q_hi += q_pad;
    const int first_decade = static_cast<int>(std::floor(exact_log10(r_lo)));
    const int last_decade = static_cast<int>(std::ceil(exact_log10(r_hi)));
    std::vector<double> ticks;  // every tick from first_decade to last_decade
    for (int d = first_decade; d <= last_decade; ++d)
        for (const double m : {1.0, 2.0, 5.0}) ticks.push_back(m * exact_pow10(d));
    // The last tick at or below the least rate, the first at or above the
    // largest (a different one when the two are the same).
    const double axis_lo = *(std::upper_bound(ticks.begin(), ticks.end(), r_lo) - 1);
    const double axis_hi =
        *std::upper_bound(ticks.begin(), ticks.end(), std::max(axis_lo, std::nextafter(r_hi, 0.0)));
    const double lr_lo = exact_log10(axis_lo), lr_hi = exact_log10(axis_hi);
    const auto px = [&](double rate) {
        return kLeft + (exact_log10(rate) - lr_lo) / (lr_hi - lr_lo) * plot_w;
    };
    const auto py = [&](double q) { return kTop + (q_hi - q) / (q_hi - q_lo) * plot_h; };

    std::string s = svg_head(kHeight);
    s += "<text x=\"480\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">" + xml_text(run.title) +
         " against rate (" + interpolation_name(run.how) + " curves)</text>\n";
    // The rate ticks on the axis, labelled all when the decades are few, else
    // at the powers of ten.
    const bool few_decades = last_decade - first_decade <= 3;
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        const double rate = ticks[k];
        if (rate < axis_lo || rate > axis_hi) continue;
        const bool power = k % 3 == 0;
        const double x = px(rate);
        s += "<line x1=\"" + num(x) + "\" x2=\"" + num(x) + "\" y1=\"" + num(kTop) + "\" y2=\"" +
             num(kTop + plot_h) + "\" stroke=\"" + (power ? "#ccc" : "#eee") + "\"/>\n";
        if (power || few_decades)
            s += "<text x=\"" + num(x) + "\" y=\"" + num(kTop + plot_h + 18) +
                 "\" text-anchor=\"middle\">" + label(rate) + "</text>\n";
    }
    // Quality ticks: about six, 1, 2 or 5 times a power of ten.
    const double step = nice_step(q_hi - q_lo, 6);
    const double first = std::ceil(q_lo / step) * step;
    for (int k = 0; k <= 100 && first + k * step <= q_hi; ++k) {
        const double q = first + k * step;
        s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plot_w) + "\" y1=\"" +
             num(py(q)) + "\" y2=\"" + num(py(q)) + "\" stroke=\"#eee\"/>\n";
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(q) + 4) +
             "\" text-anchor=\"end\">" + label(q) + "</text>\n";
    }
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(plot_w) +
         "\" height=\"" + num(plot_h) + "\" fill=\"none\" stroke=\"black\"/>\n";
    s += "<text x=\"" + num(kLeft + plot_w / 2) + "\" y=\"" + num(kHeight - 15) +
         "\" text-anchor=\"middle\">rate (kbit/s, logarithmic)</text>\n";
    s += "<text transform=\"translate(22 " + num(kTop + plot_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + xml_text(run.title) + " (" +
         (run.lower_is_better ? "lower" : "higher") + " is better)</text>\n";
    // Each route: its points joined in the order of rate, marked, and its
    // legend entry with its deltas against the anchor.
    const std::vector<std::string> routes = routes_of(run);
    double legend_y = kTop + 10;
    for (std::size_t r = 0; r < routes.size(); ++r) {
        const char* colour = colours[r % std::size(colours)];
        std::vector<RdPoint> points;
        for (const RdPoint& p : run.points)
            if (p.route == routes[r]) points.push_back(p);
        std::sort(points.begin(), points.end(),
                  [](const RdPoint& a, const RdPoint& b) { return a.rate < b.rate; });
        // The curve is the interpolant the deltas integrate (quality against
        // log10 of the rate), drawn through 64 steps; straight lines where it
        // cannot be made (too few points, equal rates).
        std::vector<double> lr, q;
        for (const RdPoint& p : points) lr.push_back(exact_log10(p.rate)), q.push_back(p.quality);
        bool distinct = true;
        for (std::size_t k = 1; k < lr.size(); ++k) distinct = distinct && lr[k] > lr[k - 1];
        std::string path;
        const auto to = [&](double x, double y) {
            path.append(path.empty() ? "M" : "L").append(num(x)).append(" ");
            path.append(num(y)).append(" ");
        };
        if (distinct && points.size() >= least_points(run.how)) {
            const Interpolant f = interpolate(lr, q, run.how);
            for (int k = 0; k <= 64; ++k) {
                const double at = lr.front() + (lr.back() - lr.front()) * k / 64;
                to(kLeft + (at - lr_lo) / (lr_hi - lr_lo) * plot_w, py(f.value(at)));
            }
        } else {
            for (const RdPoint& p : points) to(px(p.rate), py(p.quality));
        }
        for (const RdPoint& p : points) {
            s += "<circle cx=\"" + num(px(p.rate)) + "\" cy=\"" + num(py(p.quality)) +
                 "\" r=\"3.5\" fill=\"" + colour + "\"><title>" + xml_text(p.route) + ": " +
                 label(p.rate) + " kbit/s, " + label(p.quality) + "</title></circle>\n";
        }
        s += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + colour +
             "\" stroke-width=\"1.5\"/>\n";
        const double lx = kLeft + plot_w + 15;
        s += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 25) + "\" y1=\"" + num(legend_y) +
             "\" y2=\"" + num(legend_y) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
        s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 4) + "\">" +
             xml_text(routes[r]) + (routes[r] == run.anchor ? " (anchor)" : "") + "</text>\n";
        for (const RdDelta& d : run.deltas)
            if (d.route == routes[r])
                s += "<text x=\"" + num(lx + 30) + "\" y=\"" + num(legend_y + 20) +
                     "\" font-size=\"11\">BD-rate " + printed("%.2f", d.bd.bd_rate) + " %, " +
                     "BD-quality " + printed("%.4f", d.bd.bd_quality) + "</text>\n";
        legend_y += 40;
    }
    return s + "</svg>\n";
}

}  // namespace rawframes
