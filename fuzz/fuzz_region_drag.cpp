// A drag on the region window's screenshot, from the pointer positions to
// the capture record stored for the application: points kept on the picture,
// the selection, its monitor pixels at any screen scale, and the record's
// text read back. No selection may reach the capture with a size below one
// pixel or a negative left (either would mean "the whole monitor").
#include "apps/AppsFormat.h"
#include "capture/RegionMath.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // The shown screenshot is at most the largest frame the capture makes.
    const QSize picture(input.ConsumeIntegralInRange(0, 16384), input.ConsumeIntegralInRange(0, 16384));
    // Pointer positions: X11 coordinates are 16-bit.
    const QPoint pressed(input.ConsumeIntegral<std::int16_t>(), input.ConsumeIntegral<std::int16_t>());
    const QPoint released(input.ConsumeIntegral<std::int16_t>(), input.ConsumeIntegral<std::int16_t>());
    const double pixelRatio = input.ConsumeFloatingPointInRange(0.5, 4.0);

    const QPoint origin = clampToPicture(pressed, picture);
    const QPoint end = clampToPicture(released, picture);
    const std::optional<QRect> selection = selectionFromDrag(origin, end);
    if (!selection) {
        if (origin != end)
            std::abort();
        return 0;
    }
    if (selection->width() < 1 || selection->height() < 1)
        std::abort();

    const QRect monitor = labelToMonitor(*selection, pixelRatio);
    const CaptureRect stored { monitor.left(), monitor.top(), monitor.right(), monitor.bottom() };
    // The capture reads right - left by bottom - top; 0 would be the whole monitor.
    if (stored[2] - stored[0] < 1 || stored[3] - stored[1] < 1)
        std::abort();
    if (!picture.isEmpty() && (stored[0] < 0 || stored[1] < 0))
        std::abort();

    int adapter = 0;
    CaptureRect read {};
    if (!parseCaptureRecord(formatCaptureRecord(1, stored), adapter, read) || adapter != 1 || read != stored)
        std::abort();
    return 0;
}
