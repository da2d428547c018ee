#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "palette/HueClustering.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>

namespace {

constexpr int kClusterCount = 10;
constexpr int kIterations = 50;
constexpr int kCandidatesPerSeed = 20;
constexpr int kDominantHueCount = 4;

// The colour code is the first seven characters of a swatch's tooltip: "#" and six hex digits.
void copyCodeOf(const QClickLabel* swatch)
{
    QGuiApplication::clipboard()->setText(swatch->toolTip().mid(0, 7), QClipboard::Clipboard);
}

// Logical pixels that show `pixels` screen pixels whole.
int logicalLength(int pixels, qreal ratio)
{
    return static_cast<int>(std::ceil(pixels / ratio));
}

// The picture pixel under a logical position on the sample picture.
QPoint picturePixel(const QPoint& logical, qreal ratio, const QSize& picture)
{
    const int x = static_cast<int>(logical.x() * ratio);
    const int y = static_cast<int>(logical.y() * ratio);
    return QPoint(
        std::clamp(x, 0, std::max(0, picture.width() - 1)), std::clamp(y, 0, std::max(0, picture.height() - 1)));
}

// "#" and two lower-case hexadecimal digits for each of red, green and blue.
QString colorCode(QRgb rgb)
{
    return QStringLiteral("#%1%2%3")
        .arg(qRed(rgb), 2, 16, QLatin1Char('0'))
        .arg(qGreen(rgb), 2, 16, QLatin1Char('0'))
        .arg(qBlue(rgb), 2, 16, QLatin1Char('0'));
}

// Ends the sampling when the picture is closed by the window manager (its
// close button, Alt+F4): the tool window is hidden then, so the picture is
// the program's last window, and closing it would otherwise end the program.
class SampleCloseWatcher : public QObject {
public:
    SampleCloseWatcher(QObject* parent, std::function<void()> closed)
        : QObject(parent)
        , closed(std::move(closed))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            closed();
        return false;
    }

private:
    std::function<void()> closed;
};

} // namespace

std::vector<float> MainWindow::clusterHues(int k, const std::vector<float>& samples, int iterations,
    int candidatesPerSeed, float* cost, std::vector<float>* counts)
{
    return palette::clusterHues(k, samples, iterations, candidatesPerSeed, std::rand, cost, counts);
}

void MainWindow::findColors()
{
    updateScreen();

    // Greys, black and white give no samples; an empty picture (no analysis
    // yet) gives none either. The previous hues then stay.
    const std::vector<float> samples = palette::hueSamples(analysedColorImage());
    if (samples.empty())
        return;

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    float cost = 0.0f;
    std::vector<float> counts;
    const std::vector<float> centres
        = clusterHues(kClusterCount, samples, kIterations, kCandidatesPerSeed, &cost, &counts);
    dominantHues = palette::strongestCentres(centres, counts, kDominantHueCount);
    dominantHueCount = static_cast<int>(dominantHues.size());
}

void MainWindow::copyColor0()
{
    copyCodeOf(colorSwatches[0]);
}

void MainWindow::copyColor1()
{
    copyCodeOf(colorSwatches[1]);
}

void MainWindow::copyColor2()
{
    copyCodeOf(colorSwatches[2]);
}

void MainWindow::copyColor3()
{
    copyCodeOf(colorSwatches[3]);
}

// Replaces the tool window by a full-size picture of the first monitor. The
// picture is one window owned here: a second sampling replaces it instead of
// leaving the first behind. The capture is in screen pixels and Qt sizes and
// places windows in logical pixels, so the picture carries the window's pixel
// ratio: one picture pixel per screen pixel, also on scaled (high-DPI) screens.
// A left click copies the colour under the pointer; any click or Escape ends
// the sampling and brings the tool window back, and so does closing the
// picture. With -skipus no picture is taken, and the tool window stays: hidden
// without a picture, nothing could bring it back.
void MainWindow::startSampleColor()
{
    if (skipUpdateScreen != 0 || !screenService)
        return;
    hide();

    cv::Mat monitor;
    screenService->captureScreen(&monitor, 0, nullptr, 0, nullptr);
    const QImage picture(monitor.data, monitor.cols, monitor.rows, monitor.cols * 4, QImage::Format_ARGB32);

    samplePixelRatio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(picture);
    pixmap.setDevicePixelRatio(samplePixelRatio);
    const platform::Rect first
        = screenService->monitors().empty() ? platform::Rect {} : screenService->monitors().front();

    sampleLabel = std::make_unique<QClickLabel>();
    sampleLabel->setObjectName(QStringLiteral("sampleLabel"));
    sampleLabel->setPixmap(pixmap);
    sampleLabel->setFixedSize(
        logicalLength(monitor.cols, samplePixelRatio), logicalLength(monitor.rows, samplePixelRatio));
    sampleLabel->move(static_cast<int>(first.left / samplePixelRatio), static_cast<int>(first.top / samplePixelRatio));
    sampleLabel->setCursor(Qt::CrossCursor);
    connect(sampleLabel.get(), &QClickLabel::clicked, this, &MainWindow::sampleClicked);
    auto* back = new QAction(sampleLabel.get());
    back->setShortcut(QKeySequence(Qt::Key_Escape));
    sampleLabel->addAction(back);
    connect(back, &QAction::triggered, this, &MainWindow::endSampleColor);
    sampleLabel->setAttribute(Qt::WA_QuitOnClose, false);
    sampleLabel->installEventFilter(new SampleCloseWatcher(sampleLabel.get(), [this] { endSampleColor(); }));
    sampleLabel->show();
    sampleLabel->raise();
    sampleLabel->activateWindow();
}

void MainWindow::sampleClicked()
{
    if (!sampleLabel)
        return;
    if (sampleLabel->mouseButton == 1) {
        const QImage picture = sampleLabel->pixmap(Qt::ReturnByValue).toImage();
        const QPoint pixel = picturePixel(sampleLabel->mousePos, samplePixelRatio, picture.size());
        QGuiApplication::clipboard()->setText(colorCode(readingOfPixel(picture.pixel(pixel), 0)), QClipboard::Clipboard);
    }
    endSampleColor();
}

// Runs inside the picture's own mouse or key handling, so the picture is
// deleted once that has returned.
void MainWindow::endSampleColor()
{
    if (sampleLabel) {
        sampleLabel->hide();
        sampleLabel.release()->deleteLater();
    }
    show();
    raise();
    activateWindow();
}
