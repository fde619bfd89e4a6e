// Micro-benchmarks of every kernel variant this processor supports, on one
// 1920 x 1080 frame of structured data; rates are in pixels per second. The
// pipeline benchmarks run each program's whole-frame conversion over frames
// already in memory (no I/O) with 1, 2 and 4 conversion threads; their rates
// are in frames per second of wall time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "buffer.hpp"
#include "cpu.hpp"
#include "pipeline.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "snr.hpp"
#include "ycocg_r.hpp"
#include "yuv420_kernel.hpp"

using namespace rawframes;

namespace {

constexpr std::size_t kW = 1920, kH = 1080, kN = kW * kH;

std::vector<std::uint16_t> ten_bit_planes() {
    std::vector<std::uint16_t> v(3 * kN);
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint16_t>(((i % kW) * 1023 / kW + (rng() % 16)) % 1024);
    return v;
}

template <class Fn, class Body>
void register_variants(const std::string& kernel, std::span<const KernelVariant<Fn>> variants,
                       Body body) {
    for (const auto& v : variants) {
        if (!cpu_supports(v.isa)) continue;
        benchmark::RegisterBenchmark((kernel + "/" + v.name).c_str(), [fn = v.fn, body](
                                                                          benchmark::State& state) {
            body(state, fn);
            state.SetItemsProcessed(state.iterations() * kN);
        })->Unit(benchmark::kMillisecond);
    }
}

// Runs `frames` frames through a pipeline whose reader and writer do nothing:
// the slots keep the frames they were given, converted again and again.
void register_pipeline(const std::string& program, std::uint64_t in_bytes,
                       std::uint64_t out_bytes,
                       void (*convert)(std::uint8_t* in, std::uint8_t* out)) {
    for (const std::size_t threads : {1, 2, 4}) {
        const std::string name = "pipeline/" + program + "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
            FramePipeline pipeline(threads, FramePipeline::full_slots(threads));
            SlotBuffers slots = allocate_slots(pipeline.slots(), in_bytes, out_bytes);
            const auto source = ten_bit_planes();
            for (std::size_t s = 0; s < slots.count(); ++s) {
                std::memcpy(slots.first[s].get(), source.data(), in_bytes);
                if (out_bytes != 0) std::memset(slots.second[s].get(), 0, out_bytes);
            }
            constexpr std::uint64_t kFrames = 60;
            const ReadStage read = [](std::size_t, std::uint64_t i) {
                return FrameRead{i < kFrames ? FrameRead::kFrame : FrameRead::kEnd, {}, {}};
            };
            const ConvertStage work = [&](std::size_t slot, std::uint64_t) {
                convert(slots.first[slot].get(), slots.second[slot].get());
            };
            const WriteStage write = [](std::size_t, std::uint64_t) { return true; };
            for (auto _ : state) benchmark::DoNotOptimize(pipeline.run({&read, 1}, work, write));
            state.SetItemsProcessed(state.iterations() * kFrames);
        })->Unit(benchmark::kMillisecond)->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_variants<YCoCgRPlanesFn>(
        "ycocg_r", ycocg_r_variants(), [](benchmark::State& state, YCoCgRPlanesFn fn) {
            const auto source = ten_bit_planes();
            auto frame = source;
            for (auto _ : state) {
                state.PauseTiming();
                frame = source;
                state.ResumeTiming();
                fn(frame.data(), frame.data() + kN, frame.data() + 2 * kN, kN);
                benchmark::DoNotOptimize(frame.data());
            }
        });
    register_variants<SquaredErrorFn>(
        "squared_error", squared_error_variants(), [](benchmark::State& state, SquaredErrorFn fn) {
            const auto a = ten_bit_planes();
            auto b = a;
            for (std::size_t i = 0; i < b.size(); i += 3)
                b[i] = static_cast<std::uint16_t>(b[i] ^ 1);
            const auto* t = reinterpret_cast<const std::int16_t*>(a.data());
            const auto* r = reinterpret_cast<const std::int16_t*>(b.data());
            for (auto _ : state) {
                // The three planes of one frame.
                benchmark::DoNotOptimize(fn(t, r, kN) + fn(t + kN, r + kN, kN) +
                                         fn(t + 2 * kN, r + 2 * kN, kN));
            }
        });
    register_variants<Rgb10ToYuv420PixelsFn>(
        "rgb10_to_yuv420_pixels", rgb10_to_yuv420_pixels_variants(), [](benchmark::State& state, Rgb10ToYuv420PixelsFn fn) {
            const auto source = ten_bit_planes();
            auto frame = source;
            std::vector<std::uint8_t> y(kN);
            for (auto _ : state) {
                state.PauseTiming();
                frame = source;
                state.ResumeTiming();
                fn(frame.data(), frame.data() + kN, frame.data() + 2 * kN, y.data(), kN);
                benchmark::DoNotOptimize(y.data());
            }
        });
    register_variants<Rgb10ToYuv420AverageFn>("rgb10_to_yuv420_average", rgb10_to_yuv420_average_variants(),
                                       [](benchmark::State& state, Rgb10ToYuv420AverageFn fn) {
                                           std::vector<std::uint16_t> codes(kN);
                                           for (std::size_t i = 0; i < kN; ++i)
                                               codes[i] = static_cast<std::uint16_t>(1 + i % 255);
                                           std::vector<std::uint8_t> out(kN / 4);
                                           for (auto _ : state) {
                                               for (std::size_t y = 0; y < kH; y += 2)
                                                   fn(codes.data() + y * kW,
                                                      codes.data() + (y + 1) * kW, kW,
                                                      out.data() + y / 2 * kW / 2);
                                               benchmark::DoNotOptimize(out.data());
                                           }
                                       });
    register_variants<Yuv420RowFn>(
        "yuv420_rows", yuv420_row_variants(), [](benchmark::State& state, Yuv420RowFn fn) {
            std::vector<std::uint8_t> in(kN * 3 / 2), out(3 * kN);
            std::mt19937 rng(2);
            for (auto& v : in) v = static_cast<std::uint8_t>(rng());
            for (auto _ : state) {
                for (std::size_t y = 0; y < kH; ++y) {
                    const std::size_t c = kN + (y / 2) * (kW / 2);
                    fn(in.data() + y * kW, in.data() + c, in.data() + c + kN / 4,
                       out.data() + y * kW, out.data() + kN + y * kW, out.data() + 2 * kN + y * kW,
                       kW);
                }
                benchmark::DoNotOptimize(out.data());
            }
        });
    const FrameGeometry g{static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)};
    register_pipeline("rgb10-to-yuv10", g.planar16_bytes(), 0, [](std::uint8_t* in, std::uint8_t*) {
        ycocg_r_frame(reinterpret_cast<std::uint16_t*>(in),
                      {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)});
    });
    register_pipeline("dovrak", g.planar16_bytes(), g.yuv420_bytes(),
                      [](std::uint8_t* in, std::uint8_t* out) {
                          rgb10_to_yuv420_frame(reinterpret_cast<std::uint16_t*>(in), out,
                                       {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)});
                      });
    register_pipeline("yuv420-to-rgb", g.yuv420_bytes(), g.planar8_bytes(),
                      [](std::uint8_t* in, std::uint8_t* out) {
                          yuv420_to_rgb_frame(in, out, {static_cast<std::int32_t>(kW),
                                                        static_cast<std::int32_t>(kH)});
                      });
    register_pipeline("frame-snr", g.planar16_bytes(), g.planar16_bytes(),
                      [](std::uint8_t* t, std::uint8_t* r) {
                          benchmark::DoNotOptimize(measure_frame(
                              reinterpret_cast<const std::int16_t*>(t),
                              reinterpret_cast<const std::int16_t*>(r),
                              {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)}));
                      });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
