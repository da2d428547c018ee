// Cost of one screen copy on each capture path, for the capture of the
// 40 ms cycle (the whole 1600 x 900 screen scaled to a 400 px window) and
// for a native copy (region selection, colour sampling). Needs an X server:
//   tests/with-xvfb.sh bench_capture

#include "platform/x11/X11Desktop.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using platform::X11Desktop;
using Path = X11Desktop::CapturePath;

X11Desktop& screen()
{
    static X11Desktop desktop;
    return desktop;
}

void copyScreen(benchmark::State& state, Path path, int outWidth, int outHeight)
{
    X11Desktop& desktop = screen();
    if (!desktop.connected()) {
        state.SkipWithError("no X display");
        return;
    }
    if (!desktop.supports(path)) {
        state.SkipWithError("this server does not offer the path");
        return;
    }
    desktop.setCapturePath(path);
    const platform::Rect source { 0, 0, 1600, 900 };
    std::vector<std::uint8_t> frame(std::size_t(outWidth) * std::size_t(outHeight) * 4);
    // The first copy makes the pixmaps and shared memory the others reuse.
    desktop.copy(source, outWidth, outHeight, frame.data());
    for (auto _ : state) {
        desktop.copy(source, outWidth, outHeight, frame.data());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    if (path != Path::Auto && desktop.lastCapturePath() != path)
        state.SkipWithError("the copy failed");
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_CAPTURE(copyScreen, auto_to_400, Path::Auto, 400, 225)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, render_shm_pixmap_to_400, Path::RenderShmPixmap, 400, 225)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, render_shm_image_to_400, Path::RenderShmImage, 400, 225)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, shm_get_image_to_400, Path::ShmGetImage, 400, 225)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, get_image_to_400, Path::GetImage, 400, 225)->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(copyScreen, render_shm_pixmap_native, Path::RenderShmPixmap, 1600, 900)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, render_shm_image_native, Path::RenderShmImage, 1600, 900)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, shm_get_image_native, Path::ShmGetImage, 1600, 900)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(copyScreen, get_image_native, Path::GetImage, 1600, 900)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
