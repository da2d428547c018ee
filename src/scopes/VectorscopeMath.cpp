#include "scopes/VectorscopeMath.h"

#include "cycle/FramePaint.h"
#include "scopes/ChangedSpans.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace scopes {

namespace {

constexpr double kFrameByteToUnit = 0.00392156862745098; // 1 / 255

const cv::Scalar kMarkerColor(255, 0, 0, 0);
const cv::Scalar kDominantHueColor(0, 0, 255, 0);
const cv::Scalar kSkinToneColor(255, 200, 127, 0);

double lineLength(double radius)
{
    return radius * static_cast<double>(kLineReach);
}

// Moves one channel of the wheel towards white; k = 1 leaves it, k = 0 whitens it.
uchar lifted(uchar channel, double k)
{
    return static_cast<uchar>(static_cast<int>(255.0 - (255 - channel) * k));
}

double liftFactor(float cell)
{
    // Single-precision power on purpose: the picture's bytes depend on it.
    const float a = 2.0f * std::pow(cell, 0.3f);
    return std::max(0.0, 1.0 - static_cast<double>(a));
}

void paintIfInside(cv::Mat& scope, int x, int y, const cv::Vec3b& color)
{
    if (x >= 0 && y >= 0 && x < scope.cols && y < scope.rows)
        scope.at<cv::Vec3b>(y, x) = color;
}

cv::Point lineEnd(int half, double turns, double length)
{
    const double angle = 2.0 * CV_PI * turns;
    return cv::Point(half + roundHalfAway(std::sin(angle) * length), half + roundHalfAway(std::cos(angle) * length));
}

} // namespace

int nextZoom(int zoom)
{
    switch (zoom) {
    case 1:
        return 2;
    case 2:
        return 4;
    default:
        return 1;
    }
}

int validZoom(int zoom)
{
    for (int level : kZoomLevels) {
        if (zoom == level)
            return zoom;
    }
    return 1;
}

double plottedSaturation(float saturation, int zoom)
{
    if (zoom == 1)
        return saturation;
    return std::min(1.0, static_cast<double>(saturation) * zoom);
}

double saturationAtFraction(double fraction, int zoom)
{
    return fraction / zoom;
}

int roundHalfAway(double value)
{
    return static_cast<int>(std::round(value));
}

cv::Point plotPoint(int half, double angle, double radius)
{
    return cv::Point(half - roundHalfAway(std::sin(angle) * radius), half - roundHalfAway(std::cos(angle) * radius));
}

void hsvToRgb(double h, double s, double v, double& r, double& g, double& b)
{
    const int i = static_cast<int>(std::floor(h * 6));
    const double f = h * 6 - i;
    const double p = (1 - s) * v;
    const double q = (1 - f * s) * v;
    const double t = (1 - (1 - f) * s) * v;
    switch (((i % 6) + 6) % 6) {
    case 0:
        r = v, g = t, b = p;
        break;
    case 1:
        r = q, g = v, b = p;
        break;
    case 2:
        r = p, g = v, b = t;
        break;
    case 3:
        r = p, g = q, b = v;
        break;
    case 4:
        r = t, g = p, b = v;
        break;
    default:
        r = v, g = p, b = q;
        break;
    }
    r = std::round(r * 255);
    g = std::round(g * 255);
    b = std::round(b * 255);
}

void renderColorWheel(cv::Mat& wheel, int width, int height, double radius, int zoom)
{
    wheel.create(height, width, CV_8UC3);
    wheel.setTo(cv::Scalar::all(0));
    const int cx = width / 2;
    const int cy = height / 2;
    for (int y = 0; y < height; ++y) {
        auto* row = wheel.ptr<cv::Vec3b>(y);
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx;
            const int dy = y - cy;
            const double d = std::max(0.0, std::sqrt(static_cast<double>(dx * dx + dy * dy)) / radius);
            if (d > 1.0)
                continue;
            // The hue that plotPoint puts at this place.
            const double hue = (std::atan2(static_cast<double>(dx), static_cast<double>(dy)) + CV_PI) / (2 * CV_PI);
            double r, g, b;
            hsvToRgb(hue, zoom == 1 ? d : saturationAtFraction(d, zoom), d * 0.5, r, g, b);
            row[x] = cv::Vec3b(static_cast<uchar>(std::min(r, 255.0)), static_cast<uchar>(std::min(g, 255.0)),
                static_cast<uchar>(std::min(b, 255.0)));
        }
    }
    cv::GaussianBlur(wheel, wheel, cv::Size(3, 3), 0, 0, cv::BORDER_DEFAULT);
}

void frameToHsv(const cv::Mat& frameBgra, cv::Mat& rgbBytes, cv::Mat& rgbFloat, cv::Mat& colorImage)
{
    cv::cvtColor(frameBgra, rgbBytes, cv::COLOR_BGRA2RGB);
    rgbBytes.convertTo(rgbFloat, CV_32FC3, kFrameByteToUnit, 0);
    cv::cvtColor(rgbFloat, colorImage, cv::COLOR_RGB2HSV);
}

bool countsOnScope(float saturation, float value)
{
    return value > 0.1 || (value >= 0.01 && saturation > 0.05);
}

float pixelWeight(int pixelCount)
{
    if (pixelCount <= 0)
        return 0.0f;
    return 1000.0f / static_cast<float>(pixelCount);
}

void accumulateHsv(const cv::Mat& colorImage, int size, double radius, float weight, cv::Mat& cells, int zoom)
{
    cells.create(size, size, CV_32FC1);
    cells.setTo(cv::Scalar::all(0));
    const int half = size / 2;
    float* cellData = cells.ptr<float>();

    // Captures are full of flat areas: neighbours with the same hue and
    // saturation land on the same cell, so the trigonometry runs once for them.
    float lastHue = std::numeric_limits<float>::quiet_NaN();
    float lastSaturation = lastHue;
    int lastCell = -1;
    for (int y = 0; y < colorImage.rows; ++y) {
        const float* hsv = colorImage.ptr<float>(y);
        for (int x = 0; x < colorImage.cols; ++x, hsv += 3) {
            const float h = hsv[0];
            const float s = hsv[1];
            if (!countsOnScope(s, hsv[2]))
                continue;
            if (!(h == lastHue && s == lastSaturation)) {
                const cv::Point p = plotPoint(half, h * kDegreesToRadians, plottedSaturation(s, zoom) * radius);
                lastCell = (p.x >= 0 && p.y >= 0 && p.x < size && p.y < size) ? p.y * size + p.x : -1;
                lastHue = h;
                lastSaturation = s;
            }
            if (lastCell >= 0)
                cellData[lastCell] = static_cast<float>(static_cast<double>(cellData[lastCell]) + weight);
        }
    }
}

void smoothCells(cv::Mat& cells, cv::Mat& blurred)
{
    cv::GaussianBlur(cells, blurred, cv::Size(3, 3), 1.0, 0, cv::BORDER_DEFAULT);
    cv::add(cells, blurred, cells);
    cv::normalize(cells, cells, 0, 1, cv::NORM_MINMAX);
}

void brightenScope(cv::Mat& scope, const cv::Mat& cells)
{
    CV_Assert(scope.size() == cells.size() && scope.type() == CV_8UC3 && cells.type() == CV_32FC1);
    for (int y = 0; y < scope.rows; ++y) {
        const float* cell = cells.ptr<float>(y);
        uchar* pixel = scope.ptr<uchar>(y);
        for (int x = 0; x < scope.cols; ++x, pixel += 3) {
            // An empty cell gives k = 1 exactly, which leaves the wheel as it is.
            if (cell[x] == 0.0f)
                continue;
            const double k = liftFactor(cell[x]);
            pixel[0] = lifted(pixel[0], k);
            pixel[1] = lifted(pixel[1], k);
            pixel[2] = lifted(pixel[2], k);
        }
    }
}

void drawPointerMarker(cv::Mat& scope, const cv::Mat& colorImage, int cursorX, int cursorY, double radius, int zoom)
{
    if (cursorX < 0 || cursorY < 0 || cursorX >= colorImage.cols || cursorY >= colorImage.rows)
        return;
    const cv::Vec3f& hsv = colorImage.at<cv::Vec3f>(cursorY, cursorX);
    drawPointerMarkerFor(scope, hsv[0], hsv[1], radius, zoom);
}

void drawPointerMarkerFor(cv::Mat& scope, float hue, float saturation, double radius, int zoom, ChangedSpans* painted)
{
    // No brightness test: dark and grey pixels mark the centre.
    const cv::Point p
        = plotPoint(scope.cols / 2, hue * kDegreesToRadians, plottedSaturation(saturation, zoom) * radius);
    if (p.x < 0 || p.y < 0 || p.x >= scope.cols || p.y >= scope.rows)
        return;
    const cv::Vec3b red(255, 0, 0);
    if (painted) {
        painted->add(cv::Rect(p.x, p.y - 6, 1, 13));
        painted->add(cv::Rect(p.x - 6, p.y, 13, 1));
    }
    for (int j = -6; j <= 6; ++j) {
        paintIfInside(scope, p.x, p.y + j, red);
        paintIfInside(scope, p.x + j, p.y, red);
    }
}

void drawDominantHueLines(
    cv::Mat& scope, const std::vector<float>& hues, int count, double radius, ChangedSpans* painted)
{
    const int half = scope.cols / 2;
    const double length = lineLength(radius);
    const int lines = std::min(count, static_cast<int>(hues.size()));
    for (int i = 0; i < lines; ++i) {
        // Half a turn on, and the sign flipped below, ends up where that hue is plotted.
        const float turns = static_cast<float>(hues[i] + 0.5);
        const cv::Point end = lineEnd(half, turns, length);
        cv::line(scope, cv::Point(half, half), end, kDominantHueColor, 1, cv::LINE_AA, 0);
        if (painted)
            painted->addLine(cv::Point(half, half), end);
    }
}

void drawSkinToneLine(cv::Mat& scope, double radius, ChangedSpans* painted)
{
    const int half = scope.cols / 2;
    const cv::Point end = plotPoint(half, kSkinToneAngle, lineLength(radius));
    cv::line(scope, cv::Point(half, half), end, kSkinToneColor, 1, cv::LINE_AA, 0);
    if (painted)
        painted->addLine(cv::Point(half, half), end);
}

void highlightMatchingHues(
    cv::Mat& frameBgra, const cv::Mat& colorImage, float hoverHue, double hoverSaturation, int zoom)
{
    // A colour image left over from a frame of another size must not be read past its end.
    if (frameBgra.size() != colorImage.size() || frameBgra.type() != CV_8UC4 || colorImage.type() != CV_32FC3)
        return;
    std::vector<int> pixels;
    matchingHuePixels(colorImage, hoverHue, hoverSaturation, pixels, zoom);
    paintHighlight(frameBgra, pixels);
}

void matchingHuePixels(
    const cv::Mat& colorImage, float hoverHue, double hoverSaturation, std::vector<int>& pixels, int zoom)
{
    pixels.clear();
    if (colorImage.type() != CV_32FC3)
        return;
    const float p = hoverHue;
    const float pointedSaturation = static_cast<float>(hoverSaturation);
    for (int y = 0; y < colorImage.rows; ++y) {
        const float* hsv = colorImage.ptr<float>(y);
        for (int x = 0; x < colorImage.cols; ++x, hsv += 3) {
            // The pixel's hue in turns, moved half a turn the same way as the pointed direction.
            const float h = hsv[0] / 360.0f - 0.5f;
            const float dh = p > h ? std::min(p - h, 1 - p + h) : -std::min(h - p, 1 - h + p);
            // At 1x the pixel's own saturation; else where it is plotted.
            const float plotted = zoom == 1 ? hsv[1] : static_cast<float>(plottedSaturation(hsv[1], zoom));
            const float ds = plotted - pointedSaturation;
            if (ds * ds + dh * dh < 0.001)
                pixels.push_back(y * colorImage.cols + x);
        }
    }
}

void paintHighlight(cv::Mat& frameBgra, const std::vector<int>& pixels, FramePaint* paint)
{
    CV_Assert(frameBgra.type() == CV_8UC4 && frameBgra.isContinuous());
    uchar* data = frameBgra.data;
    const int total = static_cast<int>(frameBgra.total());
    for (int index : pixels) {
        if (index < 0 || index >= total)
            continue;
        if (paint) {
            paint->paintRed(frameBgra, index);
            continue;
        }
        uchar* pixel = data + static_cast<size_t>(index) * 4;
        pixel[0] = 0;
        pixel[1] = 0;
        pixel[2] = 255;
        pixel[3] = 255;
    }
}

cv::Rect skinToneLineArea(int size, double radius)
{
    const int half = size / 2;
    const cv::Point end = plotPoint(half, kSkinToneAngle, lineLength(radius));
    // A smoothed line reaches a pixel beyond its ends on every side.
    return cv::Rect(cv::Point(std::min(half, end.x) - 2, std::min(half, end.y) - 2),
               cv::Point(std::max(half, end.x) + 3, std::max(half, end.y) + 3))
        & cv::Rect(0, 0, size, size);
}

namespace reference {

cv::Mat colorWheel(int width, int height, double radius)
{
    cv::Mat wheel = cv::Mat::zeros(height, width, CV_8UC3);
    const int cx = width / 2;
    const int cy = height / 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double d = std::sqrt(std::pow(x - cx, 2.0) + std::pow(y - cy, 2.0)) / radius;
            if (d < 0)
                d = 0;
            if (d > 1.0) {
                wheel.at<cv::Vec3b>(y, x) = cv::Vec3b(0, 0, 0);
                continue;
            }
            const double hue = (std::atan2(x - cx, y - cy) + CV_PI) / (2 * CV_PI);
            double r, g, b;
            hsvToRgb(hue, d, d * 0.5, r, g, b);
            r = r > 255.0 ? 255.0 : r;
            g = g > 255.0 ? 255.0 : g;
            b = b > 255.0 ? 255.0 : b;
            wheel.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(r), static_cast<uchar>(g), static_cast<uchar>(b));
        }
    }
    cv::GaussianBlur(wheel, wheel, cv::Size(3, 3), 0, 0, cv::BORDER_DEFAULT);
    return wheel;
}

cv::Mat vectorscopePlot(const cv::Mat& frameBgra, const cv::Mat& wheel, double radius, cv::Mat& colorImage, int zoom)
{
    cv::Mat rgb;
    cv::cvtColor(frameBgra, rgb, cv::COLOR_BGRA2RGB);
    rgb.convertTo(rgb, CV_32FC3, kFrameByteToUnit, 0);
    cv::cvtColor(rgb, colorImage, cv::COLOR_RGB2HSV);

    const int size = wheel.cols;
    const int half = size / 2;
    cv::Mat cells = cv::Mat::zeros(size, size, CV_32FC1);
    cv::Mat scope = wheel.clone();
    const float weight = 1000.0f / static_cast<float>(frameBgra.rows * frameBgra.cols);

    for (int y = 0; y < colorImage.rows; ++y) {
        for (int x = 0; x < colorImage.cols; ++x) {
            const cv::Vec3f hsv = colorImage.at<cv::Vec3f>(y, x);
            const float h = hsv[0], s = hsv[1], v = hsv[2];
            if (!(v > 0.1 || (v >= 0.01 && s > 0.05)))
                continue;
            const double distance = std::min(1.0, static_cast<double>(s) * zoom) * radius;
            const int px = half - static_cast<int>(std::round(std::sin(h * 0.017453292519943295) * distance));
            const int py = half - static_cast<int>(std::round(std::cos(h * 0.017453292519943295) * distance));
            if (px >= 0 && px < size && py >= 0 && py < size) {
                const double sum = static_cast<double>(cells.at<float>(py, px)) + static_cast<double>(weight);
                cells.at<float>(py, px) = static_cast<float>(sum);
            }
        }
    }

    cv::Mat blurred;
    cv::GaussianBlur(cells, blurred, cv::Size(3, 3), 1.0, 0, cv::BORDER_DEFAULT);
    cv::add(cells, blurred, cells);
    cv::normalize(cells, cells, 0, 1, cv::NORM_MINMAX);

    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float a = 2.0f * powf(cells.at<float>(y, x), 0.3f);
            const double k = std::max(0.0, 1.0 - a);
            cv::Vec3b& pixel = scope.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<uchar>(static_cast<int>(255.0 - (255 - pixel[c]) * k));
        }
    }
    return scope;
}

} // namespace reference

} // namespace scopes
