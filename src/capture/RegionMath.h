#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <opencv2/core.hpp>
#include <optional>

// The arithmetic of the region selection window, free of widgets: how a drag
// on the screenshot becomes a selection, how large the screenshot is shown,
// and how a selection on it goes back to monitor pixels.

// The screenshot is shown at three quarters of the monitor's size.
constexpr double kScreenshotScale = 0.75;

// A selection is at least this wide (label pixels; Qt's inclusive rectangle
// makes it one more) and at most this many times as high as it is wide.
constexpr int kMinimumSelectionWidth = 40;
constexpr float kMaximumSelectionAspect = 4.0f;

// The selection made by a drag from `origin` to `release` (label pixels, in
// either direction), Qt's inclusive rectangle convention. A drag narrower than
// kMinimumSelectionWidth or more than kMaximumSelectionAspect times as high as
// wide becomes a box kMinimumSelectionWidth + 1 wide at the drag's top-left
// corner. A press and release at one point is a click, not a selection: no
// result, so a stray click never replaces the region the user stored.
std::optional<QRect> selectionFromDrag(const QPoint& origin, const QPoint& release);

// Keeps a drag point on the shown picture (label pixels): the pointer may
// leave the label while the button is held, and a point left of the picture
// would give a negative left, which the capture record reads as "the whole
// monitor". An empty picture size leaves the point as it is.
QPoint clampToPicture(const QPoint& point, const QSize& picture);

// Size at which a screenshot of columns x rows pixels is shown: fitted into
// three quarters of its own size with the aspect kept (single precision, as
// the shown size has always been computed). Never smaller than 1 x 1.
QSize shownScreenshotSize(int columns, int rows);

// Scales a screenshot (B, G, R, A) to shownScreenshotSize, bilinear.
void scaleScreenshotForDisplay(cv::Mat& screenshot);

// A selection in monitor pixels is never less than this on a side, so the
// stored record captures at least one pixel each way.
constexpr int kSmallestMonitorSide = 2;

// The most rows a stored selection asks the capture for, for a capture
// `width` pixels wide (right - left of the record). On the label a selection
// is at most 4 w + 1 high for w + 1 wide; scaled by any factor, truncated and
// stored with inclusive right and bottom, that stays below 4 width + 8 rows.
// Anything taller comes from a hand-written or damaged record.
constexpr long long tallestSelectionHeight(int width)
{
    return 4LL * width + 7;
}

// A selection on the label (logical pixels, inclusive) in monitor pixels.
// `pixelRatio` is the number of screenshot pixels per logical label pixel
// (the shown pixmap's device pixel ratio); each coordinate and each side is
// scaled by pixelRatio / 0.75 in double precision and truncated, a side to at
// least kSmallestMonitorSide.
QRect labelToMonitor(const QRect& labelSelection, double pixelRatio);
