#pragma once

#include "platform/Desktop.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::wayland {

// The byte order of a stream frame's pixels. BGRA and RGBA frames are read
// as BGRx and RGBx: the fourth byte of a captured frame is always 255.
enum class PixelOrder { BGRx, RGBx };

// One frame of a monitor's stream, in memory: `height` rows of `stride`
// bytes, each pixel four bytes in `order`.
struct FrameView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelOrder order = PixelOrder::BGRx;
};

// Why a frame with this layout cannot be read safely (a clear text for the
// user), or empty when it can: `offset` and `stride` as the stream's chunk
// gives them, `size` the bytes of the buffer that are mapped.
std::string frameLayoutProblem(int width, int height, std::int64_t offset, std::int64_t stride, std::int64_t size);

// Nearest-neighbour copy of the desktop rectangle `source` to an
// outWidth x outHeight picture (B, G, R, 255, rows top-down), picking the
// source pixels platform::nearestSourceIndex picks, so every back-end gives
// the same bytes for the same screen. Only the output pixels whose desktop
// position lies on `monitor` are written, from `frame`, which shows that
// monitor (a frame of another size than the monitor is stretched over it):
// all of them when `source` lies on the monitor; otherwise the caller clears
// the picture to black first and calls this once per monitor. `columns` is
// scratch space, reused between calls.
void sampleMonitor(const FrameView& frame, const Rect& monitor, const Rect& source, int outWidth, int outHeight,
    std::uint8_t* destination, std::vector<int>& columns);

// Fills a picture of `pixels` pixels with opaque black.
void fillBlack(std::uint8_t* destination, std::size_t pixels);

} // namespace platform::wayland
