// Cost of each stage of the refresh cycle on real frames: a photograph at
// the sizes a 400 and a 600 pixel window capture (400 x 225 and 600 x 338),
// with a small change in every frame so that each is new. A refresh has
// 40 ms; the vectorscope recomputes only for a new frame, the Waveform and
// the Parade on every refresh.
//
// Variants named "plain" run the plain version of the same arithmetic, which
// allocates freely; the fast paths are held to them byte for byte by the tests.

#include "BenchFrames.h"
#include "cycle/FrameSum.h"
#include "palette/HueClustering.h"
#include "preview/ExposureOverlay.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/WaveformMath.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <array>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

constexpr int kFrames = 16;

// kFrames frames of the photograph at `size` columns (16:9), each with its own square.
const std::vector<cv::Mat>& frames(int size)
{
    static std::map<int, std::vector<cv::Mat>> made;
    std::vector<cv::Mat>& list = made[size];
    if (list.empty()) {
        const cv::Mat base = bench::coverPhoto(size, size * 9 / 16 + (size == 600 ? 1 : 0));
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat frame;
            bench::paintStep(base, i, frame);
            list.push_back(frame);
        }
    }
    return list;
}

double radiusOf(int size)
{
    return (size / 2) * 0.75;
}

// The wheel behind a plot of `size` at scale `zoom`.
const cv::Mat& wheel(int size, int zoom = 1)
{
    static std::map<std::pair<int, int>, cv::Mat> made;
    cv::Mat& w = made[{ size, zoom }];
    if (w.empty())
        scopes::renderColorWheel(w, size, size, radiusOf(size), zoom);
    return w;
}

void setFrameCounters(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations());
}

// Capture buffer to frame buffer, then the change test over every byte.
void frameCopyAndSum(benchmark::State& state)
{
    const auto& list = frames(int(state.range(0)));
    cv::Mat frame;
    long i = 0;
    for (auto _ : state) {
        list[i++ % kFrames].copyTo(frame);
        benchmark::DoNotOptimize(scopes::frameByteSum(frame));
    }
    setFrameCounters(state);
}
BENCHMARK(frameCopyAndSum)->Arg(400)->Arg(600)->ArgName("size")->Unit(benchmark::kMicrosecond);

// The preview's exposure view of a whole new frame (every row painted), into
// a reused buffer: arg 1 clipping, 2 false colour.
void exposureView(benchmark::State& state)
{
    const auto& list = frames(int(state.range(0)));
    const auto mode = static_cast<scopes::ExposureMode>(state.range(1));
    const scopes::ExposurePainter painter;
    cv::Mat painted;
    long i = 0;
    for (auto _ : state) {
        const cv::Mat& frame = list[i++ % kFrames];
        benchmark::DoNotOptimize(painter.paint(frame, painted, mode, cv::Range(0, frame.rows)));
        benchmark::ClobberMemory();
    }
    setFrameCounters(state);
}
BENCHMARK(exposureView)
    ->ArgsProduct({ { 400, 600 }, { 1, 2 } })
    ->ArgNames({ "size", "mode" })
    ->Unit(benchmark::kMicrosecond);

// The frames, every other one mirrored: no row of a frame is the row
// before it, so each is counted whole.
const std::vector<cv::Mat>& wholeNewFrames(int size)
{
    static std::map<int, std::vector<cv::Mat>> made;
    std::vector<cv::Mat>& list = made[size];
    if (list.empty())
        for (int i = 0; i < kFrames; ++i) {
            list.push_back(frames(size)[static_cast<size_t>(i)].clone());
            if (i % 2)
                cv::flip(list.back(), list.back(), 1);
        }
    return list;
}

// One plotter over the frames of `list` in turn, buffers reused, at the
// scale of the second argument (1x, 2x or 4x).
void plotEach(benchmark::State& state, const std::vector<cv::Mat>& list)
{
    const int size = int(state.range(0));
    const int zoom = int(state.range(1));
    scopes::VectorscopePlotter plotter;
    // Set-up apart: the wheel, and the checks of the fast arithmetic when a
    // size and scale are first used, are not a frame's cost.
    const cv::Mat& behind = wheel(size, zoom);
    plotter.plot(list[0], behind, radiusOf(size), {}, zoom);
    long i = 1;
    for (auto _ : state) {
        const cv::Mat scope = plotter.plot(list[i++ % kFrames], behind, radiusOf(size), {}, zoom);
        benchmark::DoNotOptimize(scope.data);
    }
    setFrameCounters(state);
}

// A new frame: conversion, accumulation, smoothing, brightening.
void vectorscopeNewFrame(benchmark::State& state)
{
    plotEach(state, wholeNewFrames(int(state.range(0))));
}
BENCHMARK(vectorscopeNewFrame)
    ->ArgsProduct({ { 400, 600 }, { 1, 2, 4 } })
    ->ArgNames({ "size", "zoom" })
    ->Unit(benchmark::kMicrosecond);

// A frame that differs from the one before by a small square that moved:
// only the rows it touches are counted again.
void vectorscopeFewRowsChanged(benchmark::State& state)
{
    plotEach(state, frames(int(state.range(0))));
}
BENCHMARK(vectorscopeFewRowsChanged)
    ->ArgsProduct({ { 400, 600 }, { 1, 2, 4 } })
    ->ArgNames({ "size", "zoom" })
    ->Unit(benchmark::kMicrosecond);

void vectorscopeNewFramePlain(benchmark::State& state)
{
    const int size = int(state.range(0));
    const auto& list = frames(size);
    cv::Mat colorImage;
    long i = 0;
    for (auto _ : state) {
        cv::Mat scope
            = scopes::reference::vectorscopePlot(list[i++ % kFrames], wheel(size), radiusOf(size), colorImage);
        benchmark::DoNotOptimize(scope.data);
    }
    setFrameCounters(state);
}
BENCHMARK(vectorscopeNewFramePlain)->Arg(400)->ArgName("size")->Unit(benchmark::kMicrosecond);

// An unchanged frame: the cached plot copied, the pointer marker, the
// skin-tone line, and the preview highlight of a pointer that rests over the plot.
void vectorscopeOverlayOnly(benchmark::State& state)
{
    const int size = int(state.range(0));
    const cv::Mat& frame = frames(size)[0];
    scopes::VectorscopePlotter plotter;
    cv::Mat rgbBytes, rgbFloat, colorImage, scope, preview;
    const cv::Mat cache = plotter.plot(frame, wheel(size), radiusOf(size));
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, colorImage);
    for (auto _ : state) {
        cache.copyTo(scope);
        frame.copyTo(preview);
        scopes::drawPointerMarker(scope, colorImage, 100, 100, radiusOf(size));
        scopes::highlightMatchingHues(preview, colorImage, 0.55f, 0.6);
        scopes::drawSkinToneLine(scope, radiusOf(size));
        benchmark::DoNotOptimize(scope.data);
        benchmark::DoNotOptimize(preview.data);
    }
    setFrameCounters(state);
}
BENCHMARK(vectorscopeOverlayOnly)->Arg(400)->ArgName("size")->Unit(benchmark::kMicrosecond);

// Waveform (parade 0) and Parade (parade 1), every refresh, with the
// preview highlight of a pointer resting on the plot.
void waveform(benchmark::State& state)
{
    const int size = int(state.range(0));
    const bool parade = state.range(1) != 0;
    const auto& list = frames(size);
    scopes::WaveformBuffers buffers;
    cv::Mat scope, preview;
    long i = 0;
    for (auto _ : state) {
        list[i++ % kFrames].copyTo(preview);
        scopes::renderWaveform(preview, size, parade, buffers, scope);
        scopes::highlightMatchingLevels(preview, scope.cols, scope.rows, size / 2.0, scope.rows / 2.0, parade);
        benchmark::DoNotOptimize(scope.data);
    }
    setFrameCounters(state);
}
BENCHMARK(waveform)
    ->ArgsProduct({ { 400, 600 }, { 0, 1 } })
    ->ArgNames({ "size", "parade" })
    ->Unit(benchmark::kMicrosecond);

void waveformPlain(benchmark::State& state)
{
    const int size = int(state.range(0));
    const bool parade = state.range(1) != 0;
    const auto& list = frames(size);
    long i = 0;
    for (auto _ : state) {
        cv::Mat scope = scopes::reference::waveformPicture(list[i++ % kFrames], size, parade);
        benchmark::DoNotOptimize(scope.data);
    }
    setFrameCounters(state);
}
BENCHMARK(waveformPlain)
    ->ArgsProduct({ { 400 }, { 0, 1 } })
    ->ArgNames({ "size", "parade" })
    ->Unit(benchmark::kMicrosecond);

// The dominant-hue search on a 400 x 225 frame: the samples of the colour
// image and the k-means on the hue circle with the window's settings.
void colourSearch(benchmark::State& state)
{
    const cv::Mat& frame = frames(400)[0];
    cv::Mat rgbBytes, rgbFloat, colorImage;
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, colorImage);
    for (auto _ : state) {
        std::srand(7);
        const std::vector<float> samples = palette::hueSamples(colorImage);
        std::vector<float> counts;
        float cost = 0;
        const std::vector<float> centres = palette::clusterHues(10, samples, 50, 20, std::rand, &cost, &counts);
        benchmark::DoNotOptimize(palette::strongestCentres(centres, counts, 4).data());
    }
    setFrameCounters(state);
}
BENCHMARK(colourSearch)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
