#include "platform/Desktop.h"

#include <cstdint>

namespace platform {

// Mirrors what the X server's nearest filter does under a RENDER scale
// transform: the scale is a 16.16 fixed-point number, the destination pixel
// is sampled at its centre, the product is rounded back to 16.16, and the
// nearest filter takes the pixel whose area holds the point, biased down by
// one fixed-point unit.
int nearestSourceIndex(int i, int sourceLength, int outLength)
{
    if (outLength <= 0 || sourceLength <= 0)
        return 0;
    const std::int64_t scale = static_cast<std::int64_t>(static_cast<double>(sourceLength) / outLength * 65536.0);
    const std::int64_t centre = static_cast<std::int64_t>(i) * 65536 + 32768;
    const std::int64_t point = (centre * scale + 0x8000) >> 16;
    std::int64_t index = (point - 1) >> 16;
    if (index < 0)
        index = 0;
    if (index >= sourceLength)
        index = sourceLength - 1;
    return static_cast<int>(index);
}

} // namespace platform
