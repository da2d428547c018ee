#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Where a scope picture may differ from the last one: what the plotter
// changed and what the overlays painted, so that a cycle touches only that.
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

// The rows in which a B, G, R, A frame differs from `kept` (same size), when
// at most a quarter of them do, which makes following those rows the cheaper
// way; false when more do.
bool fewRowsDiffer(const cv::Mat& frameBgra, const cv::Mat& kept, std::vector<int>& rows);

} // namespace scopes
