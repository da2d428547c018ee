#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>

namespace scopes {

// What the preview paints over the captured picture. The scopes, the hover
// highlight and the colour search never see it: they read the frame.
enum class ExposureMode {
    Off,
    Clipping, // any channel at 255, every channel at 0
    FalseColour, // the luma in bands, as cinema cameras' false colour
};

// Off, clipping, false colour, off.
ExposureMode nextExposureMode(ExposureMode mode);

// The value config.ini keeps ("off", "clipping", "false_colour"), and back;
// any other text reads as off.
const char* exposureModeText(ExposureMode mode);
ExposureMode exposureModeFromText(const char* text);

// The luma of captured code values: round(0.2126 R + 0.7152 G + 0.0722 B),
// half up, in whole numbers (the weights sum to 1, so a grey keeps its value
// and white is 255). On the bytes as captured: no transfer curve undone.
constexpr int lumaOf(int red, int green, int blue)
{
    return (2126 * red + 7152 * green + 722 * blue + 5000) / 10000;
}

// A colour as the screen shows it.
struct ScreenColour {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// One band of the false-colour scale: the lumas from `first` to `last`
// (inclusive) are painted `colour`; every luma in no band is shown as the
// grey of that luma.
struct ExposureBand {
    const char* name; // as the legend names it
    int first;
    int last;
    ScreenColour colour;
};

// Darkest first.
const std::array<ExposureBand, 5>& falseColourBands();

// The clipping marks. Each has a channel at 255, so no pixel the clipping
// view leaves as captured can show either.
constexpr ScreenColour kClippedColour { 255, 0, 255 }; // any channel at 255: magenta
constexpr ScreenColour kBlackColour { 0, 64, 255 }; // every channel at 0: blue

// Paints the exposure view of `frame` (B, G, R, A, continuous) into
// `painted` (B, G, R, 255 where it paints; the captured pixel, fourth byte
// included, where the clipping view leaves it), over the rows `rows` only.
// `painted` is made the frame's size and type when it is not; then every
// row is painted. Nothing is allocated otherwise. Not for ExposureMode::Off.
class ExposurePainter {
public:
    ExposurePainter();
    // Returns the rows painted: `rows`, or all of them for a new buffer.
    cv::Range paint(const cv::Mat& frame, cv::Mat& painted, ExposureMode mode, cv::Range rows) const;
    // One pixel, B, G, R, A as a little-endian word, as paint() paints it.
    std::uint32_t pixel(std::uint32_t word, ExposureMode mode) const
    {
        if (mode == ExposureMode::FalseColour)
            return lumaColour[static_cast<size_t>(lumaOf(static_cast<int>((word >> 16) & 0xFF),
                static_cast<int>((word >> 8) & 0xFF), static_cast<int>(word & 0xFF)))];
        if (mode == ExposureMode::Off)
            return word;
        const bool anyAt255 = (word & 0xFFu) == 0xFFu || (word & 0xFF00u) == 0xFF00u || (word & 0xFF0000u) == 0xFF0000u;
        const bool allAt0 = (word & 0xFFFFFFu) == 0;
        return anyAt255 ? clippedWord : allAt0 ? blackWord : word;
    }

private:
    std::array<std::uint32_t, 256> lumaColour {}; // luma -> B, G, R, 255 as one little-endian word
    std::uint32_t clippedWord = 0;
    std::uint32_t blackWord = 0;
};

} // namespace scopes
