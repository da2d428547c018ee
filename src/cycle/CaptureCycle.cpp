#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "cycle/FrameSum.h"

#include <QLabel>

#include <algorithm>
#include <chrono>

const char* displayModeName(int displayMode)
{
    switch (displayMode) {
    case 1:
        return "Waveform";
    case 2:
        return "Parade";
    default:
        return "Vectorscope";
    }
}

namespace {

// A pointer coordinate on the frame: its distance from the captured
// rectangle's edge times the scale, truncated. A position this far off the
// frame is as good as any further one, and keeps the conversion defined.
int framePosition(int pointer, int edge, float scale)
{
    constexpr float kFarOff = 1 << 24;
    const float position = static_cast<float>(static_cast<long long>(pointer) - edge) * scale;
    return static_cast<int>(std::clamp(position, -kFarOff, kFarOff));
}

// The rows of both ranges and those between them; an empty range adds none.
cv::Range unitedRows(const cv::Range& a, const cv::Range& b)
{
    if (b.empty())
        return a;
    return a.empty() ? b : cv::Range(std::min(a.start, b.start), std::max(a.end, b.end));
}

} // namespace

void MainWindow::updateScreen()
{
    if (skipUpdateScreen > 0)
        return;
    log("UPD screen");
    log("UPD screen A");
    // Until the desktop lets us read the screen there is nothing to analyse.
    if (!captureGranted) {
        showInfo(captureProblem);
        return;
    }
    const auto start = std::chrono::steady_clock::now();

    recognizeApplication(false);
    log("UPD screen B");
    const CycleCapture capture = captureRegion();
    const FrameChange change = copyFrame(capture);
    const bool readingsChanged = convertReadings(capture.monitorIndex, change.bytesChanged);
    // Our own windows moved over the frame: what the scopes analyse changed.
    bool analysedChanged = change.bytesChanged || readingsChanged;
    const bool ownWindowsMoved = leaveOutOwnWindows(capture.captured, analysedChanged);
    platform::Point pointer;
    const cv::Point cursor = pointerOnFrame(capture, pointer);
    const bool frameChanged = countFrame(change, analysedChanged, ownWindowsMoved, readingsChanged);

    if (displayMode == 0)
        drawVectorscope(frameChanged, cursor.x, cursor.y);
    else
        drawWaveform(frameChanged, cursor.x, cursor.y, displayMode == 2);
    darkenOwnWindows();
    const bool plotChanged = plotView->showScope(scopeImage, scopeChanged);
    const bool previewChanged = showPreview(change, ownWindowsMoved);
    // Bytes, not frames: a desktop may send a new frame of a whole monitor
    // for drawing elsewhere on it (Wayland does), which leaves these as they were.
    const bool pictureStill = !change.bytesChanged && !readingsChanged && !ownWindowsMoved && !plotChanged
        && !previewChanged && scopeImage.rows == lastPlotHeight;
    fitToPlot();
    log("scr pix set");

    // A cycle that analysed no new frame reports the time of the last one
    // that did. Where the window lies over what it captures, a new time
    // would be a change of the screen that the next cycle sees and reports
    // again, and a still screen would never rest.
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    const long long milliseconds
        = frameChanged || cycleInfo.milliseconds < 0 ? elapsed.count() / 1000000 : cycleInfo.milliseconds;
    if (captureProblem.isEmpty())
        showInfo(cycleInfoText(milliseconds), false);
    else
        showInfo(captureProblem);
    restIfStill(pictureStill, capture.captured, pointer);
    log("scr end");
}

// The region of the application in front (or the "unknown" one's), captured
// into captureImage at the window's size.
MainWindow::CycleCapture MainWindow::captureRegion()
{
    const QString targetName = appRegions.contains(currentApp) ? currentApp : QStringLiteral("unknown");
    const std::array<int, 4> region = appRegions.value(targetName);
    CycleCapture capture;
    capture.monitorIndex = appAdapters.value(targetName);
    const platform::Rect rect { region[0], region[1], region[2], region[3] };
    const bool useRect = rect.left >= 0;
    log("adapter selected");

    screenService->captureScreen(&captureImage, capture.monitorIndex, useRect ? &rect : nullptr, windowSize,
        &capture.scale, &capture.captured, &capture.sameCapture);
    log("scr ok");
    return capture;
}

// The change test: the deep copy finds, in the same pass over the bytes as
// the byte sum, whether any byte differs from the frame's, and which rows.
// Last cycle's hover highlight is taken off the frame first, so that the
// frame holds exactly the last capture: a frame whose bytes changed is a
// changed frame, whatever its sum (a red screen turned blue has the same
// sum), and the highlight alone changes nothing. A capture that kept last
// cycle's bytes needs no copy at all.
MainWindow::FrameChange MainWindow::copyFrame(const CycleCapture& capture)
{
    FrameChange change;
    change.unshadedRows = ownWindowShade.undo(frameImage);
    change.unpaintedRows = framePaint.undo(frameImage);
    const bool frameAsCopied = capture.sameCapture && frameImage.size() == captureImage.size();
    change.sum = frameAsCopied
        ? frameSum
        : scopes::copyFrameAndSum(captureImage, frameImage, &change.bytesChanged, &change.changedRows);
    return change;
}

// Measured from the rectangle the capture read, in desktop pixels: the
// monitor's own origin counts, and so does what the capture made of a
// record it could not use as stored (empty or inverted: the whole monitor;
// its monitor gone: the first one). A pointer the desktop cannot locate
// points at nothing: off the frame, (-1, -1).
cv::Point MainWindow::pointerOnFrame(const CycleCapture& capture, platform::Point& pointer) const
{
    const bool pointerKnown = desktop.pointerKnown();
    pointer = desktop.pointer();
    cv::Point cursor(pointerKnown ? framePosition(pointer.x, capture.captured.left, capture.scale) : -1,
        pointerKnown ? framePosition(pointer.y, capture.captured.top, capture.scale) : -1);
    // Pointing at our own window is pointing at nothing the scopes measured.
    if (ownWindowArea.contains(cursor.x, cursor.y))
        cursor = cv::Point(-1, -1);
    log("cursor ok");
    return cursor;
}

// Whether the scopes must analyse the frame again. A new frame counts:
// its bytes changed and so did what the scopes read of them, or our own
// windows moved over it; new readings of the same frame do not count.
bool MainWindow::countFrame(const FrameChange& change, bool analysedChanged, bool ownWindowsMoved, bool readingsChanged)
{
    frameSum = change.sum;
    if (change.bytesChanged)
        log("sum changed");
    bool frameChanged = false;
    if ((change.bytesChanged && analysedChanged) || ownWindowsMoved) {
        ++frameCount;
        frameChanged = true;
    }
    return frameChanged || readingsChanged;
}

// The preview changed where the capture did, where last cycle's highlight
// was taken off and where this cycle's was painted. The darkening of our
// own windows gives the same bytes again unless it moved; the exposure view
// paints again where the frame's bytes did. The preview's picture is the
// frame itself, which the copy and the highlight wrote in place, or the
// exposure view when it is on.
bool MainWindow::showPreview(const FrameChange& change, bool ownWindowsMoved)
{
    const cv::Range noRows(0, 0);
    cv::Range frameRows = change.changedRows;
    for (const cv::Range& rows :
        { ownWindowsMoved ? change.unshadedRows : noRows, ownWindowsMoved ? ownWindowShade.rows() : noRows })
        frameRows = unitedRows(frameRows, rows);
    cv::Range previewRows = frameRows;
    for (const cv::Range& rows : { change.unpaintedRows, framePaint.rows() })
        previewRows = unitedRows(previewRows, rows);
    const cv::Mat& preview = previewPicture(frameRows, previewRows);
    previewView->show(preview, previewRows);
    return !previewRows.empty();
}

// The window follows the plot's height.
void MainWindow::fitToPlot()
{
    if (scopeImage.rows == lastPlotHeight)
        return;
    lastPlotHeight = scopeImage.rows;
    plotLabel->setMinimumSize(windowSize, lastPlotHeight);
    setMinimumSize(windowSize, lastPlotHeight);
    fitToContents();
}

// The cycle's report, "12 ms Vectorscope"; a magnified vectorscope says so,
// "12 ms 2× Vectorscope", and so does a held reference, "12 ms Vectorscope ·
// reference". Made again only when it changes, so that a steady cycle
// allocates nothing.
const QString& MainWindow::cycleInfoText(long long milliseconds)
{
    const int zoom = displayMode == 0 ? vectorscopeZoom : 1;
    const bool reference = referenceHeld();
    if (milliseconds != cycleInfo.milliseconds || zoom != cycleInfo.zoom || displayMode != cycleInfo.mode
        || reference != cycleInfo.reference) {
        const QString zoomText = zoom != 1 ? QString::number(zoom) + QChar(0x00D7) + QLatin1Char(' ') : QString();
        const QString referenceText = reference ? QStringLiteral(" \u00B7 reference") : QString();
        cycleInfo = { milliseconds, zoom, displayMode, reference,
            QString::number(milliseconds) + QStringLiteral(" ms ") + zoomText
                + QLatin1String(displayModeName(displayMode)) + referenceText };
    }
    return cycleInfo.text;
}

void MainWindow::showInfo(const QString& text, bool message)
{
    if (infoLabel->text() == text)
        return;
    infoLabel->setText(text);
    infoIsMessage = message;
    placeInfo();
}

// The info label and the application's name share the top of the plot, the
// name at the right. A message that does not fit beside the name on one
// line (the desktop's longer ones, from window size 400 down) is wrapped
// beside it; where the name leaves it less than half the width, or less
// than its longest word, it goes under the name across the whole width. So
// every message is read whole, at any window size. The cycle's report
// stays on its line: moved about whenever its time gained a digit, it
// would jump.
void MainWindow::placeInfo()
{
    // The window's width as set, not as the window system has applied it yet.
    const QMargins border = contentsMargins();
    const InfoRoom room { infoLabel->font(), windowSize - border.left() - border.right(), appLabel->sizeHint() };
    if (!(room == infoRoom) || infoPlaces.size() > 64) {
        infoPlaces.clear();
        infoRoom = room;
    }
    auto place = infoPlaces.constFind(infoLabel->text());
    if (place == infoPlaces.constEnd())
        place = infoPlaces.insert(infoLabel->text(), measureInfo(room, infoIsMessage));
    if (infoLabel->wordWrap() != place->wrapped)
        infoLabel->setWordWrap(place->wrapped);
    if (infoLabel->contentsMargins().top() != place->top)
        infoLabel->setContentsMargins(kInfoMargin, place->top, kInfoMargin, 0);
    if (infoLabel->minimumSize() != place->size || infoLabel->maximumSize() != place->size)
        infoLabel->setFixedSize(place->size);
    placeSettingsNotice();
}

// Under the info label's text.
void MainWindow::placeSettingsNotice()
{
    if (settingsNotice)
        settingsNotice->move(kInfoMargin, std::max(26, (infoLabel ? infoLabel->minimumHeight() : 0) + 4));
}

MainWindow::InfoPlace MainWindow::measureInfo(const InfoRoom& room, bool message)
{
    // A label measures its text no smaller than its minimum size: the last text's.
    infoLabel->setMinimumSize(0, 0);
    infoLabel->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    infoLabel->setContentsMargins(kInfoMargin, kInfoMargin, kInfoMargin, 0);
    infoLabel->setWordWrap(false);
    const QSize line = infoLabel->sizeHint();
    if (!message || line.width() + room.name.width() <= room.width)
        return { line, false, kInfoMargin };
    infoLabel->setWordWrap(true);
    const int longestWord = infoLabel->minimumSizeHint().width();
    const int beside = room.width - room.name.width();
    if (beside >= room.width / 2 && beside >= longestWord)
        return { QSize(beside, infoLabel->heightForWidth(beside)), true, kInfoMargin };
    const int under = room.name.height() + 2;
    infoLabel->setContentsMargins(kInfoMargin, under, kInfoMargin, 0);
    return { QSize(room.width, infoLabel->heightForWidth(room.width)), true, under };
}
