#include "capture/ScreenService.h"

#include "shell/Log.h"

#include <algorithm>
#include <cstdint>

namespace {

// No real desktop is larger; anything beyond comes from a damaged settings
// file and must not turn into a huge allocation or an overflowing sum.
constexpr int kCoordinateLimit = 1 << 20;
constexpr int kMaxOutputSide = 16384;
// The tallest region a selection can store is four times as high as wide; a
// taller record comes from a damaged file and would make every cycle slow.
constexpr int kMaxScaledAspect = 4;

int clampCoordinate(int v)
{
    return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

} // namespace

ScreenService::ScreenService(bool debugMode, platform::Desktop& desktop)
    : debugMode(debugMode)
    , desktop(desktop)
{
    log("scrsvc create");
    log("scrsvc A");
    monitorTable = desktop.monitors();
    monitorCount = static_cast<int>(monitorTable.size());
    log("scrsvc B");
    log("scrsvc C");
    log("scrsvc D");
}

void ScreenService::refreshMonitors()
{
    monitorTable = desktop.monitors();
    monitorCount = static_cast<int>(monitorTable.size());
}

void ScreenService::log(const char* text) const
{
    if (debugMode)
        writeLog(QString::fromLatin1(text));
}

void ScreenService::captureScreen(cv::Mat* output, int monitorIndex, const platform::Rect* subRect, int targetWidth,
                                  float* scale)
{
    log("scrsvc scr A");
    log("scrsvc scr B");
    log("scrsvc scr C");
    log("scrsvc scr D");

    // A stored index for a monitor that is gone falls back to the first one.
    platform::Rect monitor;
    if (monitorIndex >= 0 && monitorIndex < monitorCount)
        monitor = monitorTable[monitorIndex];
    else if (monitorCount > 0)
        monitor = monitorTable[0];
    platform::Rect source = monitor;
    log("scrsvc scr E");

    // An empty or inverted rectangle cannot be captured; it means the whole monitor.
    if (subRect && subRect->left >= 0) {
        const platform::Rect sub{clampCoordinate(subRect->left), clampCoordinate(subRect->top),
                                 clampCoordinate(subRect->right), clampCoordinate(subRect->bottom)};
        const bool wholeMonitor = sub == platform::Rect{0, 0, monitor.width(), monitor.height()};
        if (!wholeMonitor && sub.width() > 0 && sub.height() > 0)
            source = platform::Rect{monitor.left + sub.left, monitor.top + sub.top, monitor.left + sub.right,
                                    monitor.top + sub.bottom};
    }

    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    int outWidth = sourceWidth;
    int outHeight = sourceHeight;
    if (scale)
        *scale = sourceWidth > 0 ? static_cast<float>(targetWidth) / static_cast<float>(sourceWidth) : 0.0f;
    if (targetWidth > 0 && scale) {
        outWidth = targetWidth;
        outHeight = static_cast<int>(static_cast<float>(sourceHeight) * *scale);
        outHeight = std::min(outHeight, kMaxScaledAspect * outWidth);
    }
    // Every consumer divides by the pixel count: never hand out an empty frame.
    outWidth = std::clamp(outWidth, 1, kMaxOutputSide);
    outHeight = std::clamp(outHeight, 1, kMaxOutputSide);
    log("scrsvc scr F");

    output->create(outHeight, outWidth, CV_8UC4);
    log("scrsvc scr G");
    log("scrsvc scr H");

    if (sourceWidth > 0 && sourceHeight > 0)
        desktop.copy(source, outWidth, outHeight, output->data);
    else
        output->setTo(cv::Scalar(0, 0, 0, 255));
    log("scrsvc scr I");
    log("scrsvc scr J");
}
