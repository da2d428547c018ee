// huelens-bench-painter PHOTO FPS SECONDS
//
// Covers the X server's screen with PHOTO and moves a small square of
// changing colour over it FPS times a second for SECONDS seconds (FPS 0: the
// screen stays as it is). The processor share and memory measurements of
// bench/measure-cycle.sh capture this screen.

#include "ScreenPainter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: huelens-bench-painter PHOTO FPS SECONDS\n");
        return 2;
    }
    const double fps = std::atof(argv[2]);
    const double seconds = std::atof(argv[3]);
    ScreenPainter painter(argv[1]);
    if (!painter.ready()) {
        std::fprintf(stderr, "huelens-bench-painter: no X display of depth 24\n");
        return 1;
    }
    painter.paintStep(0);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    if (fps <= 0) {
        std::this_thread::sleep_until(end);
        return 0;
    }
    const auto period = std::chrono::duration<double>(1.0 / fps);
    for (long step = 1;; ++step) {
        const auto next = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * step);
        if (next >= end)
            break;
        std::this_thread::sleep_until(next);
        painter.paintStep(step);
    }
    return 0;
}
