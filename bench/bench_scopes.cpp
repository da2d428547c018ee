// Cost of the scopes per refresh at the default window size 400, on a
// photograph captured as the window captures it (400 x 387 for baboon.jpg).
// A refresh has 40 ms; the vectorscope recomputes only for a new frame, the
// Waveform and Parade on every refresh.

#include "scopes/StillScope.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/WaveformMath.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

namespace {

constexpr int kWindowSize = 400;
constexpr double kRadius = (kWindowSize / 2) * 0.75;

const cv::Mat& frame()
{
    static const cv::Mat captured = [] {
        cv::Mat image = cv::imread("/usr/share/doc/opencv-doc/examples/data/baboon.jpg", cv::IMREAD_COLOR);
        if (image.empty()) { // without opencv-doc: noise, the worst case for every shortcut
            image.create(512, 512, CV_8UC3);
            cv::randu(image, 0, 256);
        }
        return scopes::frameFromImage(image, kWindowSize);
    }();
    return captured;
}

const cv::Mat& wheel()
{
    static const cv::Mat rendered = [] {
        cv::Mat w;
        scopes::renderColorWheel(w, kWindowSize, kWindowSize, kRadius);
        return w;
    }();
    return rendered;
}

// A changed frame: conversion, accumulation, smoothing, brightening, buffers reused.
void vectorscopeNewFrame(benchmark::State& state)
{
    scopes::VectorscopeBuffers buffers;
    cv::Mat colorImage, scope;
    for (auto _ : state) {
        scopes::plotVectorscope(frame(), wheel(), kRadius, buffers, colorImage, scope);
        benchmark::DoNotOptimize(scope.data);
    }
}
BENCHMARK(vectorscopeNewFrame)->Unit(benchmark::kMillisecond);

// The same arithmetic written plainly, allocating every time.
void vectorscopeNewFramePlain(benchmark::State& state)
{
    cv::Mat colorImage;
    for (auto _ : state) {
        cv::Mat scope = scopes::reference::vectorscopePlot(frame(), wheel(), kRadius, colorImage);
        benchmark::DoNotOptimize(scope.data);
    }
}
BENCHMARK(vectorscopeNewFramePlain)->Unit(benchmark::kMillisecond);

// An unchanged frame: the cached plot copied, the marker, the skin-tone line
// and the hue highlight of a pointer over the plot.
void vectorscopeSameFrame(benchmark::State& state)
{
    scopes::VectorscopeBuffers buffers;
    cv::Mat colorImage, cache, scope;
    scopes::plotVectorscope(frame(), wheel(), kRadius, buffers, colorImage, cache);
    cv::Mat preview;
    for (auto _ : state) {
        cache.copyTo(scope);
        frame().copyTo(preview);
        scopes::drawPointerMarker(scope, colorImage, 100, 100, kRadius);
        scopes::highlightMatchingHues(preview, colorImage, 0.55f, 0.6);
        scopes::drawSkinToneLine(scope, kRadius);
        benchmark::DoNotOptimize(scope.data);
    }
}
BENCHMARK(vectorscopeSameFrame)->Unit(benchmark::kMillisecond);

void waveform(benchmark::State& state)
{
    const bool parade = state.range(0) != 0;
    scopes::WaveformBuffers buffers;
    cv::Mat scope, preview;
    for (auto _ : state) {
        frame().copyTo(preview);
        scopes::renderWaveform(preview, kWindowSize, parade, buffers, scope);
        scopes::highlightMatchingLevels(preview, scope.cols, scope.rows, 200.0, 133.0, parade);
        benchmark::DoNotOptimize(scope.data);
    }
}
BENCHMARK(waveform)->Arg(0)->Arg(1)->ArgName("parade")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
