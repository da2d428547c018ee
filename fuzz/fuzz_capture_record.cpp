// A capture record from config.ini, all the way to the pixels it makes the
// program read: parsed as start-up parses it, then captured as the capture
// cycle captures it, on a desktop of two small monitors. AddressSanitizer
// stops any read outside the monitor table or the screen picture.
#include "apps/AppsFormat.h"
#include "capture/ScreenService.h"
#include "platform/memory/MemoryDesktop.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    platform::MemoryDesktop& desktop = platform::memoryDesktop();
    desktop.reset(64, 48, cv::Scalar(10, 20, 30));
    desktop.monitorTable = { { 0, 0, 40, 48 }, { 40, 8, 64, 40 } };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The window size the settings allow: 150 to 600 pixels.
    const int windowSize = 150 + data[0] * 450 / 255;
    const QString record = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1));

    int adapter = 0;
    CaptureRect rect { -1, -1, -1, -1 };
    if (parseCaptureRecord(record, adapter, rect)) {
        int again = 0;
        CaptureRect rectAgain {};
        if (!parseCaptureRecord(formatCaptureRecord(adapter, rect), again, rectAgain) || again != adapter
            || rectAgain != rect)
            std::abort();
        for (const int v : rect)
            if (v < -ScreenService::coordinateLimit || v > ScreenService::coordinateLimit)
                std::abort();
    }

    ScreenService service(false, platform::memoryDesktop());
    const platform::Rect sub { rect[0], rect[1], rect[2], rect[3] };
    cv::Mat frame;
    float scale = 0.0f;
    service.captureScreen(&frame, adapter, sub.left >= 0 ? &sub : nullptr, windowSize, &scale);
    if (frame.cols != windowSize || frame.rows < 1 || frame.type() != CV_8UC4 || !frame.isContinuous())
        std::abort();
    return 0;
}
