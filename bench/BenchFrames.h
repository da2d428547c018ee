#pragma once

// Frames the benchmarks run on: a colour photograph that Debian ships, scaled
// to cover the frame, with a small square of changing colour that walks
// across it so that every frame is new to the window's change test.

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <string>

namespace bench {

inline std::string photoPath()
{
#ifdef _WIN32
    // The Windows build runs under Wine here, where drive Z: is Linux's root.
    return "Z:/usr/share/doc/opencv-doc/examples/data/baboon.jpg";
#else
    return "/usr/share/doc/opencv-doc/examples/data/baboon.jpg";
#endif
}

// The photograph scaled (area averaging) to cover width x height, centred and
// cut to that shape, as B, G, R, 255. Without the photograph: noise, the
// hardest case for every shortcut.
inline cv::Mat coverPhoto(int width, int height, const std::string& path = photoPath())
{
    cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (image.empty()) {
        image.create(512, 512, CV_8UC3);
        cv::randu(image, 0, 256);
    }
    const double scale = std::max(double(width) / image.cols, double(height) / image.rows);
    cv::Mat scaled;
    cv::resize(image, scaled,
        cv::Size(std::max(width, int(image.cols * scale + 0.5)), std::max(height, int(image.rows * scale + 0.5))), 0, 0,
        cv::INTER_AREA);
    cv::Mat bgra;
    cv::cvtColor(scaled(cv::Rect((scaled.cols - width) / 2, (scaled.rows - height) / 2, width, height)), bgra,
        cv::COLOR_BGR2BGRA);
    return bgra;
}

inline std::uint32_t byteSum(const cv::Mat& frame)
{
    std::uint32_t sum = 0;
    for (size_t i = 0; i < frame.total() * frame.elemSize(); ++i)
        sum += frame.data[i];
    return sum;
}

// `base` with the square of frame number `step`; no two consecutive steps
// give the same byte sum.
inline void paintStep(const cv::Mat& base, long step, cv::Mat& frame, int square = 12)
{
    base.copyTo(frame);
    const int x = int((step * 7) % (frame.cols - square));
    const int y = int((step * 5) % (frame.rows - square));
    const cv::Scalar colour(
        double((step * 37) % 256), double((step * 91 + 60) % 256), double((step * 53 + 120) % 256), 255);
    frame(cv::Rect(x, y, square, square)).setTo(colour);
    static thread_local std::uint32_t previousSum = 0;
    std::uint32_t sum = byteSum(frame);
    if (sum == previousSum) {
        frame.at<cv::Vec4b>(y, x)[0] ^= 1;
        sum = byteSum(frame);
    }
    previousSum = sum;
}

// `base` turned by 3 degrees per step about its centre (a quarter larger,
// the corners mirrored in) and every hue shifted by 5 degrees per step: no
// two frames of a cycle of 72 share their set of colours.
inline void turnStep(const cv::Mat& base, long step, cv::Mat& frame)
{
    const cv::Point2f centre(base.cols / 2.0f, base.rows / 2.0f);
    const cv::Mat turn = cv::getRotationMatrix2D(centre, double(step % 120) * 3.0, 1.25);
    cv::Mat turned, hsv;
    cv::warpAffine(base, turned, turn, base.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    cv::cvtColor(turned, hsv, cv::COLOR_BGRA2BGR);
    cv::cvtColor(hsv, hsv, cv::COLOR_BGR2HSV_FULL);
    const int shift = int((step * 5 * 256 / 360) % 256);
    hsv.forEach<cv::Vec3b>([shift](cv::Vec3b& p, const int*) { p[0] = uchar((p[0] + shift) & 0xff); });
    cv::cvtColor(hsv, hsv, cv::COLOR_HSV2BGR_FULL);
    cv::cvtColor(hsv, frame, cv::COLOR_BGR2BGRA);
}

} // namespace bench
