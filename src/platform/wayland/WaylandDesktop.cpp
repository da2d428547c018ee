#include "platform/wayland/WaylandDesktop.h"

#include "platform/wayland/FrameSampling.h"
#include "platform/wayland/PipeWireCapture.h"
#include "platform/wayland/ScreenCastPortal.h"
#include "platform/wayland/XWaylandFrames.h"
#include "platform/wayland/windows/WaylandWindows.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <utility>
#include <vector>

namespace platform {

using namespace wayland;

namespace {

// How long PipeWire may take to agree on a format with every stream.
constexpr int kStreamTimeout = 10000;

const char* const kAgain = " Press Start to share the screen again.";

} // namespace

struct WaylandDesktop::State {
    // Receives, on the GUI thread, what the PipeWire thread posts.
    QObject notifier;
    ScreenCastPortal portal;
    std::unique_ptr<PipeWireCapture> capture;
    WaylandWindows windows;
    XWaylandFrames ownWindows;
    QTimer streamTimer;

    CaptureAccess access;
    std::function<void()> changed;
    QVector<SharedMonitor> shared;
    bool cursorMetadata = false;
    std::vector<Rect> monitorRects; // desktop pixels, in the portal's stream order
    std::vector<int> columns; // scratch space of copy()

    // What the last copy() read: with these frames unchanged, copying the
    // same rectangle again gives the same bytes.
    struct LastCopy {
        Rect source;
        int width = 0;
        int height = 0;
        std::vector<Rect> monitors;
        std::vector<std::pair<int, std::uint64_t>> frames; // stream, frame number
    };
    LastCopy last;
    bool lastKnown = false;

    // The pointer as pointer() last answered it, and who waits for a change.
    struct PointerReading {
        bool known = false;
        Point at;
        bool operator==(const PointerReading& o) const { return known == o.known && at.x == o.at.x && at.y == o.at.y; }
    };
    PointerReading lastPointer;
    std::function<void()> changeWatcher;
    // While resting: the last copy's pixels, sampled again when it began, so
    // that a new frame that leaves them as they are (drawing elsewhere on
    // the monitor) does not end the rest.
    std::vector<std::uint8_t> restingBytes;
    std::vector<std::uint8_t> arrivedBytes;
    std::vector<std::pair<int, std::uint64_t>> arrivedFrames;

    bool sampleLastCopy(std::vector<std::uint8_t>& bytes, std::vector<std::pair<int, std::uint64_t>>& frames)
    {
        bytes.resize(std::size_t(last.width) * std::size_t(last.height) * 4);
        return sampleRegion(last.source, last.width, last.height, bytes.data(), frames);
    }

    // New frames with the last copy's pixels unchanged: what the copy read
    // is still what the screen shows there.
    bool regionUnchanged()
    {
        if (framesUnchanged())
            return true;
        if (restingBytes.empty() || !(last.monitors == monitorRects)
            || !sampleLastCopy(arrivedBytes, arrivedFrames) || arrivedBytes != restingBytes)
            return false;
        last.frames = arrivedFrames;
        return true;
    }

    // Samples stream `index` into `destination` and notes the frame it read
    // in `frames`; false for a stream without a frame.
    bool sample(int index, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination,
        std::vector<std::pair<int, std::uint64_t>>& frames)
    {
        const std::uint64_t frame
            = capture->sample(index, monitorRects[index], source, outWidth, outHeight, destination, columns);
        frames.emplace_back(index, frame);
        return frame != 0;
    }

    // The pixels of `source` from the newest frames, and which frames they
    // are; false when a stream had none.
    bool sampleRegion(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination,
        std::vector<std::pair<int, std::uint64_t>>& frames)
    {
        frames.clear();
        const std::size_t pixels = std::size_t(outWidth) * std::size_t(outHeight);
        // The usual case, a rectangle on one monitor, writes every pixel from
        // that monitor's frame; anything else starts black.
        for (int i = 0; i < int(monitorRects.size()); ++i) {
            const Rect& m = monitorRects[i];
            if (source.left >= m.left && source.top >= m.top && source.right <= m.right && source.bottom <= m.bottom) {
                if (sample(i, source, outWidth, outHeight, destination, frames))
                    return true;
                fillBlack(destination, pixels);
                return false;
            }
        }
        fillBlack(destination, pixels);
        bool all = true;
        for (int i = 0; i < int(monitorRects.size()); ++i)
            all = sample(i, source, outWidth, outHeight, destination, frames) && all;
        return all;
    }

    explicit State(const std::string& displayName)
        : windows(displayName)
    {
        access.granted = false;
        access.message = "Press Start to share the screen.";
        streamTimer.setSingleShot(true);
        capture = std::make_unique<PipeWireCapture>(
            [this] {
                QMetaObject::invokeMethod(
                    &notifier, [this] { captureChanged(); }, Qt::QueuedConnection);
            },
            [this] {
                QMetaObject::invokeMethod(
                    &notifier, [this] { answerIfChanged(); }, Qt::QueuedConnection);
            });
    }

    PointerReading pointerNow() const
    {
        if (!access.granted || !cursorMetadata)
            return {};
        for (int i = 0; i < int(monitorRects.size()); ++i) {
            Point p;
            int width = 0;
            int height = 0;
            if (!capture->pointer(i, p))
                continue;
            capture->frameSize(i, width, height);
            const Rect& m = monitorRects[i];
            if (width > 0 && width != m.width())
                p.x = static_cast<int>(std::int64_t(p.x) * m.width() / width);
            if (height > 0 && height != m.height())
                p.y = static_cast<int>(std::int64_t(p.y) * m.height() / height);
            return PointerReading { true, Point { m.left + p.x, m.top + p.y } };
        }
        return {};
    }

    bool framesUnchanged() const
    {
        if (!lastKnown)
            return false;
        for (const auto& [stream, frame] : last.frames)
            if (capture->frameNumber(stream) != frame)
                return false;
        return true;
    }

    // On a frame or pointer move: the watcher is told if the copy or the
    // pointer now read otherwise; otherwise the next arrival is awaited.
    void answerIfChanged()
    {
        if (!changeWatcher)
            return;
        // Asked for before looking, so that nothing arriving in between is missed.
        capture->callOnNextArrival();
        if (pointerNow() == lastPointer && regionUnchanged())
            return;
        tellChange();
    }

    void tellChange()
    {
        capture->stopCallingOnArrival();
        restingBytes.clear();
        windows.stopWatchingForChange();
        const std::function<void()> changed = std::move(changeWatcher);
        changeWatcher = nullptr;
        if (changed)
            changed();
    }

    void notify()
    {
        if (changed)
            changed();
    }

    void end(const std::string& message)
    {
        streamTimer.stop();
        capture->stop();
        portal.close();
        access.granted = false;
        access.asking = false;
        access.message = message;
        monitorRects.clear();
        notify();
    }

    // The monitor table: the portal's positions and sizes, the frames' sizes
    // where the portal gives none, side by side where it gives no position.
    void updateMonitors()
    {
        monitorRects.clear();
        int nextLeft = 0;
        for (int i = 0; i < shared.size(); ++i) {
            const SharedMonitor& m = shared[i];
            int width = m.width;
            int height = m.height;
            if (width <= 0 || height <= 0)
                capture->frameSize(i, width, height);
            const int left = m.hasPosition ? m.x : nextLeft;
            const int top = m.hasPosition ? m.y : 0;
            monitorRects.push_back(Rect { left, top, left + width, top + height });
            nextLeft = std::max(nextLeft, left + width);
        }
    }

    void captureChanged()
    {
        switch (capture->state()) {
        case PipeWireCapture::State::Streaming: {
            streamTimer.stop();
            const std::vector<Rect> before = monitorRects;
            updateMonitors();
            const std::string problem = capture->problem();
            if (!access.granted || access.message != problem || !(before == monitorRects)) {
                access.granted = true;
                access.asking = false;
                access.message = problem;
                notify();
            }
            return;
        }
        case PipeWireCapture::State::Ended:
            if (access.granted || access.asking)
                end(capture->problem() + kAgain);
            return;
        default:
            return;
        }
    }
};

WaylandDesktop::WaylandDesktop(const std::string& displayName)
    : d(std::make_unique<State>(displayName))
{
    State* s = d.get();
    QObject::connect(&s->portal, &ScreenCastPortal::started, &s->notifier,
        [s](int fd, const QVector<SharedMonitor>& monitors, const QString& token, bool cursorMetadata) {
            s->shared = monitors;
            s->cursorMetadata = cursorMetadata;
            if (!token.isEmpty())
                s->access.token = token.toStdString();
            std::vector<std::uint32_t> nodes;
            for (const SharedMonitor& m : monitors)
                nodes.push_back(m.node);
            if (!s->capture->start(fd, nodes)) {
                s->end(s->capture->problem() + kAgain);
                return;
            }
            s->access.message = "Waiting for the first picture of the screen...";
            s->streamTimer.start(kStreamTimeout);
            s->notify();
            s->captureChanged(); // the streams may have their formats already
        });
    QObject::connect(&s->portal, &ScreenCastPortal::failed, &s->notifier,
        [s](const QString& message, bool) { s->end(message.toStdString()); });
    QObject::connect(&s->portal, &ScreenCastPortal::closed, &s->notifier, [s] {
        if (s->access.granted || s->access.asking)
            s->end(std::string("Screen sharing was ended by the desktop.") + kAgain);
    });
    QObject::connect(&s->streamTimer, &QTimer::timeout, &s->notifier, [s] {
        if (s->capture->state() != PipeWireCapture::State::Streaming)
            s->end(std::string("PipeWire sent no picture of the screen.") + kAgain);
    });
}

WaylandDesktop::~WaylandDesktop()
{
    d->changed = nullptr;
    stopCapture();
}

void WaylandDesktop::stopCapture()
{
    d->streamTimer.stop();
    d->capture->stop();
    d->portal.close();
    d->access.granted = false;
    d->access.asking = false;
    d->monitorRects.clear();
}

void WaylandDesktop::releaseCapture()
{
    if (!d->access.granted || d->access.token.empty())
        return;
    d->end("Press Start to share the screen.");
}

bool WaylandDesktop::windowFrame(WindowHandle window, Rect& frame)
{
    return d->access.granted && d->ownWindows.frame(window, d->monitorRects, frame);
}

std::vector<Rect> WaylandDesktop::monitors()
{
    return d->access.granted ? d->monitorRects : std::vector<Rect> {};
}

void WaylandDesktop::copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    d->lastKnown = false;
    if (destination == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    const std::size_t pixels = std::size_t(outWidth) * std::size_t(outHeight);
    if (!d->access.granted) {
        fillBlack(destination, pixels);
        return;
    }
    d->last.source = source;
    d->last.width = outWidth;
    d->last.height = outHeight;
    d->last.monitors = d->monitorRects;
    d->lastKnown = d->sampleRegion(source, outWidth, outHeight, destination, d->last.frames);
}

bool WaylandDesktop::unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight)
{
    const State::LastCopy& last = d->last;
    if (!d->lastKnown || !d->access.granted || !(last.source == source) || last.width != outWidth
        || last.height != outHeight || !(last.monitors == d->monitorRects))
        return false;
    return d->framesUnchanged();
}

bool WaylandDesktop::watchForChange(std::function<void()> changed)
{
    stopWatchingForChange();
    if (!d->access.granted || !d->lastKnown || !(d->last.monitors == d->monitorRects))
        return false;
    if (!d->windows.watchForChange([s = d.get()] { s->tellChange(); }))
        return false;
    d->changeWatcher = std::move(changed);
    std::vector<std::pair<int, std::uint64_t>> frames;
    if (d->framesUnchanged() && d->sampleLastCopy(d->restingBytes, frames) && frames == d->last.frames) {
        d->capture->callOnNextArrival();
        if (d->framesUnchanged() && d->pointerNow() == d->lastPointer)
            return true;
    }
    // Changed since the cycle's reads: answered from the event loop, never inside the request.
    d->restingBytes.clear();
    QMetaObject::invokeMethod(
        &d->notifier, [s = d.get()] { s->answerIfChanged(); }, Qt::QueuedConnection);
    return true;
}

void WaylandDesktop::stopWatchingForChange()
{
    d->changeWatcher = nullptr;
    d->restingBytes.clear();
    d->capture->stopCallingOnArrival();
    d->windows.stopWatchingForChange();
}

Point WaylandDesktop::pointer()
{
    d->lastPointer = d->pointerNow();
    return d->lastPointer.at;
}

bool WaylandDesktop::pointerKnown()
{
    return d->pointerNow().known;
}

WindowHandle WaylandDesktop::foreground()
{
    d->windows.dispatchPending();
    return d->windows.foreground();
}

WindowTexts WaylandDesktop::texts(WindowHandle window)
{
    return d->windows.texts(window);
}

std::string WaylandDesktop::executable(WindowHandle window)
{
    return d->windows.executable(window);
}

std::string WaylandDesktop::windowsProblem()
{
    return d->windows.problem();
}

CaptureAccess WaylandDesktop::captureAccess()
{
    return d->access;
}

void WaylandDesktop::requestCapture(const std::string& token, std::function<void()> changed)
{
    d->changed = std::move(changed);
    if (d->access.granted || d->access.asking)
        return;
    if (!PipeWireCapture::daemonReachable()) {
        d->access.message = std::string("PipeWire is not running, so the screen cannot be shared.") + kAgain;
        d->notify();
        return;
    }
    d->access.asking = true;
    d->access.message = "Asking for permission to share the screen...";
    if (!token.empty())
        d->access.token = token;
    d->notify();
    d->portal.start(QString::fromStdString(token));
}

} // namespace platform
