#pragma once

#include "scopes/VectorscopePlot.h"

#include <opencv2/core.hpp>
#include <vector>

// The vectorscope's image arithmetic, free of any widget. Pictures called
// "scope" or "wheel" are 8-bit R, G, B; frames are 8-bit B, G, R, A; the
// colour image is float H (degrees, [0, 360)), S and V ([0, 1]).
//
// Geometry: the plot is a square of `size` pixels, half = size / 2 (integer
// division) is its centre on both axes, and `radius` is the distance of full
// saturation. Hue 0 points straight up and hue grows counter-clockwise.
namespace scopes {

class FramePaint;

class ChangedSpans;

constexpr double kDegreesToRadians = 0.017453292519943295;
// Direction of hue 19 degrees, where skin tones of every complexion gather.
constexpr double kSkinToneAngle = 0.33161255787;
// Lines reach a tenth beyond the full-saturation circle; the factor is a float.
constexpr float kLineReach = 1.1f;

// The vectorscope's scales: at zoom z a colour of saturation s is plotted
// where one of min(1, z * s) is at 1x, so the inner part of the wheel fills
// the plot and louder colours stay visible on the rim.
constexpr int kZoomLevels[] = { 1, 2, 4 };
// The next scale after `zoom`, from 4x back to 1x; anything unknown gives 1x.
int nextZoom(int zoom);
// `zoom` when it is one of the scales, else 1.
int validZoom(int zoom);
// The distance from the centre, as a fraction of the radius, at which a
// colour of saturation `saturation` is plotted at `zoom`; exactly
// `saturation` at 1x.
double plottedSaturation(float saturation, int zoom);
// The saturation a colour plotted at `fraction` of the radius has at `zoom`
// (for the rim, the least one drawn there).
double saturationAtFraction(double fraction, int zoom);

// Half away from zero, as the plot geometry rounds.
int roundHalfAway(double value);

// The pixel at `angle` radians and `radius` pixels from the plot centre.
cv::Point plotPoint(int half, double angle, double radius);

// h in turns [0, 1] (1 behaves as 0), s and v in [0, 1]; results are
// 0..255 rounded half away from zero, kept as doubles.
void hsvToRgb(double h, double s, double v, double& r, double& g, double& b);

// The dim colour wheel behind the plot: saturation grows to the rim, value is
// half the distance fraction, black outside `radius`. R, G, B. At `zoom`
// the saturation at a place is the one plotted there: the fraction / zoom.
void renderColorWheel(cv::Mat& wheel, int width, int height, double radius, int zoom = 1);

// frameBgra -> rgbBytes (R, G, B) -> rgbFloat ([0, 1]) -> colorImage (H, S, V).
// All three outputs keep their buffers when the frame size is unchanged.
void frameToHsv(const cv::Mat& frameBgra, cv::Mat& rgbBytes, cv::Mat& rgbFloat, cv::Mat& colorImage);

// Whether a pixel is bright or colourful enough to be plotted: pixels darker
// than 1 % never count, grey ones only above 10 %.
bool countsOnScope(float saturation, float value);

// What one plotted pixel adds to its cell: 1000 spread over the frame.
float pixelWeight(int pixelCount);

// Sets `cells` to size x size zeros (keeping its buffer) and adds `weight`
// to the cell of every counted pixel of `colorImage`, plotted at `zoom`.
void accumulateHsv(const cv::Mat& colorImage, int size, double radius, float weight, cv::Mat& cells, int zoom = 1);

// Softens the cells (cells + a 3x3 blur of them, `blurred` is scratch) and
// scales them to [0, 1].
void smoothCells(cv::Mat& cells, cv::Mat& blurred);

// Lifts every pixel of `scope` towards white by its cell's density; empty
// cells leave the wheel as it is.
void brightenScope(cv::Mat& scope, const cv::Mat& cells);

// A red plus sign with 6-pixel arms where the frame pixel under the pointer
// (cursorX, cursorY in frame pixels) is plotted; nothing when the pointer is
// outside `colorImage`. At `zoom` the marker sits where the pixel is plotted.
void drawPointerMarker(
    cv::Mat& scope, const cv::Mat& colorImage, int cursorX, int cursorY, double radius, int zoom = 1);
// The same for the pixel of hue `hue` (degrees) and saturation `saturation`.
// With `painted`: where it painted is added there.
void drawPointerMarkerFor(
    cv::Mat& scope, float hue, float saturation, double radius, int zoom = 1, ChangedSpans* painted = nullptr);

// Blue lines from the centre towards the first `count` hues (hue fractions
// in [0, 1)); nothing for an empty list.
void drawDominantHueLines(
    cv::Mat& scope, const std::vector<float>& hues, int count, double radius, ChangedSpans* painted = nullptr);

void drawSkinToneLine(cv::Mat& scope, double radius, ChangedSpans* painted = nullptr);

// Paints opaque red (B 0, G 0, R 255, A 255) every frame pixel whose hue and
// saturation lie near the pointed direction `hoverHue` (turns: the pointed
// hue plus half a turn) and distance `hoverSaturation` (fraction of the
// radius). Does nothing unless `colorImage` has the frame's size. At `zoom`
// pixels are compared where they are plotted, so the highlight takes what
// lies around the pointer on the magnified plot (on the rim: every colour
// drawn on the rim there).
void highlightMatchingHues(
    cv::Mat& frameBgra, const cv::Mat& colorImage, float hoverHue, double hoverSaturation, int zoom = 1);

// The same in two steps: which pixels (row-major indices) lie near the
// pointed hue and saturation, which depends on the colour image alone, and
// the painting of those pixels into a frame of the colour image's size
// (with `paint`, keeping what they held so that it can be put back).
void matchingHuePixels(
    const cv::Mat& colorImage, float hoverHue, double hoverSaturation, std::vector<int>& pixels, int zoom = 1);
void paintHighlight(cv::Mat& frameBgra, const std::vector<int>& pixels, FramePaint* paint = nullptr);

// Where drawSkinToneLine paints on a picture `size` wide.
cv::Rect skinToneLineArea(int size, double radius);

// Plain versions of the same arithmetic, written for clarity rather than
// speed and allocating freely: the fast versions above are held to them.
namespace reference {
cv::Mat colorWheel(int width, int height, double radius);
// Returns the plotted picture; `colorImage` receives the frame in H, S, V.
// At `zoom` a colour of saturation s is plotted at min(1, zoom s) of the radius.
cv::Mat vectorscopePlot(
    const cv::Mat& frameBgra, const cv::Mat& wheel, double radius, cv::Mat& colorImage, int zoom = 1);
} // namespace reference

} // namespace scopes
