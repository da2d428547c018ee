// Cost of the Wayland back-end's copy: the newest stream frame of a monitor
// (B, G, R, x in memory, as PipeWire hands it over) scaled by nearest
// neighbour to the window width, for the 40 ms cycle (400 columns) of a
// 1280 x 720 and a 1920 x 1080 output. The rest of the cycle is the same as
// on every desktop (bench_cycle).

#include "platform/wayland/FrameSampling.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using namespace platform::wayland;

void sampleFrame(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const int outWidth = 400;
    const int outHeight = int(float(height) * (float(outWidth) / float(width)));
    std::vector<std::uint8_t> frame(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = std::uint8_t(i * 2654435761u >> 24);
    FrameView view;
    view.data = frame.data();
    view.width = width;
    view.height = height;
    view.stride = width * 4;
    const platform::Rect monitor { 0, 0, width, height };
    std::vector<std::uint8_t> out(std::size_t(outWidth) * outHeight * 4);
    std::vector<int> columns;
    for (auto _ : state) {
        fillBlack(out.data(), std::size_t(outWidth) * outHeight);
        sampleMonitor(view, monitor, monitor, outWidth, outHeight, out.data(), columns);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(sampleFrame)->Args({ 1280, 720 })->Args({ 1920, 1080 })->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
