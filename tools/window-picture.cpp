// Pictures of the tool window for the README, drawn on the in-memory
// desktop: an image file as the whole screen, the window beside it as a
// user sees it, once per exposure view (off, clipping, false colour), side
// by side. docs/make-exposure-picture.sh runs it.
//
//   huelens-window-picture IMAGE OUT.png [WINDOW_SIZE]
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: huelens-window-picture IMAGE OUT.png [WINDOW_SIZE]\n");
        return 2;
    }
    // Settings of its own, never the user's.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QApplication app(argc, argv);
    const cv::Mat image = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (image.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString windowSize = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("400");
    const QString configDir = data.path() + QLatin1Char('/') + QCoreApplication::applicationName();
    QDir().mkpath(configDir);
    QFile config(configDir + QStringLiteral("/config.ini"));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write("[General]\nwindow_size=" + windowSize.toLatin1() + "\n");
    config.close();

    platform::MemoryDesktop& screen = platform::memoryDesktop();
    screen.reset(image.cols, image.rows);
    cv::cvtColor(image, screen.screen, cv::COLOR_BGR2BGRA);
    screen.pointerPosition = platform::Point { -100, -100 };

    std::vector<QImage> shots;
    {
        auto window = std::make_unique<MainWindow>(nullptr, false, 0);
        window->show();
        for (int view = 0; view < 3; ++view) {
            if (view > 0)
                window->exposureTrigger();
            window->updateScreen();
            // The refit and the labels' repaint run from the event loop.
            for (int i = 0; i < 5; ++i) {
                QApplication::processEvents();
                window->adjustWindowSize();
            }
            window->updateScreen();
            QApplication::processEvents();
            shots.push_back(window->grab().toImage());
        }
    }
    constexpr int gap = 12;
    int width = -gap, height = 0;
    for (const QImage& shot : shots) {
        width += shot.width() + gap;
        height = std::max(height, shot.height());
    }
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter painter(&out);
    int x = 0;
    for (const QImage& shot : shots) {
        painter.drawImage(x, 0, shot);
        x += shot.width() + gap;
    }
    painter.end();
    return out.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
