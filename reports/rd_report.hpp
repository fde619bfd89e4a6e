// The reports of rd-curve: the rate-quality points of each route and the
// Bjontegaard deltas of every route against the anchor, as text, CSV, JSON
// and an SVG plot (rate on a logarithmic axis).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bd_rate.hpp"

namespace rawframes {

struct RdPoint {
    std::string route;
    double rate = 0;  // kbit/s
    double quality = 0;
    std::string report;  // the frame-snr report it was read from, as named
};

struct RdDelta {
    std::string route, anchor;
    BdResult bd;
};

struct RdRun {
    std::string quality;  // the key, "snr_y"
    std::string title;    // for people: "SNR of Y (dB)"
    bool lower_is_better = false;
    std::string pooling;  // "mean" or "global"
    Interpolation how = Interpolation::kPchip;
    std::string anchor;
    std::vector<RdPoint> points;  // routes in the order of their first point
    std::vector<RdDelta> deltas;  // every other route against the anchor
};

std::string rd_text(const RdRun& run);
std::string rd_csv(const RdRun& run);
std::string rd_json(const RdRun& run);
std::string rd_svg(const RdRun& run);

}  // namespace rawframes
