#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "palette/HueClustering.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <cstdlib>
#include <ctime>

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
// leaving the first behind.
void MainWindow::startSampleColor()
{
    hide();
    if (skipUpdateScreen != 0 || !screenService)
        return;

    cv::Mat monitor;
    screenService->captureScreen(&monitor, 0, nullptr, 0, nullptr);
    const QImage picture(monitor.data, monitor.cols, monitor.rows, monitor.cols * 4, QImage::Format_ARGB32);

    sampleLabel = std::make_unique<QClickLabel>();
    sampleLabel->setPixmap(QPixmap::fromImage(picture));
    sampleLabel->setFixedSize(monitor.cols, monitor.rows);
    sampleLabel->move(0, 0);
    sampleLabel->show();
}
