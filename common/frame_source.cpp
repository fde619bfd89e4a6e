#include "frame_source.hpp"

#include <algorithm>
#include <cstring>

#include "diag.hpp"
#include "y4m.hpp"

namespace rawframes {

std::string FrameSource::start(FrameGeometry& g, const std::string& given_by) {
    const std::size_t magic = sizeof kY4mMagic - 1;
    std::string head(magic, '\0');
    const Transfer got =
        file_.is_stream() ? file_.read(head.data(), magic) : file_.read_at(head.data(), magic, 0);
    if (got.error != 0) return error_text(got.error);
    head.resize(got.bytes);
    if (head != kY4mMagic || !has_y4m_form(format_)) {
        starts_like_y4m_ = head == kY4mMagic;
        if (file_.is_stream()) pending_ = head;
        return {};
    }
    y4m_ = true;
    if (!file_.is_stream()) {
        if (const Transfer t = file_.read(head.data(), magic); t.error != 0)
            return error_text(t.error);
    }
    std::string line;
    bool whole = false;
    if (const int e = read_line(line, whole); e != 0) return error_text(e);
    if (!whole) return "the YUV4MPEG2 header is cut short or too long";
    return check_y4m_stream_header(line, format_, g, given_by);
}

std::string FrameSource::set_geometry(const FrameGeometry& g) {
    geometry_ = g;
    frame_bytes_ = rawframes::frame_bytes(format_, g);
    if (y4m_ || file_.is_stream()) return {};
    std::uint64_t size = 0;
    if (const int e = file_.size(size); e != 0) return error_text(e);
    counted_ = count_frames(size, frame_bytes_);
    trailing_ = size % frame_bytes_;
    return {};
}

std::string FrameSource::skip(std::uint64_t frames) {
    if (frames == 0 || y4m_ || file_.is_stream()) return {};
    std::uint64_t offset = 0;
    if (__builtin_mul_overflow(frames, frame_bytes_, &offset)) offset = UINT64_MAX;
    if (const std::uint64_t size =
            counted_ ? *counted_ * frame_bytes_ + trailing_ : size_at_start_.value_or(offset);
        offset > size)
        offset = size;  // at the end: no frame left
    if (const int e = file_.seek(offset); e != 0) return error_text(e);
    next_ = offset / frame_bytes_;
    return {};
}

FrameRead FrameSource::failure(const std::string& reason) const {
    return {FrameRead::kError, "cannot read " + file_.path(), reason};
}

FrameRead FrameSource::ended(std::uint64_t trailing) {
    ended_ = true;
    trailing_ = trailing;
    return {FrameRead::kEnd, {}, {}};
}

Transfer FrameSource::read_raw(std::uint8_t* frame, std::uint64_t bytes) {
    const std::uint64_t from_pending = std::min<std::uint64_t>(pending_.size(), bytes);
    std::memcpy(frame, pending_.data(), from_pending);
    pending_.erase(0, from_pending);
    Transfer got = file_.read(frame + from_pending, bytes - from_pending);
    got.bytes += from_pending;
    return got;
}

int FrameSource::read_line(std::string& line, bool& whole) {
    for (char c; line.size() < kY4mMaxLine;) {
        const Transfer t = file_.read(&c, 1);
        if (t.error != 0) return t.error;
        if (t.bytes == 0) return 0;
        if (c == '\n') {
            whole = true;
            return 0;
        }
        line.push_back(c);
    }
    return 0;
}

FrameRead FrameSource::read_next(std::uint8_t* frame) {
    std::uint64_t marker = 0;  // bytes of the y4m frame header
    if (y4m_) {
        std::string line;
        bool whole = false;
        if (const int e = read_line(line, whole); e != 0) return failure(error_text(e));
        if (line.empty() && !whole) return ended(0);
        const std::string why = check_y4m_frame_header(line);
        if (!why.empty() || !whole) {
            // What cannot hold a frame header and a whole frame any more is
            // trailing data, ignored as after raw frames; more is an error.
            const std::uint64_t seen = line.size() + (whole ? 1 : 0);
            const std::uint64_t least = sizeof kY4mFrameHeader - 1 + frame_bytes_;
            // The frame buffer serves as scratch; what is left may be longer.
            std::uint64_t more = 0;
            while (seen + more < least) {
                const std::uint64_t chunk = std::min(least - seen - more, frame_bytes_);
                const Transfer t = file_.read(frame, chunk);
                if (t.error != 0) return failure(error_text(t.error));
                more += t.bytes;
                if (t.bytes < chunk) return ended(seen + more);
            }
            return failure(why.empty() ? "a YUV4MPEG2 frame header is too long" : why);
        }
        marker = line.size() + 1;
    }
    std::uint64_t bytes = 0;
    if (y4m_) {
        // y4m puts the planes in its own order; each goes to its raw place.
        for (const std::uint32_t p : format_.y4m_plane) {
            const std::uint64_t size = plane_samples(format_, geometry_, p) * format_.sample_bytes;
            const Transfer got = read_raw(frame + plane_offset(format_, geometry_, p), size);
            if (got.error != 0) return failure(error_text(got.error));
            bytes += got.bytes;
            if (got.bytes != size) break;
        }
    } else {
        const Transfer got = read_raw(frame, frame_bytes_);
        if (got.error != 0) return failure(error_text(got.error));
        bytes = got.bytes;
    }
    last_read_ = bytes;
    if (bytes == frame_bytes_) return {};
    if (size_at_start_ && next_ * frame_bytes_ + bytes < *size_at_start_)
        return failure("the file ended inside frame " + std::to_string(next_) + " of " +
                       std::to_string((*size_at_start_ + frame_bytes_ - 1) / frame_bytes_));
    return ended(marker + bytes);
}

FrameRead FrameSource::read(std::uint64_t index, std::uint8_t* frame) {
    if (ended_ || (counted_ && index >= *counted_)) {
        last_read_ = 0;
        return {FrameRead::kEnd, {}, {}};
    }
    if (counted_) {
        const Transfer got = index == next_
                                 ? read_raw(frame, frame_bytes_)
                                 : file_.read_at(frame, frame_bytes_, index * frame_bytes_);
        if (got.error != 0) return failure(error_text(got.error));
        last_read_ = got.bytes;
        if (got.bytes != frame_bytes_)
            return failure("the file ended inside frame " + std::to_string(index) + " of " +
                           std::to_string(*counted_));
        // Reads at an offset leave the position alone: sequential reading
        // carries on only from where it was.
        if (index == next_) ++next_;
        return {};
    }
    for (;;) {
        const FrameRead got = read_next(frame);
        if (got.kind == FrameRead::kEnd && next_ != index) last_read_ = 0;  // not the one asked
        if (got.kind != FrameRead::kFrame || next_++ == index) return got;
    }
}

std::string FrameSource::count_to_end(std::uint8_t* scratch, std::uint64_t& frames,
                                      std::uint64_t& trailing) {
    if (counted_) {
        frames = *counted_;
        trailing = trailing_;
        return {};
    }
    while (!ended_) {
        const FrameRead r = read_next(scratch);
        if (r.kind == FrameRead::kError) return r.reason;
        if (r.kind == FrameRead::kFrame) ++next_;
    }
    frames = next_;
    trailing = trailing_;
    return {};
}

}  // namespace rawframes
