#include "capture/ScreenService.h"

#include "capture/RegionMath.h"
#include "shell/Log.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kMaxOutputSide = 16384;

// Keeps the sums below from overflowing, whoever calls.
int clampCoordinate(int v)
{
    return std::clamp(v, -ScreenService::coordinateLimit, ScreenService::coordinateLimit);
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
                                  float* scale, platform::Rect* captured, bool* unchanged)
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

    // A rectangle taller than any selection (a sliver from a damaged file)
    // would make every cycle crawl; its top part is captured, unsqueezed, so
    // rows and columns keep one scale and the pointer lands where it points.
    const bool scaled = targetWidth > 0 && scale;
    if (scaled && source.width() > 0 && source.height() > tallestSelectionHeight(source.width()))
        source.bottom = source.top + static_cast<int>(tallestSelectionHeight(source.width()));

    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    int outWidth = sourceWidth;
    int outHeight = sourceHeight;
    if (scale)
        *scale = sourceWidth > 0 ? static_cast<float>(targetWidth) / static_cast<float>(sourceWidth) : 0.0f;
    if (scaled) {
        outWidth = targetWidth;
        outHeight = static_cast<int>(static_cast<float>(sourceHeight) * *scale);
    }
    // Every consumer divides by the pixel count: never hand out an empty frame.
    outWidth = std::clamp(outWidth, 1, kMaxOutputSide);
    outHeight = std::clamp(outHeight, 1, kMaxOutputSide);
    if (captured)
        *captured = source;
    log("scrsvc scr F");

    output->create(outHeight, outWidth, CV_8UC4);
    log("scrsvc scr G");
    log("scrsvc scr H");

    // A buffer freed and made again may come back at the same address with
    // other bytes: only a caller that keeps its buffer asks for the test, and
    // any other capture ends what the last one proved.
    bool kept = false;
    if (sourceWidth > 0 && sourceHeight > 0) {
        const LastCopy wanted { output->data, source, outWidth, outHeight };
        kept = unchanged && lastCopy.destination == wanted.destination && lastCopy.source == source
            && lastCopy.width == outWidth && lastCopy.height == outHeight
            && desktop.unchangedSinceLastCopy(source, outWidth, outHeight);
        if (!kept) {
            desktop.copy(source, outWidth, outHeight, output->data);
            lastCopy = unchanged ? wanted : LastCopy {};
        }
    } else {
        output->setTo(cv::Scalar(0, 0, 0, 255));
        lastCopy = LastCopy {};
    }
    if (unchanged)
        *unchanged = kept;
    log("scrsvc scr I");
    log("scrsvc scr J");
}
