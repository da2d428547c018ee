#pragma once

#include "scopes/ChangedSpans.h"

#include <opencv2/core.hpp>

#include <vector>

// The scope picture in the form the window paints without converting it:
// four bytes a pixel, B, G, R, 255 in memory (QImage::Format_RGB32 on a
// little-endian machine), the same R, G and B as the scope's own picture,
// brought up to date only where the scope changed.
namespace scopes {

// shown := `rgb` (R, G, B bytes) as B, G, R, 255, in the same buffer while
// the size stays; returns the band of rows whose bytes changed (full width;
// empty when none). A new size gives a new buffer, all of it changed.
cv::Rect showAsBgrx(const cv::Mat& rgb, cv::Mat& shown);
// The same over `where` only: the rest of `shown` is taken to hold `rgb`
// already (unless the size changed: then all of it is written). Returns the
// smallest rectangle holding every changed byte; with `bands`, also one such
// rectangle per band of kShownBandRows rows that changed, which together
// cover far fewer pixels where changes lie scattered.
constexpr int kShownBandRows = 16;
cv::Rect showAsBgrx(
    const cv::Mat& rgb, cv::Mat& shown, const ChangedSpans& where, std::vector<cv::Rect>* bands = nullptr);

} // namespace scopes
