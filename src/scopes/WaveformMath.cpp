#include "scopes/WaveformMath.h"

#include "cycle/FramePaint.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace scopes {

namespace {

constexpr double kFrameByteToUnit = 0.00392156862745098; // 1 / 255
constexpr float kGraticuleGain = 0.0033071896f; // 1 / 302.37
constexpr int kHighlightColumns = 10;
constexpr double kHighlightLevels = 10.0;

uchar pictureByte(float value)
{
    return static_cast<uchar>(static_cast<int>(std::min(1.0, static_cast<double>(value)) * 255));
}

// Brightness comes as one channel byte (Parade) or the mean of the three (Waveform).
float pixelLevel(const uchar* bgra, int channel)
{
    if (channel >= 0)
        return static_cast<float>(bgra[channel]);
    return static_cast<float>(bgra[0] + bgra[1] + bgra[2]) * 0.333f;
}

void paintRed(uchar* bgra)
{
    bgra[0] = 0;
    bgra[1] = 0;
    bgra[2] = 255;
    bgra[3] = 255;
}

} // namespace

int waveformHeight(int windowSize)
{
    return static_cast<int>(windowSize * 0.667);
}

int traceWidth(int windowSize, bool parade)
{
    return parade ? windowSize / 3 : windowSize;
}

void frameToRgbFloat(const cv::Mat& frameBgra, cv::Mat& rgbBytes, cv::Mat& rgbFloat)
{
    cv::cvtColor(frameBgra, rgbBytes, cv::COLOR_BGRA2RGB);
    rgbBytes.convertTo(rgbFloat, CV_32FC3, kFrameByteToUnit, 0);
}

int levelOf(float value)
{
    // Ceiling, not rounding: the faintest light leaves the black level.
    const int level = static_cast<int>(std::ceil(value * 127.0f));
    return std::clamp(level, 0, kLevels - 1);
}

void accumulateLevels(const cv::Mat& rgbFloat, int width, ChannelMats& counts)
{
    for (cv::Mat& channel : counts) {
        channel.create(kLevels, width, CV_32FC1);
        channel.setTo(cv::Scalar::all(0));
    }
    if (rgbFloat.cols <= 0 || width <= 0)
        return;
    const float sx = static_cast<float>(width) / static_cast<float>(rgbFloat.cols);
    float* blue = counts[Blue].ptr<float>();
    float* green = counts[Green].ptr<float>();
    float* red = counts[Red].ptr<float>();
    const size_t step = counts[Blue].step1();
    for (int y = 0; y < rgbFloat.rows; ++y) {
        const float* rgb = rgbFloat.ptr<float>(y);
        for (int c = 0; c < rgbFloat.cols; ++c, rgb += 3) {
            const int x = std::min(static_cast<int>(static_cast<float>(c) * sx), width - 1);
            red[(kLevels - 1 - levelOf(rgb[0])) * step + x] += 1.0f;
            green[(kLevels - 1 - levelOf(rgb[1])) * step + x] += 1.0f;
            blue[(kLevels - 1 - levelOf(rgb[2])) * step + x] += 1.0f;
        }
    }
}

float traceDensity(const cv::Mat& counts)
{
    float sum = 0.0f;
    for (int y = 5; y < counts.rows; ++y) {
        const float* cell = counts.ptr<float>(y);
        for (int x = 0; x < counts.cols; ++x)
            if (cell[x] > 0.2)
                sum += cell[x];
    }
    return sum / static_cast<float>(kLevels * counts.cols);
}

float traceGain(float density)
{
    const float g = std::clamp(3.0f - density, 1.0f, 2.5f);
    return static_cast<float>(std::pow(static_cast<double>(g), 2.5));
}

void enhanceTrace(const cv::Mat& counts, int cols, int rows, cv::Mat& trace, cv::Mat& blur3, cv::Mat& blur5)
{
    const float density = traceDensity(counts);
    cv::resize(counts, trace, cv::Size(cols, rows), 0, 0, cv::INTER_LINEAR);
    cv::normalize(trace, trace, 0, 1, cv::NORM_MINMAX);
    cv::GaussianBlur(trace, blur3, cv::Size(3, 3), 1.0, 0, cv::BORDER_DEFAULT);
    cv::GaussianBlur(trace, blur5, cv::Size(5, 5), 1.0, 0, cv::BORDER_DEFAULT);
    trace.convertTo(trace, -1, 2.0);
    blur3.convertTo(blur3, -1, 1.5);
    cv::add(trace, blur3, trace);
    cv::add(trace, blur5, trace);
    trace.convertTo(trace, -1, traceGain(density));
}

void composeWaveform(const ChannelMats& traces, cv::Mat& scope)
{
    const int cols = std::min(scope.cols, traces[Red].cols);
    for (int y = 0; y < scope.rows; ++y) {
        uchar* pixel = scope.ptr<uchar>(y);
        const float* red = traces[Red].ptr<float>(y);
        const float* green = traces[Green].ptr<float>(y);
        const float* blue = traces[Blue].ptr<float>(y);
        for (int x = 0; x < cols; ++x, pixel += 3) {
            pixel[0] = pictureByte(red[x]);
            pixel[1] = pictureByte(green[x]);
            pixel[2] = pictureByte(blue[x]);
        }
    }
}

void composeParade(const ChannelMats& traces, cv::Mat& scope)
{
    const int w = traces[Blue].cols;
    for (int y = 0; y < scope.rows; ++y) {
        uchar* row = scope.ptr<uchar>(y);
        const float* blue = traces[Blue].ptr<float>(y);
        const float* green = traces[Green].ptr<float>(y);
        const float* red = traces[Red].ptr<float>(y);
        for (int c = 0; c < w; ++c) {
            row[c * 3 + 2] = pictureByte(blue[c]);
            row[(w + c) * 3 + 1] = pictureByte(green[c]);
            row[(2 * w + c) * 3 + 0] = pictureByte(red[c]);
        }
    }
}

void applyGraticule(cv::Mat& scope)
{
    for (int i = 0; i < 10; ++i) {
        const int y = static_cast<int>(static_cast<float>(i * scope.rows) / 10.0f);
        uchar* pixel = scope.ptr<uchar>(y);
        for (int x = 0; x < scope.cols; ++x, pixel += 3) {
            const float k = std::min(1.0f, static_cast<float>(pixel[0] + pixel[1] + pixel[2]) * kGraticuleGain);
            const float m = (1 - k) * 50;
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<uchar>(static_cast<int>(pixel[c] * k + m));
        }
    }
}

void highlightMatchingLevels(
    cv::Mat& frameBgra, int scopeCols, int scopeRows, double hoverX, double hoverY, bool parade)
{
    highlightMatchingLevels(frameBgra, frameBgra, scopeCols, scopeRows, hoverX, hoverY, parade);
}

void highlightMatchingLevels(const cv::Mat& readings, cv::Mat& preview, int scopeCols, int scopeRows, double hoverX,
    double hoverY, bool parade, FramePaint* paint)
{
    const cv::Mat& frameBgra = readings;
    if (scopeRows <= 0 || frameBgra.cols <= 0 || frameBgra.type() != CV_8UC4 || preview.size() != readings.size()
        || preview.type() != CV_8UC4 || (paint && !preview.isContinuous()))
        return;
    const float level = static_cast<float>((scopeRows - hoverY) * 255 / scopeRows);
    if (hoverX < 0)
        return;

    int px = static_cast<int>(hoverX);
    int channel = -1;
    if (parade) {
        // The position inside the pointed panel, mapped onto the full width.
        const int third = scopeCols / 3;
        if (third <= 0)
            return;
        px = (static_cast<int>(hoverX) % third) * 3;
        channel = hoverX < third ? Blue : hoverX < (2 * scopeCols) / 3 ? Green : Red;
    }

    const float sp = static_cast<float>(scopeCols) / static_cast<float>(frameBgra.cols);
    // trunc(c x sp) never falls as c grows, so the columns within reach of
    // the pointer are one run: found once, then only they are walked.
    int first = 0;
    while (first < frameBgra.cols && static_cast<int>(static_cast<float>(first) * sp) < px - kHighlightColumns)
        ++first;
    int last = first;
    while (last < frameBgra.cols && static_cast<int>(static_cast<float>(last) * sp) <= px + kHighlightColumns)
        ++last;
    for (int y = 0; y < frameBgra.rows; ++y) {
        const uchar* pixel = frameBgra.ptr<uchar>(y) + first * 4;
        uchar* shown = preview.ptr<uchar>(y) + first * 4;
        for (int c = first; c < last; ++c, pixel += 4, shown += 4) {
            // Read before it is painted when both are the same frame.
            if (std::fabs(pixelLevel(pixel, channel) - level) < kHighlightLevels) {
                if (paint)
                    paint->paintRed(preview, y * preview.cols + c);
                else
                    paintRed(shown);
            }
        }
    }
}

void renderWaveform(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& rgbBytes, cv::Mat& rgbFloat,
    ChannelMats& counts, ChannelMats& traces, cv::Mat& blur3, cv::Mat& blur5, cv::Mat& scope,
    const std::vector<std::uint32_t>* leftOut)
{
    frameToRgbFloat(frameBgra, rgbBytes, rgbFloat);
    const int rows = waveformHeight(windowSize);
    const int width = traceWidth(windowSize, parade);
    accumulateLevels(rgbFloat, width, counts);
    if (leftOut && static_cast<int>(leftOut->size()) == frameBgra.cols && width > 0) {
        // The black they were made counted them on level 0, in the column accumulateLevels took.
        const float sx = static_cast<float>(width) / static_cast<float>(frameBgra.cols);
        for (int c = 0; c < frameBgra.cols; ++c) {
            const int x = std::min(static_cast<int>(static_cast<float>(c) * sx), width - 1);
            for (cv::Mat& channel : counts)
                channel.at<float>(kLevels - 1, x) -= static_cast<float>((*leftOut)[static_cast<size_t>(c)]);
        }
    }
    for (int channel : { Blue, Green, Red })
        enhanceTrace(counts[channel], width, rows, traces[channel], blur3, blur5);
    scope.create(rows, windowSize, CV_8UC3);
    scope.setTo(cv::Scalar::all(0));
    if (parade)
        composeParade(traces, scope);
    else
        composeWaveform(traces, scope);
    applyGraticule(scope);
}

void renderWaveform(const cv::Mat& frameBgra, int windowSize, bool parade, WaveformBuffers& buffers, cv::Mat& scope,
    const std::vector<std::uint32_t>* leftOut)
{
    buffers.renderer.render(frameBgra, windowSize, parade, scope, leftOut);
}

namespace reference {

cv::Mat enhanceTrace(cv::Mat channel, int cols, int rows)
{
    channel = channel.clone();
    float sum = 0.0f;
    for (int y = 5; y < 128; ++y)
        for (int x = 0; x < channel.cols; ++x)
            if (channel.at<float>(y, x) > 0.2)
                sum += channel.at<float>(y, x);
    const float density = sum / static_cast<float>(128 * channel.cols);

    cv::resize(channel, channel, cv::Size(cols, rows), 0, 0, cv::INTER_LINEAR);
    cv::normalize(channel, channel, 0, 1, cv::NORM_MINMAX);
    cv::Mat b3, b5;
    cv::GaussianBlur(channel, b3, cv::Size(3, 3), 1.0, 0, cv::BORDER_DEFAULT);
    cv::GaussianBlur(channel, b5, cv::Size(5, 5), 1.0, 0, cv::BORDER_DEFAULT);
    channel.convertTo(channel, -1, 2.0);
    b3.convertTo(b3, -1, 1.5);
    cv::add(channel, b3, channel);
    cv::add(channel, b5, channel);

    float g = 3.0f - density;
    if (g < 1.0f)
        g = 1.0f;
    if (g > 2.5f)
        g = 2.5f;
    const float gain = static_cast<float>(std::pow(static_cast<double>(g), 2.5));
    channel.convertTo(channel, -1, gain);
    return channel;
}

cv::Mat waveformPicture(const cv::Mat& frameBgra, int windowSize, bool parade)
{
    cv::Mat rgb;
    cv::cvtColor(frameBgra, rgb, cv::COLOR_BGRA2RGB);
    rgb.convertTo(rgb, CV_32FC3, 0.00392156862745098, 0);

    const int plotHeight = static_cast<int>(windowSize * 0.667);
    cv::Mat scope = cv::Mat::zeros(plotHeight, windowSize, CV_8UC3);
    const int w = parade ? windowSize / 3 : windowSize;
    cv::Mat blue = cv::Mat::zeros(128, w, CV_32FC1);
    cv::Mat green = cv::Mat::zeros(128, w, CV_32FC1);
    cv::Mat red = cv::Mat::zeros(128, w, CV_32FC1);
    const float sx = static_cast<float>(w) / static_cast<float>(rgb.cols);
    for (int y = 0; y < rgb.rows; ++y) {
        for (int c = 0; c < rgb.cols; ++c) {
            const int x = static_cast<int>(static_cast<float>(c) * sx);
            const cv::Vec3f v = rgb.at<cv::Vec3f>(y, c);
            red.at<float>(127 - static_cast<int>(std::ceil(v[0] * 127.0f)), x) += 1.0f;
            green.at<float>(127 - static_cast<int>(std::ceil(v[1] * 127.0f)), x) += 1.0f;
            blue.at<float>(127 - static_cast<int>(std::ceil(v[2] * 127.0f)), x) += 1.0f;
        }
    }
    const int cols = parade ? w : windowSize;
    blue = enhanceTrace(blue, cols, plotHeight);
    green = enhanceTrace(green, cols, plotHeight);
    red = enhanceTrace(red, cols, plotHeight);

    auto byteOf = [](float value) { return static_cast<uchar>(static_cast<int>(std::min(1.0, (double)value) * 255)); };
    for (int y = 0; y < plotHeight; ++y) {
        for (int c = 0; c < windowSize; ++c) {
            cv::Vec3b& pixel = scope.at<cv::Vec3b>(y, c);
            if (!parade)
                pixel = cv::Vec3b(
                    byteOf(red.at<float>(y, c)), byteOf(green.at<float>(y, c)), byteOf(blue.at<float>(y, c)));
            else if (c < w)
                pixel = cv::Vec3b(0, 0, byteOf(blue.at<float>(y, c)));
            else if (c < 2 * w)
                pixel = cv::Vec3b(0, byteOf(green.at<float>(y, c - w)), 0);
            else if (c < 3 * w)
                pixel = cv::Vec3b(byteOf(red.at<float>(y, c - 2 * w)), 0, 0);
        }
    }

    for (int i = 0; i < 10; ++i) {
        const int row = static_cast<int>(static_cast<float>(i * plotHeight) / 10.0f);
        for (int c = 0; c < windowSize; ++c) {
            cv::Vec3b& pixel = scope.at<cv::Vec3b>(row, c);
            const float k = std::min(1.0f, static_cast<float>(pixel[0] + pixel[1] + pixel[2]) * 0.0033071896f);
            const float m = (1 - k) * 50;
            for (int ch = 0; ch < 3; ++ch)
                pixel[ch] = static_cast<uchar>(static_cast<int>(pixel[ch] * k + m));
        }
    }
    return scope;
}

} // namespace reference

} // namespace scopes
