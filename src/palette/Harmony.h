#pragma once

#include <QString>

#include <opencv2/core/types.hpp>

// Colour harmony on the vectorscope: directions in turns (0 to 1) measured
// from the plot centre, HSL swatch colours and their codes. No widget here.
namespace harmony {

// An 8-bit screen colour.
struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// One channel of the HSL-to-RGB conversion. `t` is reduced once into [0, 1];
// the thresholds are the 14-decimal values 0.16666666666666, 0.5 and
// 0.66666666666666, not exact sixths and thirds, so results near them differ
// from a textbook conversion in the last bits (and, after rounding to bytes,
// sometimes by one).
double hslChannel(double p, double q, double t);

// The swatch colour of `hue` (turns; anything in [0, 2) is accepted because
// hslChannel reduces its argument) at the given saturation and lightness,
// both in [0, 1] and widened to double. Channels are rounded half away from zero.
Rgb hslColor(double hue, float saturation, float lightness);

// Adds 1 below 0, then subtracts 1 above 1: one reduction, not a modulo.
double wrapTurn(double turn);

// Direction of the label point (x, y) seen from the plot centre (half, half):
// (atan2(half - x, half - y) + pi) / 2pi. A direction is half a turn away
// from the hue the vectorscope plots there; the centre itself gives 0.5.
double turnFromPoint(int half, double x, double y);

// End point of a harmony line of `length` pixels from the plot centre in the
// direction `turn`: (half + sign * round(sin(2pi turn) * length),
// half + sign * round(cos(2pi turn) * length)). sign -1 gives the mirrored
// point used for the complement.
cv::Point harmonyEndPoint(int half, double turn, double length, int sign = 1);

// "#" and two lower-case, zero-padded hexadecimal digits per channel, R, G, B.
QString colorCode(const Rgb& colour);

} // namespace harmony
