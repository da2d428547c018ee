#include "scopes/HeldReference.h"

#include "scopes/StillScope.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/VectorscopePlot.h"
#include "scopes/WaveformMath.h"

#include <algorithm>

namespace scopes {

namespace {

// The inside is tinted from faint (where the reference's scope is barely
// lit: the stray cells of noise) to clear; where it is plainly lit (lifted
// at least kSolid from the empty scope) its edge is outlined at full
// strength, which marks the shape without outlining every stray cell.
constexpr int kFaintest = 40;
constexpr int kClearest = 170;
constexpr int kSolid = 48;
constexpr uchar kOutline = 255;

} // namespace

ReferenceLayer referenceLayerOf(const cv::Mat& scopeRgb, const cv::Mat& emptyRgb)
{
    CV_Assert(scopeRgb.type() == CV_8UC3 && emptyRgb.type() == CV_8UC3 && scopeRgb.size() == emptyRgb.size());
    const int rows = scopeRgb.rows, cols = scopeRgb.cols;
    // How far each pixel was lifted from the empty scope, 0 where nothing lit it.
    cv::Mat lift(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y) {
        const cv::Vec3b* lit = scopeRgb.ptr<cv::Vec3b>(y);
        const cv::Vec3b* none = emptyRgb.ptr<cv::Vec3b>(y);
        uchar* out = lift.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x) {
            int most = 0;
            for (int c = 0; c < 3; ++c)
                most = std::max(most, std::abs(int(lit[x][c]) - int(none[x][c])));
            out[x] = static_cast<uchar>(most);
        }
    }
    const auto solid = [&](int x, int y) { return lift.ptr<uchar>(y)[x] >= kSolid; };
    ReferenceLayer layer;
    layer.blank = emptyRgb.clone();
    layer.strength = cv::Mat::zeros(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y) {
        const uchar* here = lift.ptr<uchar>(y);
        uchar* out = layer.strength.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x) {
            if (here[x] == 0)
                continue;
            // On the outline: a plainly lit pixel beside one that is not, or on the picture's edge.
            const bool edge = solid(x, y)
                && (x == 0 || y == 0 || x == cols - 1 || y == rows - 1 || !solid(x - 1, y) || !solid(x + 1, y)
                    || !solid(x, y - 1) || !solid(x, y + 1));
            out[x] = edge ? kOutline : static_cast<uchar>(kFaintest + here[x] * (kClearest - kFaintest) / 255);
        }
    }
    return layer;
}

cv::Mat emptyWaveformPicture(int windowSize)
{
    cv::Mat picture = cv::Mat::zeros(waveformHeight(windowSize), windowSize, CV_8UC3);
    applyGraticule(picture);
    return picture;
}

ReferenceLayer referenceLayer(const cv::Mat& frameBgra, int displayMode, int windowSize, int zoom)
{
    if (frameBgra.empty())
        return {};
    if (displayMode == 1 || displayMode == 2) {
        WaveformBuffers buffers;
        cv::Mat scope;
        renderWaveform(frameBgra, windowSize, displayMode == 2, buffers, scope);
        return referenceLayerOf(scope, emptyWaveformPicture(windowSize));
    }
    const double radius = (windowSize / 2) * 0.75;
    cv::Mat wheel;
    renderColorWheel(wheel, windowSize, windowSize, radius, validZoom(zoom));
    VectorscopePlotter plotter;
    const cv::Mat scope = plotter.plot(frameBgra, wheel, radius, {}, validZoom(zoom));
    return referenceLayerOf(scope, wheel);
}

void drawReference(cv::Mat& scopeRgb, const ReferenceLayer& layer)
{
    if (layer.none() || scopeRgb.type() != CV_8UC3 || scopeRgb.size() != layer.strength.size()
        || layer.blank.size() != layer.strength.size())
        return;
    const int rows = scopeRgb.rows, cols = scopeRgb.cols;
    for (int y = 0; y < rows; ++y) {
        cv::Vec3b* out = scopeRgb.ptr<cv::Vec3b>(y);
        const cv::Vec3b* none = layer.blank.ptr<cv::Vec3b>(y);
        const uchar* strength = layer.strength.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x) {
            if (strength[x] == 0 || out[x] != none[x])
                continue;
            const int a = strength[x];
            for (int c = 0; c < 3; ++c)
                out[x][c] = static_cast<uchar>((none[x][c] * (255 - a) + kReferenceColour[c] * a + 127) / 255);
        }
    }
}

} // namespace scopes
