#include "geometry.hpp"

namespace rawframes {

std::string check_geometry(const FrameGeometry& g) {
    if (g.width < 1 || g.height < 1) {
        return "width and height must be at least 1 (got " + std::to_string(g.width) + " x " +
               std::to_string(g.height) + ")";
    }
    if (g.pixels() > kMaxPixels) {
        return "a " + std::to_string(g.width) + " x " + std::to_string(g.height) +
               " frame is too large";
    }
    return {};
}

}  // namespace rawframes
