// The whole refresh cycle, updateScreen, as the 40 ms timer runs it: the
// foreground recognition, the capture of the 1600 x 900 screen scaled to the
// 400 pixel window, the copy and change test, the scope and its overlays, and
// the hand-over of both pictures to their labels. bench_cycle captures a
// scripted screen in memory; bench_cycle_x11 a real X server (run it under
// tests/with-xvfb.sh -s 2000x900), whose screen a ScreenPainter changes
// between cycles. There the server's screen is split into a 1600 x 900
// monitor that is captured, like an editor's, and a strip beside it where the
// window sits, so that the window never captures itself.
//
// Only updateScreen is timed (the figure the window shows in its corner);
// "withRepaint" adds the repaint of the window that Qt does afterwards.

#include "BenchFrames.h"
#include "shell/MainWindow.h"

#ifdef HUELENS_BENCH_X11
#include "ScreenPainter.h"
#else
#include "platform/memory/MemoryDesktop.h"
#endif

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

struct CycleBenchTag;
template <> struct MainWindowProbe<CycleBenchTag> {
    static void setDisplayMode(MainWindow& w, int mode) { w.displayMode = mode; }
    static void setExposure(MainWindow& w, scopes::ExposureMode mode)
    {
        w.exposureMode = mode;
        w.exposureCurrent = false;
    }
    // The pointer resting on the plot: on the vectorscope at a direction and
    // saturation, on the Waveform and Parade at a point of the plot.
    static void hover(MainWindow& w, bool on)
    {
        w.hoverHue = on ? 0.55f : 0.0f; // orange: the photograph's skin and wood
        w.hoverSaturation = on ? 0.35 : -1.0;
        w.hoverX = on ? 200.0 : -1.0;
        w.hoverY = on ? 120.0 : -1.0;
    }
    static double highlighted(MainWindow& w) { return double(w.highlightedPixels.size()); }
    // The scope shown held as the reference of its mode (H), or released.
    static void holdReference(MainWindow& w, bool on)
    {
        if (w.referenceHeld() != on)
            w.referenceTrigger();
    }
};

namespace {

constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 900;

// The screen the cycle captures, changed one small square at a time.
class Screen {
public:
    Screen()
#ifdef HUELENS_BENCH_X11
        : painter(bench::photoPath())
#endif
    {
#ifndef HUELENS_BENCH_X11
        platform::memoryDesktop().reset(kScreenWidth, kScreenHeight);
        platform::memoryDesktop().pointerPosition = { kScreenWidth / 2, kScreenHeight / 2 };
        base = bench::coverPhoto(kScreenWidth, kScreenHeight);
        base.copyTo(platform::memoryDesktop().screen);
#endif
    }

    bool ready() const
    {
#ifdef HUELENS_BENCH_X11
        return painter.ready();
#else
        return true;
#endif
    }

    void change()
    {
        ++step;
#ifdef HUELENS_BENCH_X11
        painter.paintStep(step);
#else
        cv::Mat& desktop = platform::memoryDesktop().screen;
        if (!square.empty()) {
            cv::Mat restored = desktop(square);
            base(square).copyTo(restored);
        }
        square = cv::Rect(int((step * 37) % (desktop.cols - 24)), int((step * 23) % (desktop.rows - 24)), 24, 24);
        desktop(square).setTo(cv::Scalar(
            double((step * 37) % 256), double((step * 91 + 60) % 256), double((step * 53 + 120) % 256), 255));
#endif
    }

private:
    long step = 0;
#ifdef HUELENS_BENCH_X11
    ScreenPainter painter;
#else
    cv::Mat base;
    cv::Rect square;
#endif
};

Screen& screen()
{
    static Screen s;
    return s;
}

#ifdef HUELENS_BENCH_X11
// Monitor 0: the captured 1600 x 900; monitor 1: the strip to its right.
void splitScreen()
{
    if (std::system("xrandr --listmonitors 2>/dev/null | grep -q '^Monitors: 2'") == 0)
        return; // split already
    if (std::system("xrandr --setmonitor bench-editor 1600/423x900/238+0+0 none >/dev/null 2>&1") != 0
        || std::system("xrandr --setmonitor bench-side 400/106x900/238+1600+0 screen >/dev/null 2>&1") != 0)
        std::fprintf(stderr, "bench_cycle_x11: xrandr could not split the screen; the window may capture itself\n");
}
#endif

// One window for all benchmarks, shown as the program shows it; closed
// before the application object goes.
std::unique_ptr<MainWindow>& theWindow()
{
    static std::unique_ptr<MainWindow> w;
    return w;
}

MainWindow& window()
{
    std::unique_ptr<MainWindow>& w = theWindow();
    if (!w) {
        w = [] {
#ifdef HUELENS_BENCH_X11
            splitScreen();
#endif
            auto made = std::make_unique<MainWindow>(nullptr, false, 0);
            made->move(kScreenWidth, 0);
            made->show();
            QApplication::processEvents();
            return made;
        }();
    }
    return *w;
}

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// mode: 0 Vectorscope, 1 Waveform, 2 Parade; changing: a new frame every
// cycle; hovering: the pointer rests on the plot, so the preview carries the
// highlight of the pixels it points at; reference: the scope of the first
// frame is held as the reference, drawn under every cycle's; exposure: the
// preview's exposure view; overWindow: the tool window lies over a quarter
// of the capture (its area left out of the scopes and darkened in the
// preview), in memory only, as on X11 the window sits beside the captured
// monitor.
void cycle(benchmark::State& state, int mode, bool changing, bool withRepaint, bool hovering = false,
    bool reference = false, scopes::ExposureMode exposure = scopes::ExposureMode::Off, bool overWindow = false)
{
    if (!screen().ready()) {
        state.SkipWithError("no X display");
        return;
    }
    MainWindow& w = window();
#ifdef HUELENS_BENCH_X11
    if (overWindow) {
        state.SkipWithError("the in-memory desktop only");
        return;
    }
#else
    platform::memoryDesktop().windowFrames.clear();
    if (overWindow)
        platform::memoryDesktop().windowFrames[static_cast<platform::WindowHandle>(w.winId())]
            = platform::Rect { 200, 100, 1000, 550 };
#endif
    MainWindowProbe<CycleBenchTag>::setDisplayMode(w, mode);
    MainWindowProbe<CycleBenchTag>::hover(w, hovering);
    MainWindowProbe<CycleBenchTag>::setExposure(w, exposure);
    screen().change();
    for (int warmUp = 0; warmUp < 3; ++warmUp) {
        w.updateScreen();
        QApplication::processEvents();
    }
    MainWindowProbe<CycleBenchTag>::holdReference(w, reference);
    for (auto _ : state) {
        if (changing)
            screen().change();
        const auto start = std::chrono::steady_clock::now();
        w.updateScreen();
        if (withRepaint)
            QApplication::processEvents();
        state.SetIterationTime(seconds(std::chrono::steady_clock::now() - start));
        if (!withRepaint)
            QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations());
    if (hovering && mode == 0)
        state.counters["highlighted"] = MainWindowProbe<CycleBenchTag>::highlighted(w);
    MainWindowProbe<CycleBenchTag>::hover(w, false);
    MainWindowProbe<CycleBenchTag>::holdReference(w, false);
    MainWindowProbe<CycleBenchTag>::setExposure(w, scopes::ExposureMode::Off);
#ifndef HUELENS_BENCH_X11
    platform::memoryDesktop().windowFrames.clear();
#endif
}

BENCHMARK_CAPTURE(cycle, vectorscope_changing, 0, true, false)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged, 0, false, false)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, waveform_changing, 1, true, false)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, parade_changing, 2, true, false)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_changing_hovering, 0, true, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged_hovering, 0, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, waveform_unchanged_hovering, 1, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_changing_reference, 0, true, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged_reference, 0, false, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, parade_changing_reference, 2, true, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
// The preview's exposure view on: what it adds to a new frame's cycle.
BENCHMARK_CAPTURE(cycle, vectorscope_changing_clipping, 0, true, false, false, false, scopes::ExposureMode::Clipping)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_changing_falseColour, 0, true, false, false, false, scopes::ExposureMode::FalseColour)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged_falseColour, 0, false, false, false, false, scopes::ExposureMode::FalseColour)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_changing_overWindow, 0, true, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged_overWindow, 0, false, false, false, false, scopes::ExposureMode::Off, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, waveform_changing_overWindow, 1, true, false, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_changing_withRepaint, 0, true, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(cycle, vectorscope_unchanged_withRepaint, 0, false, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

// Resident memory before and after 10,000 cycles of a changing screen
// (after 200 cycles that let every buffer take its size).
void residentGrowth(benchmark::State& state)
{
    if (!screen().ready()) {
        state.SkipWithError("no X display");
        return;
    }
    MainWindow& w = window();
    MainWindowProbe<CycleBenchTag>::setDisplayMode(w, 0);
    const auto run = [&](int cycles) {
        for (int i = 0; i < cycles; ++i) {
            screen().change();
            w.updateScreen();
            QApplication::processEvents();
        }
    };
    for (auto _ : state) {
        run(200);
        const long before = residentKilobytes();
        run(int(state.range(0)));
        const long after = residentKilobytes();
        state.counters["rss_start_kB"] = double(before);
        state.counters["rss_growth_kB"] = double(after - before);
    }
}
BENCHMARK(residentGrowth)->Arg(10000)->ArgName("cycles")->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // Settings and log go to a throw-away folder, never to the user's.
    QTemporaryDir sandbox;
    qputenv("XDG_DATA_HOME", sandbox.path().toLocal8Bit());
#ifdef HUELENS_BENCH_X11
    qputenv("QT_QPA_PLATFORM", "xcb");
#else
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theWindow().reset();
    return 0;
}
