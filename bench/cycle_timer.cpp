// The refresh cycle, updateScreen, timed without a benchmark library, so that
// the same measurement runs on Linux and on the Windows build under Wine
// (bench/measure-windows.sh puts them side by side).
//
//   huelens-cycle-timer [CYCLES]
//
// Built against the in-memory desktop it times the program's own part of a
// cycle: the copy of a scripted 1600 x 900 screen scaled to the 400-pixel
// window, the change test, the scope and its hand-over, for the Vectorscope,
// Waveform and Parade, each on a new frame every cycle and on an unchanged
// one. Built against the Win32 desktop (HUELENS_BENCH_WIN32) it also times
// the same cycle on the real screen, and the capture alone, step by step:
// what GDI costs (CreateDC, StretchBlt, GetDIBits), which under Wine is
// Wine's. There the screen must be 2000 x 900 split into two monitors, the
// 1600 x 900 one that is captured and a strip beside it where the window
// sits, so that the window never captures itself (measure-windows.sh).
//
// Prints one line per measurement: the median and the mean in milliseconds.

#include "BenchFrames.h"
#include "shell/MainWindow.h"

#ifdef HUELENS_BENCH_WIN32
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Handles.h"
#else
#include "platform/memory/MemoryDesktop.h"
#endif

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

struct CycleTimerTag;
template <> struct MainWindowProbe<CycleTimerTag> {
    static void setDisplayMode(MainWindow& w, int mode) { w.displayMode = mode; }
};

namespace {

constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 900;
constexpr int kWindowSize = 400;

using Clock = std::chrono::steady_clock;

void report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    std::printf("%-44s median %7.3f ms   mean %7.3f ms   (%zu runs)\n", what, ms[ms.size() / 2], mean, ms.size());
    std::fflush(stdout);
}

std::vector<double> timed(int runs, const std::function<void()>& before, const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        before();
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return ms;
}

#ifdef HUELENS_BENCH_WIN32
using namespace platform::win32;

// A window over the captured monitor showing the photograph with a small
// square that moves at every step, as an editor's picture changes.
class Painter {
public:
    Painter()
        : photo(bench::coverPhoto(kScreenWidth, kScreenHeight))
    {
        WNDCLASSW wc {};
        wc.lpfnWndProc = paint;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HuelensBenchPainter";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"painter", WS_POPUP | WS_VISIBLE, 0, 0, kScreenWidth,
            kScreenHeight, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        step(0);
    }

    void step(long n)
    {
        bench::paintStep(photo, n, shown, 24);
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        GdiFlush();
    }

private:
    static LRESULT CALLBACK paint(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        auto* self = reinterpret_cast<Painter*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_PAINT || !self || self->shown.empty())
            return DefWindowProcW(window, message, w, l);
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        BITMAPINFO info = platform::win32::topDownBitmapInfo(self->shown.cols, self->shown.rows);
        SetDIBitsToDevice(dc, 0, 0, self->shown.cols, self->shown.rows, 0, 0, 0, self->shown.rows, self->shown.data,
            &info, DIB_RGB_COLORS);
        EndPaint(window, &ps);
        return 0;
    }

    cv::Mat photo, shown;
    HWND window = nullptr;
};

// GDI's steps of one capture, each timed on its own, as Win32Desktop::copy
// makes them.
void captureSteps(int runs)
{
    const int outWidth = kWindowSize, outHeight = kWindowSize * kScreenHeight / kScreenWidth;
    std::vector<std::uint8_t> frame(std::size_t(outWidth) * outHeight * 4);
    report("capture: Win32Desktop::copy, 1600x900 -> 400x225", timed(runs, [] {}, [&] {
        platform::desktop().copy(platform::Rect { 0, 0, kScreenWidth, kScreenHeight }, outWidth, outHeight, frame.data());
    }));

    DeviceContext screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    DeviceContext memory(CreateCompatibleDC(screen.get()));
    GdiObject bitmap(CreateCompatibleBitmap(screen.get(), outWidth, outHeight));
    report("  CreateDC + CreateCompatibleDC + bitmap", timed(runs, [] {}, [&] {
        DeviceContext s(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
        DeviceContext m(CreateCompatibleDC(s.get()));
        GdiObject b(CreateCompatibleBitmap(s.get(), outWidth, outHeight));
    }));
    {
        Selection selection(memory.get(), bitmap.get());
        SetStretchBltMode(memory.get(), COLORONCOLOR);
        report("  StretchBlt, COLORONCOLOR", timed(runs, [] {}, [&] {
            StretchBlt(memory.get(), 0, 0, outWidth, outHeight, screen.get(), 0, 0, kScreenWidth, kScreenHeight, SRCCOPY);
        }));
    }
    BITMAPINFO info = platform::win32::topDownBitmapInfo(outWidth, outHeight);
    report("  GetDIBits of the 400x225 bitmap", timed(runs, [] {}, [&] {
        GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, outHeight, frame.data(), &info, DIB_RGB_COLORS);
    }));
    GdiObject whole(CreateCompatibleBitmap(screen.get(), kScreenWidth, kScreenHeight));
    Selection selection(memory.get(), whole.get());
    report("  for comparison: BitBlt of the whole 1600x900", timed(runs, [] {}, [&] {
        BitBlt(memory.get(), 0, 0, kScreenWidth, kScreenHeight, screen.get(), 0, 0, SRCCOPY);
    }));
}
#endif

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    // Settings and log go to a throw-away folder, never to the user's (on
    // Windows, which ignores XDG_DATA_HOME, to Qt's test folder in AppData).
    QTemporaryDir sandbox;
    qputenv("XDG_DATA_HOME", sandbox.path().toLocal8Bit());
#ifdef _WIN32
    QStandardPaths::setTestModeEnabled(true);
#endif
    QDir::setCurrent(sandbox.path());
#ifdef HUELENS_BENCH_WIN32
    SetProcessDPIAware();
#else
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication app(argc, argv);

#ifdef HUELENS_BENCH_WIN32
    Painter painter;
    const char* where = "Win32 desktop";
#else
    platform::memoryDesktop().reset(kScreenWidth, kScreenHeight);
    platform::memoryDesktop().pointerPosition = { kScreenWidth / 2, kScreenHeight / 2 };
    const cv::Mat photo = bench::coverPhoto(kScreenWidth, kScreenHeight);
    photo.copyTo(platform::memoryDesktop().screen);
    const char* where = "in-memory desktop";
#endif
    long step = 0;
    const auto change = [&] {
        ++step;
#ifdef HUELENS_BENCH_WIN32
        painter.step(step);
        QApplication::processEvents();
#else
        bench::paintStep(photo, step, platform::memoryDesktop().screen, 24);
#endif
    };

    MainWindow window(nullptr, false, 0);
    window.move(kScreenWidth, 0);
    window.show();
    QApplication::processEvents();
    std::printf("updateScreen on the %s, window size %d, %d cycles each:\n", where, kWindowSize, cycles);
    const char* modes[] = { "Vectorscope", "Waveform", "Parade" };
    for (int mode = 0; mode < 3; ++mode) {
        MainWindowProbe<CycleTimerTag>::setDisplayMode(window, mode);
        for (int warmUp = 0; warmUp < 5; ++warmUp) {
            change();
            window.updateScreen();
            QApplication::processEvents();
        }
        const std::string changing = std::string("cycle: ") + modes[mode] + ", a new frame each";
        report(changing.c_str(), timed(cycles, change, [&] {
            window.updateScreen();
        }));
        QApplication::processEvents();
        if (mode == 0) {
            report("cycle: Vectorscope, the screen unchanged", timed(cycles, [] { QApplication::processEvents(); }, [&] {
                window.updateScreen();
            }));
        }
    }
#ifdef HUELENS_BENCH_WIN32
    captureSteps(cycles);
#endif
    return 0;
}
