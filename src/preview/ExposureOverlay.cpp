#include "preview/ExposureOverlay.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace scopes {

namespace {

std::uint32_t bgrx(ScreenColour c)
{
    const std::uint8_t bytes[4] = { c.blue, c.green, c.red, 255 };
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

} // namespace

ExposureMode nextExposureMode(ExposureMode mode)
{
    switch (mode) {
    case ExposureMode::Off:
        return ExposureMode::Clipping;
    case ExposureMode::Clipping:
        return ExposureMode::FalseColour;
    case ExposureMode::FalseColour:
        break;
    }
    return ExposureMode::Off;
}

const char* exposureModeText(ExposureMode mode)
{
    switch (mode) {
    case ExposureMode::Clipping:
        return "clipping";
    case ExposureMode::FalseColour:
        return "false_colour";
    case ExposureMode::Off:
        break;
    }
    return "off";
}

ExposureMode exposureModeFromText(const char* text)
{
    for (const ExposureMode mode : { ExposureMode::Clipping, ExposureMode::FalseColour })
        if (std::strcmp(text, exposureModeText(mode)) == 0)
            return mode;
    return ExposureMode::Off;
}

// The lumas of the bands, in 8-bit code values (0 to 255). 18 % reflectance
// is sRGB 118, and light skin lies about a stop above it (36 %, sRGB 162).
const std::array<ExposureBand, 5>& falseColourBands()
{
    static const std::array<ExposureBand, 5> bands { {
        { "very dark", 0, 10, kBlackColour },
        { "18% grey", 113, 123, { 0, 200, 0 } },
        { "skin", 155, 169, { 255, 150, 200 } },
        { "near clip", 245, 252, { 255, 230, 0 } },
        { "clipped", 253, 255, kClippedColour },
    } };
    return bands;
}

ExposurePainter::ExposurePainter()
{
    for (int luma = 0; luma < 256; ++luma) {
        const auto grey = static_cast<std::uint8_t>(luma);
        lumaColour[luma] = bgrx({ grey, grey, grey });
    }
    for (const ExposureBand& band : falseColourBands())
        for (int luma = band.first; luma <= band.last; ++luma)
            lumaColour[luma] = bgrx(band.colour);
    clippedWord = bgrx(kClippedColour);
    blackWord = bgrx(kBlackColour);
}

cv::Range ExposurePainter::paint(const cv::Mat& frame, cv::Mat& painted, ExposureMode mode, cv::Range rows) const
{
    CV_Assert(frame.type() == CV_8UC4 && frame.isContinuous());
    if (painted.size() != frame.size() || painted.type() != frame.type() || !painted.isContinuous()) {
        painted.create(frame.size(), frame.type());
        rows = cv::Range(0, frame.rows);
    }
    rows = cv::Range(std::max(0, rows.start), std::min(frame.rows, rows.end));
    if (rows.empty() || mode == ExposureMode::Off)
        return rows.empty() ? cv::Range(0, 0) : rows;

    const size_t first = static_cast<size_t>(rows.start) * frame.cols;
    const size_t count = static_cast<size_t>(rows.size()) * frame.cols;
    const std::uint8_t* in = frame.data + first * 4;
    std::uint8_t* out = painted.data + first * 4;
    // Pixels as little-endian words 0xAARRGGBB; one loop per view, without
    // branches, so that the compiler can run the clipping test on vectors.
    if (mode == ExposureMode::FalseColour) {
        for (size_t i = 0; i < count; ++i) {
            std::uint32_t word;
            std::memcpy(&word, in + i * 4, 4);
            word = pixel(word, ExposureMode::FalseColour);
            std::memcpy(out + i * 4, &word, 4);
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            std::uint32_t word;
            std::memcpy(&word, in + i * 4, 4);
            word = pixel(word, ExposureMode::Clipping);
            std::memcpy(out + i * 4, &word, 4);
        }
    }
    return rows;
}

} // namespace scopes
