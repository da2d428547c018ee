#pragma once

#include <opencv2/core.hpp>

#include <vector>

// The scope picture in the form the window paints without converting it:
// four bytes a pixel, B, G, R, 255 in memory (QImage::Format_RGB32 on a
// little-endian machine), the same R, G and B as the scope's own picture;
// and the bookkeeping that lets a cycle touch only what changed.
namespace scopes {

// Per row of a picture: the columns that may have changed, as one run (the
// hull of everything added to that row).
class ChangedSpans {
public:
    struct Span {
        int x0, x1; // inclusive; empty when x0 > x1
    };

    // `rows` x `cols`, nothing changed; or all of it.
    void none(int rows, int cols);
    void all(int rows, int cols);
    // Columns x0..x1 of row y, cut to the picture.
    void add(int y, int x0, int x1);
    void add(const cv::Rect& area);
    void add(const ChangedSpans& other);
    // Where a smoothed line from a to b (thickness 1) paints: the pixels
    // within two of the ideal line, so the smoothing's fringe and ends are in.
    void addLine(cv::Point a, cv::Point b);

    int rows() const { return static_cast<int>(spans.size()); }
    int cols() const { return width; }
    Span row(int y) const { return spans[static_cast<size_t>(y)]; }
    bool any() const { return first <= last; }

private:
    std::vector<Span> spans;
    int width = 0;
    int first = 0, last = -1; // the rows with a run
};

// to := from where `where` says (same size and type, continuous or not).
void copySpans(const cv::Mat& from, cv::Mat& to, const ChangedSpans& where);

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
