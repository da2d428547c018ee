// huelens-bench-frames [--turning] PHOTO WIDTH HEIGHT COUNT OUTPUT.raw
//
// Writes COUNT frames of WIDTH x HEIGHT B, G, R, A bytes (A 255), back to
// back, made from a colour photograph: the photograph scaled to cover the
// frame and cut to its shape, then in every frame a small square of another
// colour at another place, the way a pointer or a brush moves over a picture
// in an editor. No two consecutive frames have the same byte sum, so the
// window's change test sees a new frame every time. With --turning, the
// photograph turns and its hues shift from frame to frame instead, so no two
// frames share their colours.

#include "BenchFrames.h"

#include <opencv2/core/utils/logger.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "huelens-bench-frames: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    const bool turning = argc > 1 && std::string(argv[1]) == "--turning";
    if (turning) {
        --argc;
        ++argv;
    }
    if (argc != 6)
        return fail("usage: huelens-bench-frames [--turning] PHOTO WIDTH HEIGHT COUNT OUTPUT.raw");
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int count = std::atoi(argv[4]);
    if (width < 16 || height < 16 || count < 1)
        return fail("WIDTH and HEIGHT must be at least 16 and COUNT at least 1");
    if (cv::imread(argv[1], cv::IMREAD_COLOR).empty())
        return fail("cannot read a photograph from '" + std::string(argv[1]) + "'");
    std::ofstream out(argv[5], std::ios::binary);
    if (!out)
        return fail("cannot write '" + std::string(argv[5]) + "'");

    const cv::Mat base = bench::coverPhoto(width, height, argv[1]);
    cv::Mat frame;
    for (int i = 0; i < count; ++i) {
        if (turning)
            bench::turnStep(base, i, frame);
        else
            bench::paintStep(base, i, frame);
        out.write(reinterpret_cast<const char*>(frame.data), std::streamsize(frame.total() * frame.elemSize()));
    }
    out.close();
    if (!out)
        return fail("cannot write '" + std::string(argv[5]) + "'");
    return 0;
}
