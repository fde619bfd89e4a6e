// Micro-benchmarks of every kernel variant this processor supports, driven by
// the kernel harness's descriptions, on one 1920 x 1080 frame's worth of
// inputs; rates are in pixels per second. The
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
#include "kernel_harness.hpp"
#include "pipeline.hpp"
#include "pixel_format.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "snr.hpp"
#include "ycocg_r.hpp"
#include "yuv420_to_rgb_kernel.hpp"

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

// Every variant of every kernel the harness describes, on one frame's worth of
// elements (a row kernel takes them as one long row); the inputs are restored
// before each call, outside the timing.
void register_kernels() {
    for (const kernel_harness::Kernel& k : kernel_harness::kernels()) {
        for (std::size_t v = 0; v < k.variants.size(); ++v) {
            if (!cpu_supports(k.variants[v].isa)) continue;
            const std::string name = k.name + "/" + k.variants[v].name;
            benchmark::RegisterBenchmark(name.c_str(), [&k, v](benchmark::State& state) {
                kernel_harness::Source source(1);
                const auto inputs = k.make_inputs(source, kN);
                for (auto _ : state) {
                    state.PauseTiming();
                    std::vector<kernel_harness::Guarded> args;
                    for (const auto& b : inputs) args.emplace_back(b, 0);
                    state.ResumeTiming();
                    k.call(v, args, kN);
                    benchmark::DoNotOptimize(args.data());
                }
                state.SetItemsProcessed(state.iterations() * kN);
            })->Unit(benchmark::kMillisecond);
        }
    }
}

// Runs `frames` frames through a pipeline whose reader and writer do nothing:
// the slots keep the frames they were given, converted again and again.
void register_pipeline(const std::string& program, std::uint64_t in_bytes, std::uint64_t out_bytes,
                       void (*convert)(std::uint8_t* in, std::uint8_t* out)) {
    for (const std::size_t threads : {1, 2, 4}) {
        const std::string name = "pipeline/" + program + "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(
            name.c_str(),
            [=](benchmark::State& state) {
                FramePipeline pipeline(threads, FramePipeline::full_slots(threads));
                SlotBuffers slots = allocate_slots(
                    pipeline.slots(), {in_bytes, std::max<std::uint64_t>(out_bytes, 1)});
                const auto source = ten_bit_planes();
                for (auto& slot : slots) {
                    std::memcpy(slot[0].get(), source.data(), in_bytes);
                    std::memset(slot[1].get(), 0, out_bytes);
                }
                constexpr std::uint64_t kFrames = 60;
                const ReadStage read = [](std::size_t, std::uint64_t i) {
                    return FrameRead{i < kFrames ? FrameRead::kFrame : FrameRead::kEnd, {}, {}};
                };
                const ConvertStage work = [&](std::size_t slot, std::uint64_t) {
                    convert(slots[slot][0].get(), slots[slot][1].get());
                };
                const WriteStage write = [](std::size_t, std::uint64_t) { return true; };
                for (auto _ : state)
                    benchmark::DoNotOptimize(pipeline.run({&read, 1}, work, write));
                state.SetItemsProcessed(state.iterations() * kFrames);
            })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_kernels();
    const FrameGeometry g{static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)};
    register_pipeline(
        "rgb10-to-yuv10", frame_bytes(kRgb10, g), 0, [](std::uint8_t* in, std::uint8_t*) {
            ycocg_r_frame(reinterpret_cast<std::uint16_t*>(in),
                          {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)});
        });
    register_pipeline("dovrak", frame_bytes(kRgb10, g), frame_bytes(kYuv420, g),
                      [](std::uint8_t* in, std::uint8_t* out) {
                          rgb10_to_yuv420_frame(
                              reinterpret_cast<std::uint16_t*>(in), out,
                              {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)});
                      });
    register_pipeline("yuv420-to-rgb", frame_bytes(kYuv420, g), frame_bytes(kRgb8, g),
                      [](std::uint8_t* in, std::uint8_t* out) {
                          yuv420_to_rgb_frame(
                              in, out,
                              {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)});
                      });
    register_pipeline(
        "frame-snr", frame_bytes(kRgb10, g), frame_bytes(kRgb10, g),
        [](std::uint8_t* t, std::uint8_t* r) {
            benchmark::DoNotOptimize(measure_frame(
                reinterpret_cast<const std::int16_t*>(t), reinterpret_cast<const std::int16_t*>(r),
                {static_cast<std::int32_t>(kW), static_cast<std::int32_t>(kH)}));
        });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
