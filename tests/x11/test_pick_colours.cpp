// Colours on a real screen: the live vectorscope of two windows of known
// colours, picking harmony colours on it and copying them to the X
// clipboard with the real pointer, and the settings dialog describing a real
// foreign window. No window manager: focus is set with XSetInputFocus.
//
// Desktop, 1600 x 900: a pure red xterm at (0, 0) and a pure blue one at
// (484, 0), 484 x 316 each; the "Unknown" capture region (284, 50)-(684, 250)
// takes 200 columns of each. The program sits at (1150, 270).

#include "x11/EndToEnd.h"

#include "platform/Desktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <memory>

struct PickTag;
template <> struct MainWindowProbe<PickTag> {
    static cv::Mat scopeImage(MainWindow& w) { return w.scopeImage; }
    static cv::Mat captureImage(MainWindow& w) { return w.captureImage; }
    static QMainWindow* settingsWindow(MainWindow& w) { return w.settingsWindow; }
    static QTimer* appInfoTimer(MainWindow& w) { return w.appInfoTimer; }
    static QString foregroundTitle(MainWindow& w) { return QString::fromStdString(w.foregroundTitle); }
};
using Probe = MainWindowProbe<PickTag>;

using e2e::ForeignWindow;

namespace {

const QString kTitlePrefix = QStringLiteral("Korvant Huelens 1.0: ");
const QPoint kBareDesktop(1100, 600);
const QByteArray kRedAndBlueRegion = "[General]\nUnknown=0|284|50|684|250\n";

QString pixelName(const cv::Mat& rgb, const QPoint& at)
{
    const cv::Vec3b p = rgb.at<cv::Vec3b>(at.y(), at.x());
    return e2e::colourName(QColor(p[0], p[1], p[2]));
}

// Where the vectorscope plots full saturation of a hue, worked out by hand
// for window size 400: half 200, radius 150; hue 0 straight up, hue 240 at
// (200 - round(sin 240deg * 150), 200 - round(cos 240deg * 150)) = (200 + 130, 200 + 75).
const QPoint kRedSpot(200, 50);
const QPoint kBlueSpot(330, 275);

} // namespace

class TestPickColours : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void vectorscopeShowsTheHuesOnScreen();
    void harmonyColoursPickedOnTheLiveScopeReachTheClipboard();
    void settingsDialogDescribesTheWindowInFrontAndAppliesOk();

private:
    bool focusAndWait(unsigned long window);
    bool startProgram();
    void startCapturing(MainWindow& w);

    std::unique_ptr<ForeignWindow> red;
    std::unique_ptr<ForeignWindow> blue;
    std::unique_ptr<MainWindow> window;
};

void TestPickColours::initTestCase()
{
    red = std::make_unique<ForeignWindow>("left", "Colours", "red half", QColor(255, 0, 0), QPoint(0, 0));
    blue = std::make_unique<ForeignWindow>("right", "Colours", "blue half", QColor(0, 0, 255), QPoint(484, 0));
    for (ForeignWindow* w : { red.get(), blue.get() }) {
        QVERIFY2(w->waitUntilMapped() != 0, qPrintable(w->title()));
        const QString geometry = e2e::xdotool({ "getwindowgeometry", QString::number(w->id()) });
        QVERIFY2(geometry.contains(QLatin1String("Geometry: 484x316")), qPrintable(geometry));
    }
}

void TestPickColours::cleanup()
{
    window.reset();
}

bool TestPickColours::focusAndWait(unsigned long id)
{
    e2e::xdotool({ "windowfocus", "--sync", QString::number(id) });
    return e2e::waitFor([&] { return platform::desktop().foreground() == id; });
}

bool TestPickColours::startProgram()
{
    window = std::make_unique<MainWindow>(nullptr, false, 0);
    window->move(1150, 270);
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

void TestPickColours::startCapturing(MainWindow& w)
{
    QVERIFY(e2e::clickToolBarButton(w, QStringLiteral("Start capturing...")));
    QTRY_VERIFY(e2e::toolBarButton(w, QStringLiteral("Stop capturing")) != nullptr);
}

// Half the captured pixels are pure red (hue 0), half pure blue (hue 240),
// all at full saturation: the two plot cells they fall in carry equal
// weight and turn white, with the four cells beside each (which the
// smoothing lifts above the whitening threshold). Nothing else is white:
// the wheel reaches half brightness at most and no overlay is white.
void TestPickColours::vectorscopeShowsTheHuesOnScreen()
{
    testSandbox().writeConfig(kRedAndBlueRegion);
    QVERIFY(focusAndWait(red->id()));
    QVERIFY(startProgram());
    MainWindow& w = *window;
    QCOMPARE(w.windowTitle(), kTitlePrefix + QStringLiteral("Unknown"));
    startCapturing(w);

    // 400 x 200 desktop pixels at the window's 400 columns: one to one.
    QTRY_COMPARE(Probe::captureImage(w).rows, 200);
    const cv::Mat frame = Probe::captureImage(w);
    QCOMPARE(e2e::uniformColour(frame(cv::Rect(0, 0, 200, 200))), QStringLiteral("#ff0000"));
    QCOMPARE(e2e::uniformColour(frame(cv::Rect(200, 0, 200, 200))), QStringLiteral("#0000ff"));

    // The window holds the whole plot above the preview, also on this screen
    // of 900 pixels, where Qt's fitting would stop at 600 and let the
    // preview cover the bottom of the plot.
    auto* plot = w.findChild<QLabel*>(QStringLiteral("plotLabel"));
    auto* preview = w.findChild<QLabel*>(QStringLiteral("previewLabel"));
    QVERIFY(plot && preview && preview->isVisible());
    QTRY_VERIFY2(preview->mapTo(&w, QPoint(0, 0)).y() >= plot->mapTo(&w, QPoint(0, plot->height())).y(),
        qPrintable(QStringLiteral("window %1 high").arg(w.height())));

    const cv::Mat scope = Probe::scopeImage(w);
    QCOMPARE(scope.cols, 400);
    QCOMPARE(scope.rows, 400);
    QCOMPARE(pixelName(scope, kRedSpot), QStringLiteral("#ffffff"));
    QCOMPARE(pixelName(scope, kBlueSpot), QStringLiteral("#ffffff"));
    int white = 0;
    for (int y = 0; y < scope.rows; ++y) {
        for (int x = 0; x < scope.cols; ++x) {
            if (pixelName(scope, QPoint(x, y)) != QLatin1String("#ffffff"))
                continue;
            ++white;
            const QPoint p(x, y);
            QVERIFY2((p - kRedSpot).manhattanLength() <= 1 || (p - kBlueSpot).manhattanLength() <= 1,
                qPrintable(QStringLiteral("white at (%1, %2)").arg(x).arg(y)));
        }
    }
    QCOMPARE(white, 10);
}

// A newcomer's round: a left click on the red spot of the live scope picks
// the base hue, a right click on the blue spot the spread; S and L are set
// on their bars; each swatch click puts exactly the code its tooltip shows
// on the X clipboard, read back by another program.
void TestPickColours::harmonyColoursPickedOnTheLiveScopeReachTheClipboard()
{
    testSandbox().writeConfig(kRedAndBlueRegion);
    QVERIFY(focusAndWait(red->id()));
    QVERIFY(startProgram());
    MainWindow& w = *window;
    startCapturing(w);
    auto* plot = w.findChild<QLabel*>(QStringLiteral("plotLabel"));
    QVERIFY(plot);
    QTRY_COMPARE(pixelName(Probe::scopeImage(w), kRedSpot), QStringLiteral("#ffffff"));

    QList<QLabel*> swatches;
    for (int i = 0; i < 4; ++i)
        swatches.append(w.findChild<QLabel*>(QStringLiteral("colorSwatch%1").arg(i)));
    QVERIFY(!swatches.contains(nullptr));

    // Picks count only inside the full-saturation circle, so the clicks go one
    // pixel inside the spots. Base: straight up from the centre, 0.5 turns;
    // swatch 0 shows hue 1.0 (red) with S 0.75 and L 0.5: q = 0.875,
    // p = 0.125, so (223.125, 31.875, 31.875) -> (223, 32, 32).
    e2e::click(plot->mapToGlobal(kRedSpot + QPoint(0, 1)), 1);
    QTRY_VERIFY(swatches[0]->isVisible());
    QCOMPARE(swatches[0]->toolTip(), QStringLiteral("#df2020 (click to copy)"));
    e2e::click(e2e::centreOnDesktop(swatches[0]));
    QTRY_COMPARE(e2e::clipboardSeenByAnotherProgram(), QStringLiteral("#df2020"));

    // Spread: (329, 274) lies (atan2(-129, -74) + pi) / 2pi = 0.16711 turns
    // round, so the spread is 0.33289 and swatch 2 shows hue 0.66711, the
    // blue that was clicked.
    e2e::click(plot->mapToGlobal(kBlueSpot - QPoint(1, 1)), 3);
    QTRY_VERIFY(swatches[2]->isVisible());
    QVERIFY(swatches[3]->isVisible());

    // S and L from the pointer on their bars, 185 pixels long: 37 / 185 = 0.2, 111 / 185 = 0.6.
    auto* saturation = w.findChild<QLabel*>(QStringLiteral("saturationSlider"));
    auto* lightness = w.findChild<QLabel*>(QStringLiteral("lightnessSlider"));
    QVERIFY(saturation && lightness);
    QTRY_VERIFY(saturation->isVisible() && lightness->isVisible());
    QCOMPARE(saturation->width(), 185);
    auto textOf = [](QLabel* control) {
        for (QLabel* child : control->findChildren<QLabel*>())
            if (!child->text().isEmpty())
                return child->text();
        return QString();
    };
    e2e::click(saturation->mapToGlobal(QPoint(37, 5)));
    e2e::click(lightness->mapToGlobal(QPoint(111, 5)));
    QTRY_COMPARE(textOf(saturation), QStringLiteral(" S: 0.2"));
    QTRY_COMPARE(textOf(lightness), QStringLiteral(" L: 0.6"));

    // Hue 0.66711 with S 0.2 and L 0.6: q = 0.68, p = 0.52; green falls on
    // p (132.6), red just past it (132.7), blue on q (173.4): (133, 133, 173).
    QTRY_COMPARE(swatches[2]->toolTip(), QStringLiteral("#8585ad (click to copy)"));
    e2e::click(e2e::centreOnDesktop(swatches[2]));
    QTRY_COMPARE(e2e::clipboardSeenByAnotherProgram(), swatches[2]->toolTip().left(7));
    QCOMPARE(e2e::clipboardSeenByAnotherProgram(), QStringLiteral("#8585ad"));
}

// The dialog shows what a rule must match for the window in front, keeps it
// while the dialog or the program itself is in front, and "OK" saves and
// applies a size and a rule typed with the real keyboard.
void TestPickColours::settingsDialogDescribesTheWindowInFrontAndAppliesOk()
{
    testSandbox().writeConfig("[General]\n");
    ForeignWindow retoucher("retoucher", "Retouch", "portrait edit", QColor(0x80, 0x60, 0x40), QPoint(0, 400));
    QVERIFY(retoucher.waitUntilMapped() != 0);
    const QString executableName
        = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(retoucher.pid()))).fileName();
    QVERIFY(!executableName.isEmpty());

    QVERIFY(focusAndWait(red->id()));
    QVERIFY(startProgram());
    MainWindow& w = *window;
    QCOMPARE(w.width(), 400);
    QVERIFY(e2e::clickToolBarButton(w, QStringLiteral("Settings")));
    QTRY_VERIFY(Probe::settingsWindow(w) != nullptr);
    QPointer<QMainWindow> dialog = Probe::settingsWindow(w);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Huelens Settings"));
    auto* classLabel = dialog->findChild<QLabel*>(QStringLiteral("classLabel"));
    auto* titleLabel = dialog->findChild<QLabel*>(QStringLiteral("titleLabel"));
    auto* executableLabel = dialog->findChild<QLabel*>(QStringLiteral("executableLabel"));
    QVERIFY(classLabel && titleLabel && executableLabel);

    QVERIFY(focusAndWait(retoucher.id()));
    QTRY_COMPARE(classLabel->text(), QStringLiteral("retoucher.Retouch"));
    QCOMPARE(titleLabel->text(), QStringLiteral("portrait edit"));
    QCOMPARE(executableLabel->text(), executableName);

    // The dialog in front: its own texts are read, the labels keep the retoucher's.
    QVERIFY(focusAndWait(dialog->winId()));
    QTRY_COMPARE(Probe::foregroundTitle(w), QStringLiteral("Huelens Settings"));
    QCOMPARE(classLabel->text(), QStringLiteral("retoucher.Retouch"));
    QCOMPARE(titleLabel->text(), QStringLiteral("portrait edit"));
    QCOMPARE(executableLabel->text(), executableName);

    // The program's own window in front: two refreshes later, still the retoucher.
    QVERIFY(focusAndWait(w.winId()));
    QList<unsigned long> inFront;
    connect(Probe::appInfoTimer(w), &QTimer::timeout, this, [&] { inFront.append(platform::desktop().foreground()); });
    QTRY_VERIFY(inFront.size() >= 2);
    QCOMPARE(inFront.first(), static_cast<unsigned long>(w.winId()));
    QCOMPARE(inFront.last(), static_cast<unsigned long>(w.winId()));
    QCOMPARE(classLabel->text(), QStringLiteral("retoucher.Retouch"));
    QCOMPARE(titleLabel->text(), QStringLiteral("portrait edit"));
    QCOMPARE(executableLabel->text(), executableName);

    // Typed as a user types: a new size and a rule for the retoucher.
    auto* sizeSpin = dialog->findChild<QSpinBox*>(QStringLiteral("windowSizeSpin"));
    auto* appsEdit = dialog->findChild<QTextEdit*>(QStringLiteral("appsEdit"));
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("okButton"));
    QVERIFY(sizeSpin && appsEdit && ok);
    e2e::click(e2e::centreOnDesktop(sizeSpin));
    QTRY_VERIFY(dialog->isActiveWindow());
    QVERIFY(focusAndWait(dialog->winId()));
    QTRY_VERIFY(sizeSpin->hasFocus());
    e2e::key(QStringLiteral("ctrl+a"));
    e2e::type(QStringLiteral("300"));
    QTRY_COMPARE(sizeSpin->text(), QStringLiteral("300"));
    e2e::click(e2e::centreOnDesktop(appsEdit));
    QTRY_VERIFY(appsEdit->hasFocus());
    e2e::type(QStringLiteral("Retoucher:retoucher"));
    QTRY_COMPARE(appsEdit->toPlainText(), QStringLiteral("Retoucher:retoucher"));

    e2e::click(e2e::centreOnDesktop(ok));
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(e2e::valueOnDisk(testSandbox().configFile(), QStringLiteral("window_size")), QStringLiteral("300"));
    QCOMPARE(
        e2e::valueOnDisk(testSandbox().configFile(), QStringLiteral("apps")), QStringLiteral("Retoucher:retoucher"));
    QTRY_COMPARE(w.width(), 300);

    startCapturing(w);
    QVERIFY(focusAndWait(retoucher.id()));
    QTRY_COMPARE(w.windowTitle(), kTitlePrefix + QStringLiteral("Retoucher"));
}

QTEST_MAIN(TestPickColours)
#include "test_pick_colours.moc"
