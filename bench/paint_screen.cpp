// huelens-bench-painter PHOTO FPS SECONDS [video WIDTH HEIGHT [FRAMES.raw]]
//
// Covers the X server's screen with PHOTO and moves a small square of
// changing colour over it FPS times a second for SECONDS seconds (FPS 0: the
// screen stays as it is). With `video`, the screen's top left WIDTH x HEIGHT
// pixels instead show a new picture FPS times a second, as where a video
// plays: PHOTO turning by 3 degrees and every hue shifting by 5 degrees per
// frame, so that every frame changes every pixel and its set of colours; or
// the frames of FRAMES.raw (WIDTH x HEIGHT B, G, R, A bytes each, for
// example a test pattern made by ffmpeg), one after another.
// The processor share and memory measurements of bench/measure-cycle.sh
// capture this screen.

#include "BenchFrames.h"
#include "ScreenPainter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Made before the clock starts, so that the painter's own work does not
// compete with the program measured while it runs: 24 frames, a second of
// video, shown over and over (each frame still differs from the one before).
std::vector<cv::Mat> videoFrames(const char* photo, int width, int height)
{
    const cv::Mat base = bench::coverPhoto(width, height, photo);
    std::vector<cv::Mat> frames(24);
    for (size_t i = 0; i < frames.size(); ++i)
        bench::turnStep(base, long(i), frames[i]);
    return frames;
}

// Every whole frame of `path`, at most 50 of them.
std::vector<cv::Mat> framesOfFile(const char* path, int width, int height)
{
    std::vector<cv::Mat> frames;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return frames;
    for (cv::Mat frame(height, width, CV_8UC4); frames.size() < 50; frame = cv::Mat(height, width, CV_8UC4)) {
        if (std::fread(frame.data, frame.total() * 4, 1, file) != 1)
            break;
        frames.push_back(frame);
    }
    std::fclose(file);
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    const bool video = (argc == 7 || argc == 8) && std::strcmp(argv[4], "video") == 0;
    if (argc != 4 && !video) {
        std::fprintf(stderr, "usage: huelens-bench-painter PHOTO FPS SECONDS [video WIDTH HEIGHT [FRAMES.raw]]\n");
        return 2;
    }
    const double fps = std::atof(argv[2]);
    const double seconds = std::atof(argv[3]);
    ScreenPainter painter(argv[1]);
    if (!painter.ready()) {
        std::fprintf(stderr, "huelens-bench-painter: no X display of depth 24\n");
        return 1;
    }
    std::vector<cv::Mat> frames;
    if (video)
        frames = argc == 8 ? framesOfFile(argv[7], std::atoi(argv[5]), std::atoi(argv[6]))
                           : videoFrames(argv[1], std::atoi(argv[5]), std::atoi(argv[6]));
    if (video && frames.empty()) {
        std::fprintf(stderr, "huelens-bench-painter: no frames of that size in '%s'\n", argc == 8 ? argv[7] : argv[1]);
        return 1;
    }
    const auto paint = [&](long step) {
        if (video)
            painter.paintPicture(frames[size_t(step) % frames.size()]);
        else
            painter.paintStep(step);
    };
    paint(0);
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
        paint(step);
    }
    return 0;
}
