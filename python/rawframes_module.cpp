// The Python module rawframes._rawframes: the conversions and frame-snr's
// measurement on numpy arrays shaped as the file layouts, through the same
// kernels as the programs, with the GIL released while they work.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bd_rate.hpp"
#include "geometry.hpp"
#include "measures.hpp"
#include "pixel_format.hpp"
#include "process.hpp"
#include "rawframes.h"
#include "report.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "y4m.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"
#include "yuv420_to_rgb_kernel.hpp"

namespace py = pybind11;
using namespace rawframes;

namespace {

// Frames of a pixel format in an array: (frames, 3, height, width) for the
// 4:4:4 formats, (frames, frame bytes) for 4:2:0; one frame may leave out the
// first axis.
struct Frames {
    py::array array;  // C-contiguous
    std::size_t count = 0;
    bool single = false;
    FrameGeometry geometry{0, 0};
};

Frames frames_of(const py::array& in, const PixelFormat& f, const char* what, std::int32_t width,
                 std::int32_t height) {
    const bool wide = f.sample_bytes == 2;
    if (!(wide ? py::isinstance<py::array_t<std::uint16_t>>(in)
               : py::isinstance<py::array_t<std::uint8_t>>(in)))
        throw py::value_error(std::string(what) + ": expected a numpy array of " +
                              (wide ? "uint16" : "uint8") + " for " + f.name + ", got " +
                              std::string(py::str(in.dtype())));
    Frames fr;
    // Contiguous and aligned, copied by numpy where it is not (numpy raises
    // what it meets, a MemoryError for an array too large to copy).
    fr.array = py::module_::import("numpy").attr("require")(in, py::none(), "CA");
    const py::ssize_t nd = in.ndim();
    const bool planar = !f.chroma_420;
    if (planar) {
        if (nd != 3 && nd != 4)
            throw py::value_error(std::string(what) +
                                  ": expected the shape (frames, 3, height, width) or "
                                  "(3, height, width)");
        fr.single = nd == 3;
        const py::ssize_t* s = in.shape();
        const py::ssize_t base = fr.single ? 0 : 1;
        if (s[base] != 3) throw py::value_error(std::string(what) + ": expected 3 planes");
        fr.count = fr.single ? 1 : static_cast<std::size_t>(s[0]);
        if (s[base + 1] > INT32_MAX || s[base + 2] > INT32_MAX)
            throw py::value_error(std::string(what) + ": the frames are too large");
        fr.geometry = {static_cast<std::int32_t>(s[base + 2]),
                       static_cast<std::int32_t>(s[base + 1])};
    } else {
        fr.geometry = {width, height};
        if (width <= 0 || height <= 0)
            throw py::value_error(std::string(what) + ": give width and height for " + f.name);
        if (nd != 1 && nd != 2)
            throw py::value_error(std::string(what) +
                                  ": expected the shape (frames, frame bytes) or (frame bytes,)");
        fr.single = nd == 1;
        fr.count = fr.single ? 1 : static_cast<std::size_t>(in.shape(0));
        const std::uint64_t bytes = frame_bytes(f, fr.geometry);
        if (static_cast<std::uint64_t>(in.shape(nd - 1)) != bytes)
            throw py::value_error(std::string(what) + ": a " + std::to_string(width) + " x " +
                                  std::to_string(height) + " " + f.name + " frame has " +
                                  std::to_string(bytes) + " bytes, not " +
                                  std::to_string(in.shape(nd - 1)));
    }
    if (const std::string why = check_geometry(fr.geometry); !why.empty())
        throw py::value_error(std::string(what) + ": " + why);
    return fr;
}

// An array for `count` frames of format f laid out as frames_of() reads them.
py::array new_frames(const PixelFormat& f, const FrameGeometry& g, std::size_t count, bool single) {
    std::vector<py::ssize_t> shape;
    if (!single) shape.push_back(static_cast<py::ssize_t>(count));
    if (!f.chroma_420) {
        shape.insert(shape.end(), {3, g.height, g.width});
    } else {
        shape.push_back(static_cast<py::ssize_t>(frame_bytes(f, g)));
    }
    if (f.sample_bytes == 2) return py::array_t<std::uint16_t>(shape);
    return py::array_t<std::uint8_t>(shape);
}

std::size_t workers(std::size_t threads, std::size_t jobs) {
    if (threads == 0) threads = available_cpus();
    return std::max<std::size_t>(1, std::min(threads, jobs));
}

// Runs body(i) for i < count on up to `threads` threads, without the GIL.
// Threads that cannot start leave their frames to the others (to the calling
// thread when none starts); the first failure of a frame is raised once all
// have stopped.
template <class Body>
void for_frames(std::size_t count, std::size_t threads, const Body& body) {
    std::exception_ptr failure;
    {
        py::gil_scoped_release release;
        std::mutex m;
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            try {
                for (std::size_t i; (i = next++) < count;) body(i);
            } catch (...) {
                next = count;
                const std::lock_guard lock(m);
                if (!failure) failure = std::current_exception();
            }
        };
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < workers(threads, count); ++t) {
            try {
                pool.emplace_back(work);
            } catch (const std::system_error&) {
                break;
            }
        }
        work();
        for (std::thread& th : pool) th.join();
    }
    if (failure) std::rethrow_exception(failure);
}

// A conversion of whole frames: `convert(in, out, g)` on each frame's bytes.
template <class Convert>
py::array convert(const py::array& in, const PixelFormat& from, const PixelFormat& to,
                  std::int32_t width, std::int32_t height, std::size_t threads,
                  Convert convert_frame) {
    const Frames fr = frames_of(in, from, "input", width, height);
    py::array out = new_frames(to, fr.geometry, fr.count, fr.single);
    const std::uint64_t in_bytes = frame_bytes(from, fr.geometry);
    const std::uint64_t out_bytes = frame_bytes(to, fr.geometry);
    const auto* src = static_cast<const std::uint8_t*>(fr.array.data());
    auto* dst = static_cast<std::uint8_t*>(out.mutable_data());
    for_frames(fr.count, threads, [&](std::size_t i) {
        convert_frame(src + i * in_bytes, dst + i * out_bytes, in_bytes, fr.geometry);
    });
    return out;
}

}  // namespace

// Target and reference frames of a format, and the measures asked for.
struct Run {
    Frames t, r;
    ReportLayout layout;
    std::vector<const Measure*> measures;
    // Measures `count` frames, target frame i against reference frame
    // i * step, on `threads` threads without the GIL.
    std::vector<FrameRecord> measure(std::size_t count, std::uint64_t step,
                                     std::size_t threads) const {
        const FrameGeometry& g = t.geometry;
        const std::uint64_t bytes = frame_bytes(*layout.format, g);
        const auto* tp = static_cast<const std::uint8_t*>(t.array.data());
        const auto* rp = static_cast<const std::uint8_t*>(r.array.data());
        std::size_t scratch = 0;
        for (const Measure* m : measures)
            scratch = std::max(scratch, m->scratch_doubles(layout, g));
        std::vector<FrameRecord> records(count);
        for_frames(count, threads, [&](std::size_t i) {
            std::vector<double> memory(scratch);
            for (std::size_t k = 0; k < measures.size(); ++k)
                measures[k]->measure(layout, tp + i * bytes, rp + i * step * bytes, g,
                                     memory.data(), records[i], k);
        });
        return records;
    }
};

Run run_of(const py::array& target, const py::array& reference, const std::string& format_name,
           std::int32_t width, std::int32_t height, const std::string& measure_list) {
    const PixelFormat* f = find_pixel_format(format_name);
    if (f == nullptr) throw py::value_error("unknown format '" + format_name + "'");
    Run run{frames_of(target, *f, "target", width, height),
            frames_of(reference, *f, "reference", width, height),
            report_layout(*f),
            {}};
    if (run.t.geometry.width != run.r.geometry.width ||
        run.t.geometry.height != run.r.geometry.height)
        throw py::value_error("target and reference frames differ in size");
    if (const std::string why = choose_measures(measure_list, *f, run.measures); !why.empty())
        throw py::value_error(why);
    return run;
}

// The size and plane order of a YUV4MPEG2 stream of `format`, from its header
// (the line after the magic), checked as the programs check it.
py::tuple y4m_layout(const std::string& params, const std::string& format_name, std::int32_t width,
                     std::int32_t height) {
    const PixelFormat* f = find_pixel_format(format_name);
    if (f == nullptr || !has_y4m_form(*f))
        throw py::value_error(format_name + " has no YUV4MPEG2 form");
    FrameGeometry g{width, height};
    if (const std::string why = check_y4m_stream_header(params, *f, g, "the call"); !why.empty())
        throw py::value_error(why);
    return py::make_tuple(g.width, g.height, f->y4m_plane[0], f->y4m_plane[1], f->y4m_plane[2]);
}

PYBIND11_MODULE(_rawframes, m) {
    m.doc() = "Exact colour conversions and SNR of raw video frames";
    m.attr("__version__") = RAWFRAMES_VERSION;
    m.def("isa", [] { return std::string(rawframes_isa()); });
    m.def("y4m_layout", &y4m_layout);
    m.def(
        "bd",
        [](const std::vector<double>& rate_a, const std::vector<double>& quality_a,
           const std::vector<double>& rate_b, const std::vector<double>& quality_b,
           const std::string& interpolation) {
            const Interpolation* how = find_interpolation(interpolation);
            if (how == nullptr)
                throw py::value_error("unknown interpolation '" + interpolation +
                                      "': expected pchip, cubic or akima");
            if (rate_a.size() != quality_a.size() || rate_b.size() != quality_b.size())
                throw py::value_error("a curve has not as many rates as qualities");
            BdResult r;
            if (const std::string why = bd_compare(rate_a, quality_a, rate_b, quality_b, *how, r);
                !why.empty())
                throw py::value_error(why);
            return py::make_tuple(r.bd_rate, r.bd_quality, r.overlap);
        },
        py::arg("rate_a"), py::arg("quality_a"), py::arg("rate_b"), py::arg("quality_b"),
        py::arg("interpolation"));
    m.def(
        "rgb10_to_yuv10",
        [](const py::array& rgb, std::size_t threads) {
            return convert(rgb, kRgb10, kYuv10, 0, 0, threads,
                           [](const std::uint8_t* in, std::uint8_t* out, std::uint64_t bytes,
                              const FrameGeometry& g) {
                               std::memcpy(out, in, bytes);
                               ycocg_r_frame(reinterpret_cast<std::uint16_t*>(out), g);
                           });
        },
        py::arg("rgb"), py::arg("threads") = 0);
    m.def(
        "yuv10_to_rgb10",
        [](const py::array& yuv10, std::size_t threads) {
            return convert(yuv10, kYuv10, kRgb10, 0, 0, threads,
                           [](const std::uint8_t* in, std::uint8_t* out, std::uint64_t bytes,
                              const FrameGeometry& g) {
                               std::memcpy(out, in, bytes);
                               ycocg_r_inverse_frame(reinterpret_cast<std::uint16_t*>(out), g);
                           });
        },
        py::arg("yuv10"), py::arg("threads") = 0);
    m.def(
        "dovrak",
        [](const py::array& rgb, std::size_t threads) {
            return convert(rgb, kRgb10, kYuv420, 0, 0, threads,
                           [](const std::uint8_t* in, std::uint8_t* out, std::uint64_t bytes,
                              const FrameGeometry& g) {
                               // The kernel overwrites its input's R and B planes.
                               std::vector<std::uint16_t> scratch(bytes / 2);
                               std::memcpy(scratch.data(), in, bytes);
                               rgb10_to_yuv420_frame(scratch.data(), out, g);
                           });
        },
        py::arg("rgb"), py::arg("threads") = 0);
    m.def(
        "yuv420_to_rgb",
        [](const py::array& yuv420, std::int32_t width, std::int32_t height, std::size_t threads) {
            return convert(yuv420, kYuv420, kRgb8, width, height, threads,
                           [](const std::uint8_t* in, std::uint8_t* out, std::uint64_t,
                              const FrameGeometry& g) { yuv420_to_rgb_frame(in, out, g); });
        },
        py::arg("yuv420"), py::arg("width"), py::arg("height"), py::arg("threads") = 0);
    m.def(
        "frame_snr_json",
        [](const py::array& target, const py::array& reference, const std::string& format_name,
           std::int32_t frame_skip, std::int32_t width, std::int32_t height, std::size_t threads,
           const std::string& measure_list, const std::string& label,
           const std::string& reference_label) {
            const Run run = run_of(target, reference, format_name, width, height, measure_list);
            if (frame_skip < 0) throw py::value_error("frame_skip must not be negative");
            const std::uint64_t step = std::uint64_t(frame_skip) + 1;
            const std::size_t count =
                std::min<std::size_t>(run.t.count, (run.r.count + step - 1) / step);
            const std::vector<FrameRecord> records = run.measure(count, step, threads);
            const ReportInfo info{label,
                                  reference_label,
                                  run.layout,
                                  run.t.geometry.width,
                                  run.t.geometry.height,
                                  frame_skip,
                                  run.measures};
            const std::unique_ptr<Report> json = make_report(ReportKind::kJson, info);
            ReportSummary summary(run.layout, run.measures);
            std::string text = json->begin();
            for (std::size_t i = 0; i < count; ++i) {
                FrameRecord r = records[i];
                r.frame = i;
                r.reference_frame = i * step;
                summary.add(r);
                text += json->frame(r);
            }
            return text + json->end(summary);
        },
        py::arg("target"), py::arg("reference"), py::arg("format"), py::arg("frame_skip"),
        py::arg("width"), py::arg("height"), py::arg("threads"), py::arg("measures"),
        py::arg("label"), py::arg("reference_label"));
    // One measure's values per frame: SSIM and MS-SSIM of each plane (in the
    // file's plane order), CIEDE2000's mean and largest difference.
    m.def(
        "measure_frames",
        [](const py::array& target, const py::array& reference, const std::string& format_name,
           const std::string& measure_name, std::int32_t width, std::int32_t height,
           std::size_t threads) {
            const Run run = run_of(target, reference, format_name, width, height, measure_name);
            if (run.measures.size() != 2) throw py::value_error("name one measure besides snr");
            const std::size_t count = std::min(run.t.count, run.r.count);
            const std::vector<FrameRecord> records = run.measure(count, 1, threads);
            const bool planes = std::string(run.measures[1]->name()) != "ciede2000";
            py::array_t<double> out(
                std::vector<py::ssize_t>{static_cast<py::ssize_t>(count), planes ? 3 : 2});
            auto v = out.mutable_unchecked<2>();
            for (std::size_t i = 0; i < count; ++i) {
                const MeasureValues& values = records[i].values[1];
                for (std::size_t c = 0; c < (planes ? 3u : 2u); ++c)
                    v(static_cast<py::ssize_t>(i),
                      static_cast<py::ssize_t>(planes ? run.layout.plane[c] : c)) = values[c];
            }
            return out;
        },
        py::arg("target"), py::arg("reference"), py::arg("format"), py::arg("measure"),
        py::arg("width"), py::arg("height"), py::arg("threads"));
}
