#include "shell/MainWindow.h"

#include "apps/SettingsFile.h"
#include "shell/QExposureLegend.h"

#include <QLabel>
#include <QTimer>

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

const cv::Mat& MainWindow::previewPicture(cv::Range& rows)
{
    if (exposureMode == scopes::ExposureMode::Off)
        return frameImage;
    if (!exposureCurrent || exposureFrame.size() != frameImage.size())
        rows = cv::Range(0, frameImage.rows);
    exposureCurrent = true;
    // The frame carries this cycle's hover highlight, which the view would
    // paint as clipped; it is painted back in red over the view.
    rows = exposurePainter.paint(frameImage, exposureFrame, exposureMode, rows);
    if (!rows.empty())
        framePaint.repaintOn(exposureFrame);
    return exposureFrame;
}
