#include "capture/QSelectRegionWindow.h"

#include "capture/QSelectLabel.h"
#include "capture/RegionMath.h"
#include "capture/ScreenService.h"
#include "shell/Images.h"
#include "shell/PlainText.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSignalMapper>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The screen that holds the pointer; the window opens there.
const QScreen* cursorScreen()
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

QSelectRegionWindow::QSelectRegionWindow(const QString& appName, ScreenService* service, QWidget* parent)
    : QMainWindow(parent)
    , service(service)
{
    // Each selection opens a new window; keeping closed ones would keep a
    // full-monitor screenshot per selection for the rest of the run.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(plainWindowTitle(QStringLiteral("Select region to capture for application: ") + appName));
    setWindowModality(Qt::WindowModal);
    grabMonitors();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    setCentralWidget(central);

    label = new QSelectLabel(this);
    auto* monitorBar = new QToolBar(this);
    auto* mapper = new QSignalMapper(this);
    const QIcon icon = imageIcon(QStringLiteral("images/monitor.png"));

    const int count = service ? service->monitorCount : 0;
    for (int i = 0; i < count; ++i) {
        auto* button = new QToolButton(this);
        button->setText(QStringLiteral("Monitor #") + QString::number(i + 1));
        button->setIcon(icon);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setCheckable(true);
        buttons.append(button);
        monitorBar->addWidget(button);
        connect(button, &QToolButton::clicked, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(button, i);
    }
    if (!buttons.isEmpty())
        buttons.first()->setChecked(true);

    connect(mapper, &QSignalMapper::mappedInt, this, &QSelectRegionWindow::switchDevice);
    connect(label, &QSelectLabel::rectSelected, this, &QSelectRegionWindow::rectSelectedSlot);

    layout->addWidget(monitorBar);
    layout->addWidget(label);

    switchDevice(0);
}

QSelectRegionWindow::~QSelectRegionWindow() = default;

void QSelectRegionWindow::switchDevice(int adapter_index)
{
    showScreenshot(adapter_index);
    label->monitorIndex = adapter_index;
    // A click on the checked button unchecks it; the shown monitor stays checked.
    for (QToolButton* button : qAsConst(buttons))
        button->setChecked(false);
    if (adapter_index >= 0 && adapter_index < buttons.size())
        buttons[adapter_index]->setChecked(true);
}

void QSelectRegionWindow::grabMonitors()
{
    const int count = service ? service->monitorCount : 0;
    screenshots.resize(std::max(1, count));
    for (int i = 0; i < count; ++i)
        grabMonitor(i);
    if (count == 0)
        screenshots[0].picture = cv::Mat(1, 1, CV_8UC4, cv::Scalar(0, 0, 0, 255));
}

void QSelectRegionWindow::grabMonitor(int index)
{
    Screenshot& shot = screenshots[index];
    const platform::Rect monitor = service->monitors()[index];
    const int width = monitor.width();
    const int height = monitor.height();
    if (width <= kMaxScreenshotSide && height <= kMaxScreenshotSide) {
        service->captureScreen(&shot.picture, index, nullptr, 0, nullptr);
    } else {
        const double fit = std::min(double(kMaxScreenshotSide) / width, double(kMaxScreenshotSide) / height);
        float scale = 0.0f;
        service->captureScreen(&shot.picture, index, nullptr, std::max(1, int(width * fit)), &scale);
        shot.monitorPixelsX = double(width) / shot.picture.cols;
        shot.monitorPixelsY = double(height) / shot.picture.rows;
    }
    scaleScreenshotForDisplay(shot.picture);
}

void QSelectRegionWindow::showScreenshot(int index)
{
    // An index without a monitor shows the first, as a capture of it would.
    shownIndex = index >= 0 && index < int(screenshots.size()) ? index : 0;
    const cv::Mat& screenshot = screenshots[shownIndex].picture;

    const QScreen* screen = cursorScreen();
    pixelRatio = screen ? screen->devicePixelRatio() : devicePixelRatioF();

    const QImage image(
        screenshot.data, screenshot.cols, screenshot.rows, static_cast<int>(screenshot.step), QImage::Format_ARGB32);
    QPixmap picture = QPixmap::fromImage(image);
    picture.setDevicePixelRatio(pixelRatio);
    label->setPixmap(picture);

    show();
    adjustSize();
    placeOnCursorScreen();
}

// The top-left corner of the screen that holds the pointer, frame included.
void QSelectRegionWindow::placeOnCursorScreen()
{
    if (const QScreen* screen = cursorScreen())
        move(screen->geometry().topLeft());
}

void QSelectRegionWindow::rectSelectedSlot()
{
    selection = label->selection;
    monitorIndex = label->monitorIndex;
    selection = labelToMonitor(selection, pixelRatio);
    const Screenshot& shot = screenshots[shownIndex];
    if (shot.monitorPixelsX != 1.0 || shot.monitorPixelsY != 1.0) {
        // A monitor read scaled down: from its screenshot's pixels to its own.
        const auto x = [&shot](int v) { return static_cast<int>(v * shot.monitorPixelsX); };
        const auto y = [&shot](int v) { return static_cast<int>(v * shot.monitorPixelsY); };
        selection = QRect(x(selection.x()), y(selection.y()), x(selection.width()), y(selection.height()));
    }
    emit rectSelected();
    close();
}
