#include "shell/MainWindow.h"

#include "apps/SettingsFile.h"
#include "shell/QExposureLegend.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace {

const QString kExposureKey = QStringLiteral("exposure_overlay");

} // namespace

void MainWindow::loadExposureSetting()
{
    // Typed or garbled values read as empty text, and that as off.
    const QByteArray stored = settings->value(kExposureKey, QString()).toString().trimmed().toLatin1();
    exposureMode = scopes::exposureModeFromText(stored.constData());
    showExposureLegend();
}

// The legend goes with the preview: it names what the preview paints.
void MainWindow::showExposureLegend()
{
    exposureLegend->setMode(exposureMode);
    const bool shown = exposureMode != scopes::ExposureMode::Off && !previewLabel->isHidden();
    if (exposureLegend->isVisibleTo(this) != shown)
        exposureLegend->setVisible(shown);
}

void MainWindow::exposureTrigger()
{
    exposureMode = scopes::nextExposureMode(exposureMode);
    settings->setValue(kExposureKey, QString::fromLatin1(scopes::exposureModeText(exposureMode)));
    settings->sync();
    exposureCurrent = false;
    if (exposureMode == scopes::ExposureMode::Off)
        exposureFrame.release();
    showExposureLegend();
    fitToContents();
    resizeTimer->start(100);
    // While capturing, the next tick shows the change.
    if (!capturing)
        updateScreen();
}

const cv::Mat& MainWindow::previewPicture(const cv::Range& changedRows, cv::Range& rows)
{
    if (exposureMode == scopes::ExposureMode::Off)
        return frameImage;
    // Last cycle's highlight comes off first: under it lies the view of
    // what was captured there, and only the rows the capture changed are
    // painted again.
    exposurePaint.undo(exposureFrame);
    cv::Range paintRows = changedRows;
    if (!exposureCurrent || exposureFrame.size() != frameImage.size())
        paintRows = cv::Range(0, frameImage.rows);
    exposureCurrent = true;
    paintRows = exposurePainter.paint(frameImage, exposureFrame, exposureMode, paintRows);
    if (!paintRows.empty())
        rows = rows.empty() ? paintRows
                            : cv::Range(std::min(rows.start, paintRows.start), std::max(rows.end, paintRows.end));
    // The frame carries this cycle's hover highlight, which the view would
    // paint as clipped: it goes on in red, over the view of the bytes it covers.
    framePaint.paintSameOn(exposureFrame, exposurePaint,
        [this](std::uint32_t captured) { return exposurePainter.pixel(captured, exposureMode); });
    return exposureFrame;
}
