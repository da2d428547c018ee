#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/QSelectRegionWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace {

// What can change what a cycle shows when it happens to one of the
// program's own windows or widgets: input, geometry, showing and hiding,
// focus and activation, look. Paints, layout requests, timers and posted
// calls are left out: the cycle itself makes those, and would wake itself.
bool changesWhatCycleShows(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowStateChange:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::ZOrderChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::ApplicationStateChange:
        return true;
    default:
        return false;
    }
}

// Sees every event of the application before its receiver does, and tells
// of those above; it takes none.
class OwnEventsWatch : public QObject {
public:
    OwnEventsWatch(QObject* parent, std::function<void()> seen)
        : QObject(parent)
        , seen(std::move(seen))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (changesWhatCycleShows(event->type()) && !childGeometry(watched, event->type()))
            seen();
        return QObject::eventFilter(watched, event);
    }

private:
    // A widget inside a window is resized or moved by the window's layout:
    // after the window's own resize (seen), or after the cycle's own text
    // changed size (the info label's time gaining a pixel), which must not
    // wake the cycle that made it.
    static bool childGeometry(QObject* watched, QEvent::Type type)
    {
        return (type == QEvent::Resize || type == QEvent::Move) && watched->isWidgetType()
            && !static_cast<QWidget*>(watched)->isWindow();
    }

    std::function<void()> seen;
};

// A video of fewer frames a second than the cycle's 25 leaves single
// cycles with nothing new; resting through each and waking on the next
// frame costs more than the timer. A quarter of a second of stillness
// first.
constexpr int kStillCyclesBeforeRest = 6;

} // namespace

void MainWindow::setUpCycleRest()
{
    ownEventsWatch = new OwnEventsWatch(this, [this] { cycleMayHaveChanged(); });
    QCoreApplication::instance()->installEventFilter(ownEventsWatch);
}

void MainWindow::endCycleRest()
{
    delete ownEventsWatch;
    ownEventsWatch = nullptr;
    if (cycleResting)
        desktop.stopWatchingForChange();
    cycleResting = false;
}

// Whatever the cycle reads that no one reports a change of keeps it
// running: the profile the readings undo (a file, or read again once a
// second), the settings dialog and the windows of region selection and of
// colour sampling, a drag, a refit on its timer, a cycle skipped.
bool MainWindow::restAllowed() const
{
    return capturing && captureGranted && skipUpdateScreen <= 0 && !settingsWindow && !regionWindow && !sampleLabel
        && !resizeTimer->isActive() && !(readings && readings->undo()) && !readingsStale && !dragging && !plotDragging
        && !saturationDragging && !lightnessDragging;
}

void MainWindow::restIfStill(bool pictureStill, const platform::Rect& captured, const platform::Point& pointer)
{
    const HeldScope& held = heldScopes[static_cast<size_t>(displayMode)];
    const uchar* reference = held.frame.empty() ? nullptr : held.frame.data;
    const bool pointerKnown = desktop.pointerKnown();
    const int exposure = static_cast<int>(exposureMode);
    // Compared and kept in place, each field only where it differs: the
    // texts keep their buffers from cycle to cycle, so a steady cycle
    // allocates nothing here.
    CycleInputs& last = lastCycleInputs;
    bool same = lastCycleKnown;
    const auto keep = [&same](auto& kept, const auto& now) {
        if (!(kept == now)) {
            kept = now;
            same = false;
        }
    };
    keep(last.captured, captured);
    keep(last.pointer.x, pointer.x);
    keep(last.pointer.y, pointer.y);
    keep(last.pointerKnown, pointerKnown);
    keep(last.app, currentApp);
    keep(last.title, foregroundTitle);
    keep(last.windowClass, foregroundClass);
    keep(last.executable, foregroundExecutable);
    keep(last.mode, displayMode);
    keep(last.zoom, vectorscopeZoom);
    keep(last.reference, reference);
    keep(last.exposure, exposure);
    keep(last.granted, captureGranted);
    keep(last.problem, captureProblem);
    keep(last.windowSize, windowSize);
    keep(last.ownChanges, ownChanges);
    lastCycleKnown = true;
    stillCycles = pictureStill && same ? stillCycles + 1 : 0;
    // A cycle run while resting (called directly, not by the timer) leaves
    // the request with the desktop as it was.
    if (cycleResting || stillCycles < kStillCyclesBeforeRest || !restAllowed())
        return;
    // Held only weakly: the desktop outlives the window.
    const QPointer<MainWindow> self(this);
    if (!desktop.watchForChange([self] {
            if (self)
                self->cycleMayHaveChanged();
        }))
        return;
    cycleResting = true;
    updateTimer->stop();
    log("UPD rest");
}

void MainWindow::cycleMayHaveChanged()
{
    ++ownChanges;
    if (!cycleResting || wakePosted)
        return;
    // The cycle runs after the event that woke it has been handled, so that
    // it shows what the event changed.
    wakePosted = true;
    QMetaObject::invokeMethod(this, &MainWindow::wakeCycle, Qt::QueuedConnection);
}

void MainWindow::wakeCycle()
{
    wakePosted = false;
    if (!cycleResting)
        return;
    cycleResting = false;
    desktop.stopWatchingForChange();
    log("UPD wake");
    if (!capturing)
        return;
    updateTimer->start(40);
    updateScreen();
}
