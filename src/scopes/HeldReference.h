#pragma once

#include <opencv2/core.hpp>

// A scope held as a reference: another picture's scope drawn under the live
// one, in one colour of its own, so that a grade can be matched to it. Pure
// image math on scope pictures (R, G, B) and frames (B, G, R, A).
namespace scopes {

// The reference's colour on screen (R, G, B): a pale cyan, the outline of
// what it plainly lights at full strength, the rest as a tint over the
// empty scope.
inline const cv::Vec3b kReferenceColour(90, 210, 235);

// What a reference puts on a scope picture of one display mode, window size
// and vectorscope scale: the scope with nothing counted on it (the wheel, or
// the Waveform's and Parade's black with its graticule), and per picture
// pixel how strongly the reference is drawn there (0 not at all, 255 its
// outline, in between a tint, clearer where the reference's scope is
// brighter).
struct ReferenceLayer {
    cv::Mat blank; // R, G, B
    cv::Mat strength; // 8-bit, one channel, the picture's size
    bool none() const { return strength.empty(); }
};

// The layer of the scope picture `scopeRgb` drawn for a frame, over the
// picture `emptyRgb` that the same scope shows with nothing counted.
ReferenceLayer referenceLayerOf(const cv::Mat& scopeRgb, const cv::Mat& emptyRgb);

// The layer of the scope of `frameBgra` in `displayMode` (0 Vectorscope, 1
// Waveform, 2 Parade) at `windowSize` and the vectorscope's `zoom`, drawn
// with the same arithmetic as the live scope. The skin-tone line is not
// part of it: the live picture has its own.
ReferenceLayer referenceLayer(const cv::Mat& frameBgra, int displayMode, int windowSize, int zoom);

// The Waveform's and Parade's picture with nothing counted on it.
cv::Mat emptyWaveformPicture(int windowSize);

// Draws `layer` under the live scope picture `scopeRgb`: only where the
// picture still shows the empty scope (no live pixel, no line, no marker).
// A layer made for a picture of another size is left out.
void drawReference(cv::Mat& scopeRgb, const ReferenceLayer& layer);

} // namespace scopes
