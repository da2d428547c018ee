#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "scopes/FrameSum.h"
#include "scopes/ShownPicture.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRegion>
#include <QStyle>

#include <algorithm>
#include <chrono>
#include <cstring>

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

// Hands `label` a pixmap of `picture` (B, G, R, 255 bytes). Where the
// platform's pixmaps are images of the screen's own format, the pixmap is
// the picture's buffer itself, not a copy: returns whether it is, that is,
// whether later changes to the buffer show once the label is repainted.
bool showBuffer(QLabel* label, const cv::Mat& picture)
{
    const QPixmap pixmap = QPixmap::fromImage(
        QImage(picture.data, picture.cols, picture.rows, static_cast<int>(picture.step), QImage::Format_RGB32));
    label->setPixmap(pixmap);
    return pixmap.toImage().constBits() == picture.data;
}

// Where a label paints its pixmap: its rectangle in the label.
QRect pixmapPlace(const QLabel* label, const cv::Mat& picture)
{
    const Qt::LayoutDirection direction = label->layoutDirection();
    return QStyle::alignedRect(direction, QStyle::visualAlignment(direction, label->alignment()),
        QSize(picture.cols, picture.rows), label->contentsRect());
}

} // namespace

// A label whose picture covers it paints every pixel of it: Qt need not
// fill the background under each repainted rectangle first. Where the label
// paints its picture is worked out again only when the label or the picture
// changed size.
void MainWindow::markOpaqueWhereCovered(QLabel* label, const cv::Mat& picture, OpaqueCheck& checked)
{
    if (label->size() == checked.label && picture.size() == checked.picture)
        return;
    checked = { label->size(), picture.size() };
    const bool covered = !picture.empty() && pixmapPlace(label, picture).contains(label->rect());
    if (label->testAttribute(Qt::WA_OpaquePaintEvent) != covered)
        label->setAttribute(Qt::WA_OpaquePaintEvent, covered);
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

    const QString targetName = appRegions.contains(currentApp) ? currentApp : QStringLiteral("unknown");
    const std::array<int, 4> region = appRegions.value(targetName);
    const int monitorIndex = appAdapters.value(targetName);
    const platform::Rect rect{region[0], region[1], region[2], region[3]};
    const bool useRect = rect.left >= 0;
    log("adapter selected");

    float scale = 0.0f;
    platform::Rect captured;
    bool sameCapture = false;
    screenService->captureScreen(
        &captureImage, monitorIndex, useRect ? &rect : nullptr, windowSize, &scale, &captured, &sameCapture);
    log("scr ok");

    // The change test: the deep copy finds, in the same pass over the bytes
    // as the byte sum, whether any byte differs from the frame's, and which
    // rows. Last cycle's hover highlight is taken off the frame first, so
    // that the frame holds exactly the last capture: a frame whose bytes
    // changed is a changed frame, whatever its sum (a red screen turned
    // blue has the same sum), and the highlight alone changes nothing. A
    // capture that kept last cycle's bytes needs no copy at all.
    const cv::Range unshadedRows = ownWindowShade.undo(frameImage);
    const cv::Range unpaintedRows = framePaint.undo(frameImage);
    bool bytesChanged = false;
    cv::Range changedRows(0, 0);
    const bool frameAsCopied = sameCapture && frameImage.size() == captureImage.size();
    const quint32 sum
        = frameAsCopied ? frameSum : scopes::copyFrameAndSum(captureImage, frameImage, &bytesChanged, &changedRows);
    const bool readingsChanged = convertReadings(monitorIndex, bytesChanged);
    // Our own windows moved over the frame: what the scopes analyse changed.
    bool analysedChanged = bytesChanged || readingsChanged;
    const bool ownWindowsMoved = leaveOutOwnWindows(captured, analysedChanged);

    // Measured from the rectangle the capture read, in desktop pixels: the
    // monitor's own origin counts, and so does what the capture made of a
    // record it could not use as stored (empty or inverted: the whole
    // monitor; its monitor gone: the first one). A pointer the desktop cannot
    // locate points at nothing: off the frame.
    const bool pointerKnown = desktop.pointerKnown();
    const platform::Point pointer = desktop.pointer();
    int cursorX = pointerKnown ? framePosition(pointer.x, captured.left, scale) : -1;
    int cursorY = pointerKnown ? framePosition(pointer.y, captured.top, scale) : -1;
    // Pointing at our own window is pointing at nothing the scopes measured.
    if (ownWindowArea.contains(cursorX, cursorY))
        cursorX = cursorY = -1;
    log("cursor ok");

    bool frameChanged = false;
    frameSum = sum;
    if (bytesChanged)
        log("sum changed");
    if ((bytesChanged && analysedChanged) || ownWindowsMoved) {
        ++frameCount;
        frameChanged = true;
    }
    if (readingsChanged)
        frameChanged = true;

    if (displayMode == 0)
        drawVectorscope(frameChanged, cursorX, cursorY);
    else
        drawWaveform(frameChanged, cursorX, cursorY, displayMode == 2);
    darkenOwnWindows();

    // The labels paint our own buffers. The plot's is the scope picture in
    // the form painted without converting, rewritten where it changed; the
    // preview's is the frame itself, which the copy above and the highlight
    // wrote in place. Only what changed is repainted.
    markOpaqueWhereCovered(plotLabel, shownScope, plotOpaqueCheck);
    markOpaqueWhereCovered(previewLabel, frameImage, previewOpaqueCheck);
    // A picture of another size is a new buffer, even where the allocator
    // hands back the old one's address: the label's pixmap has the old size.
    const uchar* plotBuffer = shownScope.data;
    const cv::Size plotBufferSize = shownScope.size();
    const cv::Rect plotChanged = scopes::showAsBgrx(scopeImage, shownScope, scopeChanged, &plotBands);
    const bool newPlotBuffer = shownScope.data != plotBuffer || shownScope.size() != plotBufferSize;
    if (newPlotBuffer || !plotSharesBuffer) {
        if (!plotChanged.empty() || newPlotBuffer)
            plotSharesBuffer = showBuffer(plotLabel, shownScope);
    } else if (!plotChanged.empty()) {
        // Band by band: scattered cells would make one rectangle of most of the plot.
        const QRect place = pixmapPlace(plotLabel, shownScope);
        QRegion repaint;
        for (const cv::Rect& band : plotBands)
            repaint += QRect(place.x() + band.x, place.y() + band.y, band.width, band.height);
        plotLabel->update(repaint);
    }
    // The preview changed where the capture did, where last cycle's
    // highlight was taken off and where this cycle's was painted.
    // The darkening of our own windows gives the same bytes again unless it
    // moved; the exposure view paints again where the frame's bytes did.
    const cv::Range noRows(0, 0);
    cv::Range frameRows = changedRows;
    for (const cv::Range& rows :
        { ownWindowsMoved ? unshadedRows : noRows, ownWindowsMoved ? ownWindowShade.rows() : noRows })
        frameRows = unitedRows(frameRows, rows);
    cv::Range previewRows = frameRows;
    for (const cv::Range& rows : { unpaintedRows, framePaint.rows() })
        previewRows = unitedRows(previewRows, rows);
    // The exposure view, when on, is what the preview shows.
    const cv::Mat& preview = previewPicture(frameRows, previewRows);
    const bool previewChanged = !previewRows.empty();
    if (preview.data != shownFrame.data || preview.size() != shownFrame.size() || !previewSharesBuffer) {
        if (previewChanged || preview.data != shownFrame.data || preview.size() != shownFrame.size()) {
            // The label's pixmap may be this buffer: the header keeps it alive until the next is handed over.
            shownFrame = preview;
            previewSharesBuffer = showBuffer(previewLabel, preview);
        }
    } else if (previewChanged) {
        const QRect place = pixmapPlace(previewLabel, preview);
        previewLabel->update(place.x(), place.y() + previewRows.start, place.width(), previewRows.size());
    }

    const bool pictureStill = sameCapture && !readingsChanged && !ownWindowsMoved && plotChanged.empty() && !previewChanged
        && scopeImage.rows == lastPlotHeight;
    if (scopeImage.rows != lastPlotHeight) {
        lastPlotHeight = scopeImage.rows;
        plotLabel->setMinimumSize(windowSize, lastPlotHeight);
        setMinimumSize(windowSize, lastPlotHeight);
        fitToContents();
    }
    log("scr pix set");

    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    if (captureProblem.isEmpty())
        showInfo(cycleInfoText(elapsed.count() / 1000000), false);
    else
        showInfo(captureProblem);
    restIfStill(pictureStill, captured, pointer);
    log("scr end");
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
            QString::number(milliseconds) + QStringLiteral(" ms ") + zoomText + QLatin1String(displayModeName(displayMode))
                + referenceText };
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
