// The Bjontegaard delta between two rate-quality curves: how much more (or
// less) rate one route needs than an anchor for the same quality (BD-rate, in
// percent), and how much more quality it gives at the same rate (BD-quality).
//
// Each curve is interpolated through its points: log10 of the rate as a
// function of the quality for BD-rate, the quality as a function of log10 of
// the rate for BD-quality, by one of
//   pchip  piecewise cubic Hermite with the shape-preserving slopes of Fritsch
//          and Carlson, as the codec test conditions' spreadsheet uses it;
//   cubic  the third-order polynomial fitted by least squares (Bjontegaard's
//          VCEG-M33);
//   akima  Akima's piecewise cubic (linear through two points).
// The curves' difference is integrated exactly over the interval where both
// are defined, and averaged over it; BD-rate = (10^average - 1) * 100. The
// logarithms and powers are the project's own (exact_math.inc), so the
// figures are the same on every machine.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace rawframes {

enum class Interpolation { kPchip, kCubic, kAkima };
// "pchip", "cubic", "akima"; nullptr for another name.
const Interpolation* find_interpolation(const std::string& name);
const char* interpolation_name(Interpolation how);
// The points a curve needs at least for `how`: 2 (pchip, akima), 4 (cubic).
std::size_t least_points(Interpolation how);

struct BdResult {
    double bd_rate = 0;     // percent; negative: fewer bits
    double bd_quality = 0;  // quality units; NaN when the rate ranges do not overlap
    double overlap = 0;     // the common quality range as a fraction of their union
};

// `rate` in any unit (positive), `quality` in any unit; each curve's rates
// and qualities distinct. Returns an error text, or an empty one and `out`.
std::string bd_compare(const std::vector<double>& anchor_rate,
                       const std::vector<double>& anchor_quality, const std::vector<double>& rate,
                       const std::vector<double>& quality, Interpolation how, BdResult& out);

// log10 and 10^x of the project's own (the same bits everywhere).
double exact_log10(double x);
double exact_pow10(double x);

// The interpolant of y(x) through points with increasing x, by `how`, as
// pieces: on [x[k], x[k + 1]] the cubic c[k][0] + c[k][1] t + c[k][2] t^2 +
// c[k][3] t^3 in t = x - x[k] (cubic: one polynomial in x itself, in c[0]).
struct Interpolant {
    Interpolation how;
    std::vector<double> x;
    std::vector<std::array<double, 4>> c;
    double value(double at) const;
    // The integral from a to b, x[0] <= a <= b <= x.back().
    double integral(double a, double b) const;
};
Interpolant interpolate(const std::vector<double>& x, const std::vector<double>& y,
                        Interpolation how);

}  // namespace rawframes
