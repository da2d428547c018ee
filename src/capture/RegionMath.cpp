#include "capture/RegionMath.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

std::optional<QRect> selectionFromDrag(const QPoint& origin, const QPoint& release)
{
    const int x0 = std::min(origin.x(), release.x());
    const int x1 = std::max(origin.x(), release.x());
    const int y0 = std::min(origin.y(), release.y());
    const int y1 = std::max(origin.y(), release.y());
    const int w = x1 - x0;
    const int h = y1 - y0;
    // 0 / 0 has no aspect; the minimum-box rule would truncate a NaN height.
    if (w == 0 && h == 0)
        return std::nullopt;

    const float ratio = static_cast<float>(h) / static_cast<float>(w);
    if (w >= kMinimumSelectionWidth && ratio <= kMaximumSelectionAspect)
        return QRect(QPoint(x0, y0), QPoint(x1, y1));

    // A zero width gives an infinite ratio, which the cap turns into the tallest box.
    const int height
        = static_cast<int>(static_cast<float>(kMinimumSelectionWidth) * std::min(ratio, kMaximumSelectionAspect));
    return QRect(QPoint(x0, y0), QPoint(x0 + kMinimumSelectionWidth, y0 + height));
}

QPoint clampToPicture(const QPoint& point, const QSize& picture)
{
    if (picture.isEmpty())
        return point;
    return QPoint(std::clamp(point.x(), 0, picture.width() - 1), std::clamp(point.y(), 0, picture.height() - 1));
}

QSize shownScreenshotSize(int columns, int rows)
{
    const int maxWidth = static_cast<int>(columns * kScreenshotScale);
    const int maxHeight = static_cast<int>(rows * kScreenshotScale);
    int width = columns;
    int height = rows;
    if (columns > maxWidth || rows > maxHeight) {
        const float aspect = static_cast<float>(columns) / static_cast<float>(rows);
        if (aspect > static_cast<float>(maxWidth) / static_cast<float>(maxHeight)) {
            width = maxWidth;
            height = static_cast<int>(std::floor(static_cast<float>(maxWidth) / aspect));
        } else {
            height = maxHeight;
            width = static_cast<int>(std::floor(static_cast<float>(maxHeight) * aspect));
        }
    }
    // A one-pixel screenshot (an empty monitor record) has no three-quarter size;
    // cv::resize refuses an empty target.
    return QSize(std::max(width, 1), std::max(height, 1));
}

void scaleScreenshotForDisplay(cv::Mat& screenshot)
{
    const QSize shown = shownScreenshotSize(screenshot.cols, screenshot.rows);
    if (shown.width() == screenshot.cols && shown.height() == screenshot.rows)
        return;
    cv::Mat scaled;
    cv::resize(screenshot, scaled, cv::Size(shown.width(), shown.height()), 0, 0, cv::INTER_LINEAR);
    screenshot = scaled;
}

QRect labelToMonitor(const QRect& labelSelection, double pixelRatio)
{
    // Multiplying first keeps ratio 1 exactly the plain v / 0.75.
    auto scaled = [pixelRatio](int v) { return static_cast<int>(v * pixelRatio / kScreenshotScale); };
    // The record keeps the inclusive right and bottom, and the capture reads
    // right - left by bottom - top: a side of 1 (a flat drag's single row,
    // truncated) would be captured as 0, which means the whole monitor. Below
    // 0.75 screenshot pixels per label pixel a side would even truncate to 0.
    return QRect(scaled(labelSelection.left()), scaled(labelSelection.top()),
        std::max(kSmallestMonitorSide, scaled(labelSelection.width())),
        std::max(kSmallestMonitorSide, scaled(labelSelection.height())));
}
