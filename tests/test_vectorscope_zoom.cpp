// The vectorscope's scale (1x, 2x, 4x): where colours land on a 400-pixel
// plot (centre 200, radius 150, hue 0 straight up, hue 90 to the left), the
// wheel behind them, the hover highlight, and in the window the Z key, the
// info label, the picture and what config.ini keeps.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include "capture/QClickLabel.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QToolBar>
#include <QStyle>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <memory>
#include <tuple>

struct ZoomTag;
template <> struct MainWindowProbe<ZoomTag> {
    static int zoom(MainWindow& w) { return w.vectorscopeZoom; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static const cv::Mat& frameImage(MainWindow& w) { return w.frameImage; }
    static double selectedHue(MainWindow& w) { return w.selectedHue; }
};
using Probe = MainWindowProbe<ZoomTag>;

namespace {

// A colour image of one pixel per (hue degrees, saturation), value 1.
cv::Mat colourImage(const std::vector<std::pair<float, float>>& colours)
{
    cv::Mat hsv(1, static_cast<int>(colours.size()), CV_32FC3);
    for (size_t i = 0; i < colours.size(); ++i)
        hsv.at<cv::Vec3f>(0, static_cast<int>(i)) = cv::Vec3f(colours[i].first, colours[i].second, 1.0f);
    return hsv;
}

// The one cell a lone colour lights, as (x, y); (-1, -1) when none.
cv::Point cellOf(float hue, float saturation, int zoom)
{
    cv::Mat cells;
    scopes::accumulateHsv(colourImage({ { hue, saturation } }), 400, 150.0, 1.0f, cells, zoom);
    std::vector<cv::Point> lit;
    cv::findNonZero(cells, lit);
    return lit.size() == 1 ? lit[0] : cv::Point(-1, -1);
}

// Where the red plus sign of the pointer marker is centred.
cv::Point markerOf(float hue, float saturation, int zoom)
{
    cv::Mat scope(400, 400, CV_8UC3, cv::Scalar::all(0));
    scopes::drawPointerMarkerFor(scope, hue, saturation, 150.0, zoom);
    cv::Mat red;
    cv::inRange(scope, cv::Scalar(255, 0, 0), cv::Scalar(255, 0, 0), red);
    if (cv::countNonZero(red) != 25)
        return { -1, -1 };
    const cv::Rect box = cv::boundingRect(red);
    return { box.x + 6, box.y + 6 };
}

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

// 400 x 300, the pointer off it: the left half red at saturation 0.25
// (255, 191, 191), the right half red at saturation 0.5 (255, 127.5 -> 128).
void showTwoReds()
{
    screen().reset(400, 300, cv::Scalar(191, 191, 255));
    screen().screen(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(128, 128, 255, 255));
    screen().pointerPosition = platform::Point { -50, -50 };
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Which halves of the preview the hover highlight painted: "L", "R", "LR", "".
QString highlightedHalves(MainWindow& w)
{
    const cv::Mat& frame = Probe::frameImage(w);
    QString halves;
    if (frame.at<cv::Vec4b>(150, 100) == cv::Vec4b(0, 0, 255, 255))
        halves += QLatin1Char('L');
    if (frame.at<cv::Vec4b>(150, 300) == cv::Vec4b(0, 0, 255, 255))
        halves += QLatin1Char('R');
    return halves;
}

void hoverAt(QWidget* plot, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, plot->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
}

QString storedZoom()
{
    return readSettingsText(testSandbox().readFile(testSandbox().configFile()))
        .value(QStringLiteral("vectorscope_zoom"))
        .toString();
}

} // namespace

class TestVectorscopeZoom : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(testSandbox().configFile()); }

    // 150 x saturation pixels out at 1x; at zoom z where z x saturation lands
    // at 1x, on the rim (150 out) once that passes 1. The marker sits on the
    // cell. Hue 0 is straight up, hue 90 to the left.
    void coloursLandWhereTheirMagnifiedSaturationDoes()
    {
        const std::tuple<float, float, int, cv::Point> cases[] = {
            { 0.0f, 0.25f, 1, { 200, 162 } }, // 37.5 out, rounded away from zero: 38
            { 0.0f, 0.5f, 1, { 200, 125 } },
            { 0.0f, 0.25f, 2, { 200, 125 } }, // where 0.5 lands at 1x
            { 0.0f, 0.8f, 2, { 200, 50 } }, // 1.6: on the rim
            { 0.0f, 1.0f, 2, { 200, 50 } },
            { 90.0f, 0.25f, 2, { 125, 200 } },
            { 0.0f, 0.125f, 4, { 200, 125 } },
            { 0.0f, 0.2f, 4, { 200, 80 } }, // 0.8: 120 out
            { 180.0f, 0.3f, 4, { 200, 350 } }, // 1.2: on the rim, straight down
            { 0.0f, 0.0f, 4, { 200, 200 } }, // grey stays in the centre
        };
        for (const auto& [hue, saturation, zoom, place] : cases) {
            const QString what = QStringLiteral("hue %1 saturation %2 at %3x").arg(hue).arg(saturation).arg(zoom);
            QVERIFY2(cellOf(hue, saturation, zoom) == place, qPrintable(what));
            QVERIFY2(markerOf(hue, saturation, zoom) == place, qPrintable(what));
        }
        // The plotter magnifies the same way: a solid frame of saturation 0.25
        // red lights the plot around (200, 125) at 2x.
        cv::Mat wheel;
        scopes::renderColorWheel(wheel, 400, 400, 150.0, 2);
        scopes::VectorscopePlotter plotter;
        const cv::Mat frame(40, 40, CV_8UC4, cv::Scalar(191, 191, 255, 255));
        const cv::Mat scope = plotter.plot(frame, wheel, 150.0, {}, 2);
        QCOMPARE(scope.at<cv::Vec3b>(125, 200), cv::Vec3b(255, 255, 255));
        QCOMPARE(scope.at<cv::Vec3b>(162, 200), wheel.at<cv::Vec3b>(162, 200));
    }

    // Half-way out, straight up (hue 0): value 0.25 (64) and saturation 0.5 at
    // 1x (the others 0.25 x 0.5 x 255 -> 32), 0.25 at 2x (48), 0.125 at 4x (56).
    // The wheel is softened by a 3 x 3 blur, which may move a byte by one.
    void wheelShowsTheMagnifiedSaturations()
    {
        const std::pair<int, int> cases[] = { { 1, 32 }, { 2, 48 }, { 4, 56 } };
        for (const auto& [zoom, others] : cases) {
            cv::Mat wheel;
            scopes::renderColorWheel(wheel, 400, 400, 150.0, zoom);
            const cv::Vec3b pixel = wheel.at<cv::Vec3b>(125, 200);
            const bool near = std::abs(pixel[0] - 64) <= 1 && std::abs(pixel[1] - others) <= 1
                && std::abs(pixel[2] - others) <= 1;
            QVERIFY2(near,
                qPrintable(QStringLiteral("%1x: %2 %3 %4").arg(zoom).arg(pixel[0]).arg(pixel[1]).arg(pixel[2])));
        }
        cv::Mat plain, one;
        scopes::renderColorWheel(plain, 400, 400, 150.0);
        scopes::renderColorWheel(one, 400, 400, 150.0, 1);
        QVERIFY(samePicture(plain, one));
    }

    // Pointing half-way out towards red (the pointed direction is the hue plus
    // half a turn) takes the colours plotted there: at 2x saturation 0.25; on
    // the rim every colour drawn on it.
    void highlightTakesWhatIsPlottedUnderThePointer()
    {
        const cv::Mat hsv = colourImage({ { 0.0f, 0.25f }, { 0.0f, 0.5f }, { 0.0f, 0.8f }, { 0.0f, 0.125f } });
        const std::tuple<double, int, std::vector<int>> cases[] = {
            { 0.5, 1, { 1 } },
            { 0.5, 2, { 0 } },
            { 1.0, 2, { 1, 2 } },
            { 0.5, 4, { 3 } },
            { 1.0, 4, { 0, 1, 2 } },
        };
        for (const auto& [pointed, zoom, expected] : cases) {
            std::vector<int> pixels;
            scopes::matchingHuePixels(hsv, 0.5f, pointed, pixels, zoom);
            QVERIFY2(pixels == expected, qPrintable(QStringLiteral("%1 out at %2x").arg(pointed).arg(zoom)));
        }
    }

    // Z goes 1x, 2x, 4x, 1x; the info label and the toolbar say the scale, the
    // plot is the renderer's picture at that scale, config.ini keeps it.
    void zKeyCyclesTheScaleAndTheWindowShowsIt()
    {
        showTwoReds();
        const cv::Mat frame = screen().screen.clone();
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* info = w->findChild<QLabel*>(QStringLiteral("infoLabel"));
        auto* zoomAction = w->findChild<QAction*>(QStringLiteral("zoomAction"));
        QVERIFY(zoomAction);
        // After Help, before the grip and Exit, which keeps the right end.
        const QList<QAction*> buttons = w->findChild<QToolBar*>()->actions();
        QCOMPARE(buttons.indexOf(zoomAction), 8);
        QCOMPARE(buttons.last()->text(), QStringLiteral("Exit"));
        w->updateScreen();
        QVERIFY(info->text().endsWith(QLatin1String(" ms Vectorscope")));
        QVERIFY(samePicture(Probe::scopeImage(*w), scopes::renderStillScope(frame, 0, 400)));

        const std::tuple<int, const char*> steps[]
            = { { 2, " ms 2\u00D7 Vectorscope" }, { 4, " ms 4\u00D7 Vectorscope" }, { 1, " ms Vectorscope" } };
        for (const auto& [zoom, label] : steps) {
            QTest::keyClick(w.get(), Qt::Key_Z);
            QCOMPARE(Probe::zoom(*w), zoom);
            QVERIFY2(info->text().endsWith(QString::fromUtf8(label)), qPrintable(info->text()));
            QCOMPARE(zoomAction->text(), QString::number(zoom) + QChar(0x00D7));
            QCOMPARE(storedZoom(), QString::number(zoom));
            QVERIFY(samePicture(Probe::scopeImage(*w), scopes::renderStillScope(frame, 0, 400, zoom)));
        }
        zoomAction->trigger();
        QCOMPARE(Probe::zoom(*w), 2);
        // The Waveform has no scale to show.
        w->displayTrigger();
        QVERIFY2(info->text().endsWith(QLatin1String(" ms Waveform")), qPrintable(info->text()));
    }

    // At 2x the pointer half-way out towards red points at saturation 0.25
    // (the left half), at 1x at 0.5 (the right half); the marker of the pixel
    // under the pointer and a click land where the eye sees them.
    void pointingOnTheMagnifiedPlot()
    {
        showTwoReds();
        testSandbox().writeConfig("[General]\nvectorscope_zoom=2\n");
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        auto* plot = w->findChild<QClickLabel*>(QStringLiteral("plotLabel"));
        hoverAt(plot, QPoint(200, 125));
        w->updateScreen();
        QCOMPARE(highlightedHalves(*w), QStringLiteral("L"));
        hoverAt(plot, QPoint(200, 50)); // the rim: the louder red at 2x, both at 4x
        w->updateScreen();
        QCOMPARE(highlightedHalves(*w), QStringLiteral("R"));
        w->zoomTrigger(); // 4x
        QCOMPARE(highlightedHalves(*w), QStringLiteral("LR"));
        w->zoomTrigger(); // 1x
        hoverAt(plot, QPoint(200, 125));
        w->updateScreen();
        QCOMPARE(highlightedHalves(*w), QStringLiteral("R"));

        // The pointer on the left half: its marker sits 75 out at 2x.
        w->zoomTrigger();
        hoverAt(plot, QPoint(-10, -10));
        screen().pointerPosition = platform::Point { 100, 150 };
        w->updateScreen();
        const cv::Vec3b red(255, 0, 0);
        const cv::Mat& scope = Probe::scopeImage(*w);
        QVERIFY(scope.at<cv::Vec3b>(125 - 6, 200) == red && scope.at<cv::Vec3b>(125 + 6, 200) == red
            && scope.at<cv::Vec3b>(125, 194) == red && scope.at<cv::Vec3b>(125, 206) == red);
        // A click there picks the direction of that red (hue 0 plus half a turn), as at 1x.
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 125));
        QCOMPARE(Probe::selectedHue(*w), 0.5);
    }

    // The scale button must not push Exit off the toolbar into an overflow
    // menu (it did, on windows up to 270 pixels); below 300 it is left out,
    // and the toolbar is as it was without it.
    void toolbarKeepsEveryButtonAtEverySize()
    {
        for (int size : { 150, 200, 299, 300, 400, 600 }) {
            testSandbox().writeConfig("[General]\nwindow_size=" + QByteArray::number(size) + "\n");
            MainWindow w(nullptr, false, 0);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            auto* toolBar = w.findChild<QToolBar*>();
            for (QAction* action : toolBar->actions()) {
                if (!action->isVisible() || size < 300)
                    continue;
                QWidget* button = toolBar->widgetForAction(action);
                if (button && button->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding)
                    continue; // the spacer, which may shrink to nothing
                QVERIFY2(button && button->isVisible() && button->geometry().right() < toolBar->width(),
                    qPrintable(QStringLiteral("%1 at %2: its right edge %3, the toolbar %4 wide (%5 style, %6)")
                                   .arg(action->text())
                                   .arg(size)
                                   .arg(button ? button->geometry().right() : -1)
                                   .arg(toolBar->width())
                                   .arg(toolBar->style()->objectName())
                                   .arg(toolBar->font().toString())));
            }
            QCOMPARE(w.findChild<QAction*>(QStringLiteral("zoomAction"))->isVisible(), size >= 300);
        }
    }

    // What config.ini holds for the scale; anything but 1, 2 or 4 reads as 1x,
    // and the key is the program's own, which no rule name can overwrite.
    void storedScaleSurvivesARestart()
    {
        const std::pair<QByteArray, int> cases[] = {
            { "", 1 },
            { "vectorscope_zoom=2\n", 2 },
            { "vectorscope_zoom=4\n", 4 },
            { "vectorscope_zoom=1\n", 1 },
            { "vectorscope_zoom=3\n", 1 },
            { "vectorscope_zoom=8\n", 1 },
            { "vectorscope_zoom=0\n", 1 },
            { "vectorscope_zoom=-2\n", 1 },
            { "vectorscope_zoom=2.5\n", 1 },
            { "vectorscope_zoom=two\n", 1 },
            { "vectorscope_zoom=\n", 1 },
            { "vectorscope_zoom=\"4\"\n", 4 },
        };
        for (const auto& [line, zoom] : cases) {
            testSandbox().writeConfig("[General]\n" + line);
            MainWindow w(nullptr, false, 0);
            QVERIFY2(Probe::zoom(w) == zoom, line.constData());
        }
        testSandbox().writeConfig(QByteArray());
        {
            MainWindow w(nullptr, false, 0);
            w.zoomTrigger();
            w.zoomTrigger();
        }
        MainWindow restarted(nullptr, false, 0);
        QCOMPARE(Probe::zoom(restarted), 4);
        QVERIFY(isReservedSettingsKey(QStringLiteral("vectorscope_zoom")));
    }
};

QTEST_MAIN(TestVectorscopeZoom)
#include "test_vectorscope_zoom.moc"
