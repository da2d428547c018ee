#include "palette/Harmony.h"

#include <cmath>

namespace harmony {

namespace {

constexpr double kPi = 3.14159265358979323846;

// 14-decimal values, not exact fractions: the swatch colours follow them
// to the last bit.
constexpr double kSixth = 0.16666666666666;
constexpr double kTwoThirds = 0.66666666666666;
constexpr double kThird = 0.33333333333333;

int toByte(double channel)
{
    return static_cast<int>(std::round(255.0 * channel));
}

} // namespace

double hslChannel(double p, double q, double t)
{
    if (t < 0)
        t += 1;
    if (t > 1)
        t -= 1;
    if (t < kSixth)
        return p + (q - p) * 6 * t;
    if (t < 0.5)
        return q;
    if (t < kTwoThirds)
        return p + (q - p) * (kTwoThirds - t) * 6;
    return p;
}

Rgb hslColor(double hue, float saturation, float lightness)
{
    const double s = saturation;
    const double l = lightness;
    if (s == 0) {
        const int grey = static_cast<int>(std::round(l * 255));
        return Rgb { grey, grey, grey };
    }
    const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
    const double p = 2 * l - q;
    return Rgb { toByte(hslChannel(p, q, hue + kThird)), toByte(hslChannel(p, q, hue)),
        toByte(hslChannel(p, q, hue - kThird)) };
}

double wrapTurn(double turn)
{
    if (turn < 0)
        turn += 1;
    if (turn > 1)
        turn -= 1;
    return turn;
}

double turnFromPoint(int half, double x, double y)
{
    const double dx = half - x;
    const double dy = half - y;
    return (std::atan2(dx, dy) + kPi) / (2 * kPi);
}

cv::Point harmonyEndPoint(int half, double turn, double length, int sign)
{
    const double angle = 2 * kPi * turn;
    const int x = static_cast<int>(std::round(std::sin(angle) * length));
    const int y = static_cast<int>(std::round(std::cos(angle) * length));
    return cv::Point(half + sign * x, half + sign * y);
}

QString colorCode(const Rgb& colour)
{
    return QStringLiteral("#%1%2%3")
        .arg(colour.r, 2, 16, QLatin1Char('0'))
        .arg(colour.g, 2, 16, QLatin1Char('0'))
        .arg(colour.b, 2, 16, QLatin1Char('0'));
}

} // namespace harmony
