#include "platform/memory/MemoryDesktop.h"

#include <cstring>

namespace platform {

void MemoryDesktop::reset(int width, int height, const cv::Scalar& bgr)
{
    screen.create(height, width, CV_8UC4);
    screen.setTo(cv::Scalar(bgr[0], bgr[1], bgr[2], 255));
    originX = 0;
    originY = 0;
    monitorTable = {Rect{0, 0, width, height}};
    pointerPosition = Point{};
    foregroundWindow = 0;
    windows.clear();
    copyCount = 0;
    problemText.clear();
    access = CaptureAccess{};
    captureRequests = 0;
    requestedToken.clear();
    accessChanged = nullptr;
    pointerIsKnown = true;
    captureReleases = 0;
    tracksChanges = false;
    unchangedAnswers = 0;
    lastCopy = LastCopy {};
    windowFrames.clear();
    watchesChanges = false;
    changeWatches = 0;
    changeWatcher = nullptr;
}

bool MemoryDesktop::watchForChange(std::function<void()> changed)
{
    if (!watchesChanges)
        return false;
    ++changeWatches;
    changeWatcher = std::move(changed);
    return true;
}

void MemoryDesktop::stopWatchingForChange()
{
    changeWatcher = nullptr;
}

void MemoryDesktop::announceChange()
{
    // Taken first: the call may ask again.
    const std::function<void()> changed = std::move(changeWatcher);
    changeWatcher = nullptr;
    if (changed)
        changed();
}

CaptureAccess MemoryDesktop::captureAccess()
{
    return access;
}

void MemoryDesktop::requestCapture(const std::string& token, std::function<void()> changed)
{
    ++captureRequests;
    requestedToken = token;
    accessChanged = std::move(changed);
}

void MemoryDesktop::releaseCapture()
{
    ++captureReleases;
}

bool MemoryDesktop::pointerKnown()
{
    return pointerIsKnown;
}

std::vector<Rect> MemoryDesktop::monitors()
{
    return monitorTable;
}

bool MemoryDesktop::unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight)
{
    const LastCopy& last = lastCopy;
    const bool unchanged = tracksChanges && !last.screen.empty() && last.source == source && last.width == outWidth
        && last.height == outHeight && last.originX == originX && last.originY == originY
        && last.screen.size() == screen.size() && cv::norm(last.screen, screen, cv::NORM_INF) == 0;
    unchangedAnswers += unchanged ? 1 : 0;
    return unchanged;
}

void MemoryDesktop::copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    ++copyCount;
    if (tracksChanges)
        lastCopy = LastCopy { screen.clone(), source, outWidth, outHeight, originX, originY };
    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    for (int y = 0; y < outHeight; ++y) {
        const int sy = source.top + nearestSourceIndex(y, sourceHeight, outHeight) - originY;
        std::uint8_t* out = destination + static_cast<size_t>(y) * outWidth * 4;
        for (int x = 0; x < outWidth; ++x, out += 4) {
            const int sx = source.left + nearestSourceIndex(x, sourceWidth, outWidth) - originX;
            if (sy >= 0 && sy < screen.rows && sx >= 0 && sx < screen.cols) {
                std::memcpy(out, screen.ptr<std::uint8_t>(sy, sx), 4);
                out[3] = 255;
            } else {
                out[0] = out[1] = out[2] = 0;
                out[3] = 255;
            }
        }
    }
}

Point MemoryDesktop::pointer()
{
    return pointerPosition;
}

WindowHandle MemoryDesktop::foreground()
{
    return foregroundWindow;
}

WindowTexts MemoryDesktop::texts(WindowHandle window)
{
    const auto found = windows.find(window);
    return found == windows.end() ? WindowTexts{} : found->second.texts;
}

std::string MemoryDesktop::executable(WindowHandle window)
{
    const auto found = windows.find(window);
    return found == windows.end() ? std::string() : found->second.executable;
}

std::string MemoryDesktop::windowsProblem()
{
    return problemText;
}

MemoryDesktop& memoryDesktop()
{
    static MemoryDesktop instance = [] {
        MemoryDesktop d;
        d.reset(1600, 900);
        return d;
    }();
    return instance;
}

Desktop& desktop()
{
    return memoryDesktop();
}

} // namespace platform

namespace platform {

std::vector<std::uint8_t> MemoryDesktop::monitorProfile(int monitor)
{
    ++profileReads;
    const auto it = profiles.find(monitor);
    return it == profiles.end() ? std::vector<std::uint8_t> {} : it->second;
}

} // namespace platform

namespace platform {

bool MemoryDesktop::windowFrame(WindowHandle window, Rect& frame)
{
    const auto it = windowFrames.find(window);
    if (it == windowFrames.end())
        return false;
    frame = it->second;
    return true;
}

} // namespace platform
