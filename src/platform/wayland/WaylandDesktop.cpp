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

    // Samples stream `index` into the copy and notes the frame it read; a
    // stream without a frame leaves the copy unknown.
    bool sample(int index, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
    {
        const std::uint64_t frame
            = capture->sample(index, monitorRects[index], source, outWidth, outHeight, destination, columns);
        last.frames.emplace_back(index, frame);
        lastKnown = lastKnown && frame != 0;
        return frame != 0;
    }

    explicit State(const std::string& displayName)
        : windows(displayName)
    {
        access.granted = false;
        access.message = "Press Start to share the screen.";
        streamTimer.setSingleShot(true);
        capture = std::make_unique<PipeWireCapture>([this] {
            QMetaObject::invokeMethod(
                &notifier, [this] { captureChanged(); }, Qt::QueuedConnection);
        });
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
    d->last.frames.clear();
    d->lastKnown = true;
    // The usual case, a rectangle on one monitor, writes every pixel from
    // that monitor's frame; anything else starts black.
    for (int i = 0; i < int(d->monitorRects.size()); ++i) {
        const Rect& m = d->monitorRects[i];
        if (source.left >= m.left && source.top >= m.top && source.right <= m.right && source.bottom <= m.bottom) {
            if (!d->sample(i, source, outWidth, outHeight, destination))
                fillBlack(destination, pixels);
            return;
        }
    }
    fillBlack(destination, pixels);
    for (int i = 0; i < int(d->monitorRects.size()); ++i)
        d->sample(i, source, outWidth, outHeight, destination);
}

bool WaylandDesktop::unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight)
{
    const State::LastCopy& last = d->last;
    if (!d->lastKnown || !d->access.granted || !(last.source == source) || last.width != outWidth
        || last.height != outHeight || !(last.monitors == d->monitorRects))
        return false;
    for (const auto& [stream, frame] : last.frames)
        if (d->capture->frameNumber(stream) != frame)
            return false;
    return true;
}

Point WaylandDesktop::pointer()
{
    if (!d->access.granted || !d->cursorMetadata)
        return {};
    for (int i = 0; i < int(d->monitorRects.size()); ++i) {
        Point p;
        int width = 0;
        int height = 0;
        if (!d->capture->pointer(i, p))
            continue;
        d->capture->frameSize(i, width, height);
        const Rect& m = d->monitorRects[i];
        if (width > 0 && width != m.width())
            p.x = static_cast<int>(std::int64_t(p.x) * m.width() / width);
        if (height > 0 && height != m.height())
            p.y = static_cast<int>(std::int64_t(p.y) * m.height() / height);
        return Point { m.left + p.x, m.top + p.y };
    }
    return {};
}

bool WaylandDesktop::pointerKnown()
{
    if (!d->access.granted || !d->cursorMetadata)
        return false;
    Point p;
    for (int i = 0; i < int(d->monitorRects.size()); ++i)
        if (d->capture->pointer(i, p))
            return true;
    return false;
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
