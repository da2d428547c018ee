#include "platform/wayland/FrameSampling.h"

#include <algorithm>
#include <cstring>

namespace platform::wayland {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixels are read as little-endian words");

std::string frameLayoutProblem(int width, int height, std::int64_t offset, std::int64_t stride, std::int64_t size)
{
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536)
        return "The screen stream sent a picture of an impossible size; it was skipped.";
    if (offset < 0 || stride < std::int64_t(width) * 4 || size <= 0)
        return "The screen stream sent a picture of an unexpected layout; it was skipped.";
    const std::int64_t needed = offset + stride * (height - 1) + std::int64_t(width) * 4;
    if (needed > size)
        return "The screen stream sent a picture smaller than its size says; it was skipped.";
    return {};
}

void fillBlack(std::uint8_t* destination, std::size_t pixels)
{
    static constexpr std::uint8_t black[4] = { 0, 0, 0, 255 };
    for (std::size_t i = 0; i < pixels; ++i)
        std::memcpy(destination + i * 4, black, 4);
}

namespace {

// The frame pixel that shows desktop position `p` of a monitor `length`
// pixels long whose frame is `frameLength` pixels long.
inline int framePixel(int p, int length, int frameLength)
{
    if (length == frameLength)
        return p;
    return static_cast<int>(std::int64_t(p) * frameLength / length);
}

} // namespace

void sampleMonitor(const FrameView& frame, const Rect& monitor, const Rect& source, int outWidth, int outHeight,
    std::uint8_t* destination, std::vector<int>& columns)
{
    if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0 || outWidth <= 0 || outHeight <= 0
        || source.width() <= 0 || source.height() <= 0 || monitor.width() <= 0 || monitor.height() <= 0)
        return;

    // The picked source columns grow with the output column, so the output
    // columns that land on this monitor are one run, [first, last).
    // `columns` holds their frame pixel offsets.
    columns.resize(static_cast<std::size_t>(outWidth));
    int first = outWidth;
    int last = 0;
    for (int i = 0; i < outWidth; ++i) {
        const int x = source.left + nearestSourceIndex(i, source.width(), outWidth);
        if (x < monitor.left || x >= monitor.right)
            continue;
        columns[i] = framePixel(x - monitor.left, monitor.width(), frame.width);
        first = std::min(first, i);
        last = i + 1;
    }
    if (first >= last)
        return;

    const bool rgb = frame.order == PixelOrder::RGBx;
    for (int j = 0; j < outHeight; ++j) {
        const int y = source.top + nearestSourceIndex(j, source.height(), outHeight);
        if (y < monitor.top || y >= monitor.bottom)
            continue;
        const std::uint8_t* row
            = frame.data + std::size_t(framePixel(y - monitor.top, monitor.height(), frame.height)) * frame.stride;
        std::uint8_t* out = destination + (std::size_t(j) * outWidth + first) * 4;
        // Whole pixels at a time: B, G, R, x in memory is x<<24 | R<<16 | G<<8 | B on
        // this little-endian machine; the fourth byte becomes 255.
        if (rgb) {
            for (int i = first; i < last; ++i, out += 4) {
                std::uint32_t v;
                std::memcpy(&v, row + std::size_t(columns[i]) * 4, 4);
                v = ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu) | 0xff000000u;
                std::memcpy(out, &v, 4);
            }
        } else {
            for (int i = first; i < last; ++i, out += 4) {
                std::uint32_t v;
                std::memcpy(&v, row + std::size_t(columns[i]) * 4, 4);
                v |= 0xff000000u;
                std::memcpy(out, &v, 4);
            }
        }
    }
}

} // namespace platform::wayland
