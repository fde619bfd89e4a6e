#include "frame_sink.hpp"

namespace rawframes {

int FrameSink::begin(FrameRate rate) {
    if (!y4m_) return 0;
    const std::string header = y4m_stream_header(format_, geometry_, rate);
    return file_.write(header.data(), header.size());
}

int FrameSink::write(const std::uint8_t* frame) {
    if (!y4m_) return file_.write(frame, frame_bytes(format_, geometry_));
    int e = file_.write(kY4mFrameHeader, sizeof kY4mFrameHeader - 1);
    if (format_.y4m_plane == std::array<std::uint32_t, 3>{0, 1, 2})
        return e != 0 ? e : file_.write(frame, frame_bytes(format_, geometry_));
    for (const std::uint32_t p : format_.y4m_plane) {
        if (e != 0) break;
        e = file_.write(frame + plane_offset(format_, geometry_, p),
                        plane_samples(format_, geometry_, p) * format_.sample_bytes);
    }
    return e;
}

}  // namespace rawframes
