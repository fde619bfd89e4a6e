#include "bd_rate.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "lanes_scalar.hpp"

namespace rawframes {

namespace {

constexpr Interpolation kInterpolations[] = {Interpolation::kPchip, Interpolation::kCubic,
                                             Interpolation::kAkima};

double sign(double v) {
    return v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0;
}

// The slopes of a piecewise cubic Hermite interpolant at the points.
std::vector<double> pchip_slopes(const std::vector<double>& h, const std::vector<double>& m) {
    const std::size_t n = m.size() + 1;
    std::vector<double> d(n);
    if (n == 2) return {m[0], m[0]};
    // At the ends a three-point estimate, kept from overshooting.
    const auto edge = [](double h0, double h1, double m0, double m1) {
        double v = ((2 * h0 + h1) * m0 - h0 * m1) / (h0 + h1);
        if (sign(v) != sign(m0))
            v = 0;
        else if (sign(m0) != sign(m1) && std::fabs(v) > 3 * std::fabs(m0))
            v = 3 * m0;
        return v;
    };
    for (std::size_t k = 1; k + 1 < n; ++k) {
        // Zero where the curve turns or is flat; else the weighted harmonic
        // mean of the two slopes.
        if (sign(m[k - 1]) != sign(m[k]) || m[k - 1] == 0 || m[k] == 0) {
            d[k] = 0;
            continue;
        }
        const double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
        d[k] = 1 / ((w1 / m[k - 1] + w2 / m[k]) / (w1 + w2));
    }
    d[0] = edge(h[0], h[1], m[0], m[1]);
    d[n - 1] = edge(h[n - 2], h[n - 3], m[n - 2], m[n - 3]);
    return d;
}

// Akima's slopes, from the secants extended by two on each side.
std::vector<double> akima_slopes(const std::vector<double>& m) {
    const std::size_t n = m.size() + 1;
    if (n == 2) return {m[0], m[0]};
    std::vector<double> e(m.size() + 4);
    std::copy(m.begin(), m.end(), e.begin() + 2);
    e[1] = 2 * m[0] - m[1];
    e[0] = 2 * e[1] - m[0];
    e[m.size() + 2] = 2 * m[n - 2] - m[n - 3];
    e[m.size() + 3] = 2 * e[m.size() + 2] - m[n - 2];
    std::vector<double> dm(e.size() - 1);
    for (std::size_t k = 0; k < dm.size(); ++k) dm[k] = std::fabs(e[k + 1] - e[k]);
    double largest = -INFINITY;
    for (std::size_t k = 0; k < n; ++k) largest = std::max(largest, dm[k + 2] + dm[k]);
    std::vector<double> d(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double f1 = dm[k + 2], f2 = dm[k], f12 = f1 + f2;
        d[k] =
            f12 > 1e-9 * largest ? (f1 * e[k + 1] + f2 * e[k + 2]) / f12 : 0.5 * (e[k + 3] + e[k]);
    }
    return d;
}

// The least-squares cubic through the points: the Vandermonde columns x^3,
// x^2, x, 1 scaled to unit length, Householder's QR, back substitution.
std::array<double, 4> cubic_fit(const std::vector<double>& x, const std::vector<double>& y) {
    const std::size_t n = x.size();
    std::vector<std::array<double, 4>> a(n);
    std::vector<double> b = y;
    std::array<double, 4> scale{};
    for (std::size_t i = 0; i < n; ++i) a[i] = {x[i] * x[i] * x[i], x[i] * x[i], x[i], 1.0};
    for (std::size_t j = 0; j < 4; ++j) {
        double s = 0;
        for (std::size_t i = 0; i < n; ++i) s += a[i][j] * a[i][j];
        scale[j] = scalar_lanes::sqrt_(s);
        for (std::size_t i = 0; i < n; ++i) a[i][j] /= scale[j];
    }
    for (std::size_t j = 0; j < 4; ++j) {
        double norm = 0;
        for (std::size_t i = j; i < n; ++i) norm += a[i][j] * a[i][j];
        norm = scalar_lanes::sqrt_(norm);
        const double alpha = a[j][j] > 0 ? -norm : norm;
        std::vector<double> v(n, 0.0);
        for (std::size_t i = j; i < n; ++i) v[i] = a[i][j];
        v[j] -= alpha;
        double vv = 0;
        for (std::size_t i = j; i < n; ++i) vv += v[i] * v[i];
        if (vv == 0) continue;
        for (std::size_t k = j; k < 4; ++k) {
            double dot = 0;
            for (std::size_t i = j; i < n; ++i) dot += v[i] * a[i][k];
            for (std::size_t i = j; i < n; ++i) a[i][k] -= 2 * dot / vv * v[i];
        }
        double dot = 0;
        for (std::size_t i = j; i < n; ++i) dot += v[i] * b[i];
        for (std::size_t i = j; i < n; ++i) b[i] -= 2 * dot / vv * v[i];
    }
    std::array<double, 4> p{};  // highest power first
    for (std::size_t j = 4; j-- > 0;) {
        double s = b[j];
        for (std::size_t k = j + 1; k < 4; ++k) s -= a[j][k] * p[k];
        p[j] = s / a[j][j];
    }
    return {p[3] / scale[3], p[2] / scale[2], p[1] / scale[1], p[0] / scale[0]};
}

// The integral of c0 + c1 t + c2 t^2 + c3 t^3 from 0 to t.
double antiderivative(const std::array<double, 4>& c, double t) {
    return t * (c[0] + t * (c[1] / 2 + t * (c[2] / 3 + t * (c[3] / 4))));
}

}  // namespace

const Interpolation* find_interpolation(const std::string& name) {
    for (const Interpolation& how : kInterpolations)
        if (name == interpolation_name(how)) return &how;
    return nullptr;
}

const char* interpolation_name(Interpolation how) {
    switch (how) {
        case Interpolation::kPchip:
            return "pchip";
        case Interpolation::kCubic:
            return "cubic";
        case Interpolation::kAkima:
            break;
    }
    return "akima";
}

std::size_t least_points(Interpolation how) {
    return how == Interpolation::kCubic ? 4 : 2;
}

double exact_log10(double x) {
    return scalar_lanes::log_(x) * 0.43429448190325182765;
}

double exact_pow10(double x) {
    return scalar_lanes::exp_(x * 2.30258509299404568402);
}

Interpolant interpolate(const std::vector<double>& x, const std::vector<double>& y,
                        Interpolation how) {
    Interpolant f{how, x, {}};
    if (how == Interpolation::kCubic) {
        f.c.push_back(cubic_fit(x, y));
        return f;
    }
    const std::size_t n = x.size();
    std::vector<double> h(n - 1), m(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        h[k] = x[k + 1] - x[k];
        m[k] = (y[k + 1] - y[k]) / h[k];
    }
    const std::vector<double> d =
        how == Interpolation::kPchip ? pchip_slopes(h, m) : akima_slopes(m);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const double t = (d[k] + d[k + 1] - 2 * m[k]) / h[k];
        f.c.push_back({y[k], d[k], (m[k] - d[k]) / h[k] - t, t / h[k]});
    }
    return f;
}

double Interpolant::value(double at) const {
    if (how == Interpolation::kCubic)
        return c[0][0] + at * (c[0][1] + at * (c[0][2] + at * c[0][3]));
    std::size_t k = 0;
    while (k + 2 < x.size() && at > x[k + 1]) ++k;
    const double t = at - x[k];
    return c[k][0] + t * (c[k][1] + t * (c[k][2] + t * c[k][3]));
}

double Interpolant::integral(double a, double b) const {
    if (how == Interpolation::kCubic) return antiderivative(c[0], b) - antiderivative(c[0], a);
    double sum = 0;
    for (std::size_t k = 0; k + 1 < x.size(); ++k) {
        const double from = std::max(a, x[k]), to = std::min(b, x[k + 1]);
        if (from >= to) continue;
        sum += antiderivative(c[k], to - x[k]) - antiderivative(c[k], from - x[k]);
    }
    return sum;
}

namespace {

// The average of curve b less curve a (y of x, each by its points) over the
// x range both cover; false when they share none.
bool average_difference(const std::vector<double>& xa, const std::vector<double>& ya,
                        const std::vector<double>& xb, const std::vector<double>& yb,
                        Interpolation how, double& average, double& overlap) {
    const auto sorted = [](const std::vector<double>& x, const std::vector<double>& y) {
        std::vector<std::size_t> order(x.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(),
                  [&](std::size_t i, std::size_t j) { return x[i] < x[j]; });
        std::vector<double> sx, sy;
        for (const std::size_t i : order) sx.push_back(x[i]), sy.push_back(y[i]);
        return std::make_pair(sx, sy);
    };
    const auto [ax, ay] = sorted(xa, ya);
    const auto [bx, by] = sorted(xb, yb);
    const double lo = std::max(ax.front(), bx.front()), hi = std::min(ax.back(), bx.back());
    if (!(lo < hi)) return false;
    overlap = (hi - lo) / (std::max(ax.back(), bx.back()) - std::min(ax.front(), bx.front()));
    const Interpolant fa = interpolate(ax, ay, how), fb = interpolate(bx, by, how);
    average = (fb.integral(lo, hi) - fa.integral(lo, hi)) / (hi - lo);
    return true;
}

}  // namespace

std::string bd_compare(const std::vector<double>& anchor_rate,
                       const std::vector<double>& anchor_quality, const std::vector<double>& rate,
                       const std::vector<double>& quality, Interpolation how, BdResult& out) {
    for (const auto* curve : {&anchor_rate, &rate})
        for (const double r : *curve)
            if (!(r > 0) || !std::isfinite(r)) return "a rate is not a positive number";
    for (const auto* curve : {&anchor_quality, &quality})
        for (const double q : *curve)
            if (!std::isfinite(q)) return "a quality is not a finite number";
    if (anchor_rate.size() < least_points(how) || rate.size() < least_points(how))
        return "a curve has fewer than the " + std::to_string(least_points(how)) + " points " +
               interpolation_name(how) + " needs";
    for (const auto* curve : {&anchor_rate, &rate, &anchor_quality, &quality}) {
        std::vector<double> v = *curve;
        std::sort(v.begin(), v.end());
        if (std::adjacent_find(v.begin(), v.end()) != v.end())
            return std::string("two points of a curve have the same ") +
                   (curve == &anchor_rate || curve == &rate ? "rate" : "quality");
    }
    std::vector<double> log_anchor, log_rate;
    for (const double r : anchor_rate) log_anchor.push_back(exact_log10(r));
    for (const double r : rate) log_rate.push_back(exact_log10(r));
    double average = 0, overlap = 0;
    if (!average_difference(anchor_quality, log_anchor, quality, log_rate, how, average, overlap))
        return "the curves' quality ranges do not overlap";
    out.bd_rate = (exact_pow10(average) - 1) * 100;
    out.overlap = overlap;
    double unused = 0;
    if (!average_difference(log_anchor, anchor_quality, log_rate, quality, how, out.bd_quality,
                            unused))
        out.bd_quality = NAN;
    return {};
}

}  // namespace rawframes
