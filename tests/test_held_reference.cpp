// A scope held as a reference: the layer a held picture makes and how it is
// drawn under the live scope, then in the window, on the scripted desktop,
// the H key and its button, each display mode's own reference, the
// vectorscope's scale, and a reference read from a picture file. A 400-pixel
// vectorscope has its centre at (200, 200) and full saturation 150 out; pure
// red lands straight up at (200, 50), pure blue (hue 240) at (330, 275).
#include "imagefile/StillImage.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/HeldReference.h"
#include "scopes/ScopePath.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QColor>
#include <QFile>
#include <QLabel>
#include <QToolBar>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>

struct HeldReferenceTag;
template <> struct MainWindowProbe<HeldReferenceTag> {
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static bool holdImage(MainWindow& w, const QString& file) { return w.holdReferenceImage(file); }
    static QLabel* referenceStatus(MainWindow& w) { return w.referenceStatusLabel; }
    static double selectedHue(MainWindow& w) { return w.selectedHue; }
    static bool held(MainWindow& w) { return w.referenceHeld(); }
};
using Probe = MainWindowProbe<HeldReferenceTag>;

namespace {

const cv::Vec3b kWhite(255, 255, 255);

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

// One 400 x 300 monitor of one colour (R, G, B), the pointer off it.
cv::Mat showColour(int r, int g, int b)
{
    screen().reset(400, 300, cv::Scalar(b, g, r));
    screen().pointerPosition = platform::Point { -50, -50 };
    return screen().screen.clone();
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The scope with nothing counted on it, worked out apart from the code under
// test: the wheel, or black with the ten grey graticule rows.
cv::Mat blankScope(int mode)
{
    cv::Mat blank;
    if (mode == 0) {
        scopes::renderColorWheel(blank, 400, 400, 150.0);
        return blank;
    }
    blank = cv::Mat::zeros(266, 400, CV_8UC3);
    for (int i = 0; i < 10; ++i)
        blank.row(static_cast<int>(static_cast<float>(i) * 266 / 10)).setTo(cv::Scalar::all(50));
    return blank;
}

// Whether `pixel` was moved from `blank` toward the reference's colour, channel by channel.
bool towardReference(const cv::Vec3b& pixel, const cv::Vec3b& blank)
{
    bool moved = false;
    for (int c = 0; c < 3; ++c) {
        const int want = scopes::kReferenceColour[c] - blank[c];
        const int got = pixel[c] - blank[c];
        if (want == 0 ? got != 0 : (got * want < 0 || std::abs(got) > std::abs(want)))
            return false;
        moved = moved || got != 0;
    }
    return moved;
}

// What a picture with a held reference must be, against the live picture
// alone and the reference's picture alone: the live picture wherever it
// shows anything; the blank scope where neither does; drawn toward the
// reference's colour where only the reference does. Empty when it is so,
// else what is wrong, for the message.
QString checkDrawnUnder(const cv::Mat& shown, const cv::Mat& live, const cv::Mat& held, const cv::Mat& blank)
{
    if (shown.size() != live.size() || held.size() != live.size() || blank.size() != live.size())
        return QStringLiteral("pictures of different sizes");
    int referencePixels = 0;
    for (int y = 0; y < shown.rows; ++y)
        for (int x = 0; x < shown.cols; ++x) {
            const cv::Vec3b s = shown.at<cv::Vec3b>(y, x), l = live.at<cv::Vec3b>(y, x), h = held.at<cv::Vec3b>(y, x),
                            b = blank.at<cv::Vec3b>(y, x);
            const QString at = QStringLiteral(" at (%1, %2)").arg(x).arg(y);
            if (l != b) {
                if (s != l)
                    return QStringLiteral("a live pixel changed") + at;
            } else if (h == b) {
                if (s != b)
                    return QStringLiteral("a pixel neither lights changed") + at;
            } else if (!towardReference(s, b)) {
                return QStringLiteral("the reference is not drawn") + at;
            } else {
                ++referencePixels;
            }
        }
    return referencePixels > 0 ? QString() : QStringLiteral("no pixel of the reference shows");
}

// Counts the pixels in `area` of `picture` that differ from `blank`.
int litIn(const cv::Mat& picture, const cv::Mat& blank, const cv::Rect& area)
{
    cv::Mat difference;
    cv::absdiff(picture(area), blank(area), difference);
    cv::cvtColor(difference, difference, cv::COLOR_RGB2GRAY);
    return cv::countNonZero(difference);
}

// A main window shown and in front, where its keys work.
struct Window {
    std::unique_ptr<MainWindow> w = std::make_unique<MainWindow>(nullptr, false, 0);
    Window()
    {
        w->show();
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("the main window did not become active");
    }
    QLabel* info() const { return w->findChild<QLabel*>(QStringLiteral("infoLabel")); }
    QAction* button() const { return w->findChild<QAction*>(QStringLiteral("referenceAction")); }
    const cv::Mat& scope() const { return Probe::scopeImage(*w); }
    void key(Qt::Key key) const { QTest::keyClick(w.get(), key); }
};

} // namespace

class TestHeldReference : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(testSandbox().configFile()); }

    // A 3 x 3 block plainly lit on a blank picture: its rim is the outline
    // (255), its middle a tint between faint and clear, clearer for a
    // brighter scope; the rest is not drawn. A stray cell barely lit is a
    // faint tint, never outlined; one plainly lit on the picture's edge is.
    void layerOutlinesWhatThePictureLightsAndIsDrawnUnderTheLive()
    {
        const cv::Mat blank(20, 30, CV_8UC3, cv::Scalar(10, 20, 30));
        cv::Mat lit = blank.clone();
        lit(cv::Rect(10, 5, 3, 3)).setTo(cv::Scalar(200, 200, 200));
        lit.at<cv::Vec3b>(15, 20) = cv::Vec3b(11, 20, 30); // one step, one channel
        lit.at<cv::Vec3b>(0, 29) = cv::Vec3b(10, 20, 130);
        scopes::ReferenceLayer layer = scopes::referenceLayerOf(lit, blank);
        QCOMPARE(layer.strength.size(), blank.size());
        for (int y = 5; y < 8; ++y)
            for (int x = 10; x < 13; ++x)
                if (x != 11 || y != 6)
                    QCOMPARE(layer.strength.at<uchar>(y, x), uchar(255));
        const int middle = layer.strength.at<uchar>(6, 11);
        QVERIFY2(middle > 0 && middle < 255, qPrintable(QString::number(middle)));
        const int stray = layer.strength.at<uchar>(15, 20);
        QVERIFY2(stray > 0 && stray < middle, qPrintable(QString::number(stray)));
        QCOMPARE(layer.strength.at<uchar>(0, 29), uchar(255));
        QCOMPARE(cv::countNonZero(layer.strength), 11);

        // A brighter middle is drawn more strongly, and the blank is kept.
        cv::Mat brighter = lit.clone();
        brighter(cv::Rect(10, 5, 3, 3)).setTo(cv::Scalar(255, 255, 255));
        QVERIFY(scopes::referenceLayerOf(brighter, blank).strength.at<uchar>(6, 11) > middle);
        QVERIFY(samePicture(layer.blank, blank));

        // Drawn only where the live picture still shows the blank scope: the
        // outline in the reference's colour itself, the tint part of the way
        // there; a live pixel on the outline stays as it is.
        cv::Mat live = blank.clone();
        live.at<cv::Vec3b>(5, 12) = cv::Vec3b(255, 0, 0);
        cv::Mat shown = live.clone();
        scopes::drawReference(shown, layer);
        QCOMPARE(shown.at<cv::Vec3b>(5, 12), cv::Vec3b(255, 0, 0));
        QCOMPARE(shown.at<cv::Vec3b>(5, 10), scopes::kReferenceColour);
        QVERIFY(towardReference(shown.at<cv::Vec3b>(6, 11), blank.at<cv::Vec3b>(6, 11)));
        QVERIFY(shown.at<cv::Vec3b>(6, 11) != scopes::kReferenceColour);
        QVERIFY(checkDrawnUnder(shown, live, lit, blank).isEmpty());
        // A layer made for another size draws nothing (the window size changed since).
        cv::Mat larger(40, 30, CV_8UC3, cv::Scalar(10, 20, 30));
        const cv::Mat before = larger.clone();
        scopes::drawReference(larger, layer);
        QVERIFY(samePicture(larger, before));
    }

    // A picture file becomes a frame of the width asked for, as a capture of
    // it would be; what is no picture, or claims more pixels than the limit
    // in its header (decoding would take their whole size in memory), is
    // refused with the reason, before anything is decoded.
    void stillImagesAreReadWithinBounds()
    {
        QTemporaryDir folder;
        const auto name
            = [&](const char* file) { return QFile::encodeName(folder.filePath(QLatin1String(file))).toStdString(); };
        const cv::Mat picture(90, 160, CV_8UC3, cv::Scalar(40, 120, 200));
        QVERIFY(cv::imwrite(name("still.jpg"), picture));
        const scopes::StillImage still = scopes::readStillImage(name("still.jpg"), 400);
        QVERIFY2(still.problem.empty(), still.problem.c_str());
        QCOMPARE(still.frame.size(), cv::Size(400, 225));
        QCOMPARE(still.frame.type(), CV_8UC4);
        QVERIFY(samePicture(still.frame, scopes::frameFromImage(cv::imread(name("still.jpg")), 400)));

        // A JPEG that claims 20000 x 10000 pixels in its frame header (SOF0), after an APP0 segment.
        const unsigned char header[] = { 0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xC0, 0x00, 0x11, 0x08,
            0x27, 0x10, 0x4E, 0x20, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xD9 };
        QFile bomb(folder.filePath(QStringLiteral("bomb.jpg")));
        QVERIFY(
            bomb.open(QIODevice::WriteOnly) && bomb.write(reinterpret_cast<const char*>(header), sizeof header) > 0);
        bomb.close();
        QFile(folder.filePath(QStringLiteral("empty.png"))).open(QIODevice::WriteOnly);
        const std::pair<const char*, const char*> refused[] = {
            { "bomb.jpg", "it holds more than 134 million pixels" },
            { "empty.png", "it is empty" },
            { "missing.png", "there is no file there" },
        };
        for (const auto& [file, why] : refused) {
            const scopes::StillImage image = scopes::readStillImage(name(file), 400);
            QVERIFY2(image.frame.empty() && image.problem == why, file);
        }
    }

    // The layer of a frame is drawn by the scopes' own arithmetic: a red
    // frame's where red is plotted, at the scale asked for, and in the
    // Parade in the red panel's top and the others' bottom rows.
    void layerOfAFrameLiesWhereTheScopePlotsIt()
    {
        // Red at saturation 0.25 (255, 191, 191): 38 out at 1x, 75 out at 2x.
        const cv::Mat pale(30, 40, CV_8UC4, cv::Scalar(191, 191, 255, 255));
        const scopes::ReferenceLayer one = scopes::referenceLayer(pale, 0, 400, 1);
        const scopes::ReferenceLayer two = scopes::referenceLayer(pale, 0, 400, 2);
        QVERIFY(one.strength.at<uchar>(162, 200) > 0 && one.strength.at<uchar>(125, 200) == 0);
        QVERIFY(two.strength.at<uchar>(125, 200) > 0 && two.strength.at<uchar>(162, 200) == 0);
        // Not the skin-tone line: the live picture draws its own.
        QCOMPARE(one.strength.at<uchar>(100, 168), uchar(0));

        const cv::Mat red(30, 40, CV_8UC4, cv::Scalar(0, 0, 255, 255));
        const scopes::ReferenceLayer parade = scopes::referenceLayer(red, 2, 400, 1);
        QCOMPARE(parade.strength.size(), cv::Size(400, 266));
        QVERIFY(parade.strength.at<uchar>(1, 300) > 0); // red panel, top
        QVERIFY(parade.strength.at<uchar>(1, 60) == 0); // blue panel, top
        QVERIFY(parade.strength.at<uchar>(264, 60) > 0); // blue panel, bottom
        QVERIFY(scopes::referenceLayer(cv::Mat(), 0, 400, 1).none());
    }

    // A red screen held, then a blue screen: red's direction shows the
    // reference, blue's the live plot; every live pixel is as it was. H
    // again: exactly the blue screen's picture. The same in the Waveform (a
    // black screen held under a white one) and in the Parade (red under
    // blue), on every path the processor runs.
    void heldScreenIsDrawnUnderTheNextAndReleasedWithoutATrace_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("heldColour");
        QTest::addColumn<QColor>("liveColour");
        QTest::newRow("vectorscope") << 0 << QColor(255, 0, 0) << QColor(0, 0, 255);
        QTest::newRow("waveform") << 1 << QColor(0, 0, 0) << QColor(255, 255, 255);
        QTest::newRow("parade") << 2 << QColor(255, 0, 0) << QColor(0, 0, 255);
    }

    void heldScreenIsDrawnUnderTheNextAndReleasedWithoutATrace()
    {
        QFETCH(int, mode);
        QFETCH(QColor, heldColour);
        QFETCH(QColor, liveColour);
        const cv::Mat blank = blankScope(mode);
        scopes::setScopePath(scopes::ScopePath::Plain);
        const cv::Mat heldAlone
            = scopes::renderStillScope(showColour(heldColour.red(), heldColour.green(), heldColour.blue()), mode, 400);
        const cv::Mat liveAlone
            = scopes::renderStillScope(showColour(liveColour.red(), liveColour.green(), liveColour.blue()), mode, 400);
        for (const scopes::ScopePath path : scopes::runnableScopePaths()) {
            scopes::setScopePath(path);
            const QString on = QStringLiteral(" on the %1 path").arg(QLatin1String(scopes::scopePathName(path)));
            Window window;
            for (int m = 0; m < mode; ++m)
                window.w->displayTrigger();
            showColour(heldColour.red(), heldColour.green(), heldColour.blue());
            window.w->updateScreen();
            QVERIFY2(samePicture(window.scope(), heldAlone), qPrintable(on));
            QCOMPARE(window.button()->text(), QStringLiteral("Hold the scope as a reference"));
            window.key(Qt::Key_H);
            QVERIFY2(window.info()->text().endsWith(QString::fromUtf8(" \u00B7 reference")),
                qPrintable(window.info()->text()));
            QCOMPARE(window.button()->text(), QStringLiteral("Release the reference"));
            QVERIFY(window.button()->isChecked());

            showColour(liveColour.red(), liveColour.green(), liveColour.blue());
            window.w->updateScreen();
            const QString wrong = checkDrawnUnder(window.scope(), liveAlone, heldAlone, blank);
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong + on));
            window.w->updateScreen(); // an unchanged frame keeps it
            QVERIFY2(checkDrawnUnder(window.scope(), liveAlone, heldAlone, blank).isEmpty(), qPrintable(on));

            window.button()->trigger();
            QVERIFY2(samePicture(window.scope(), liveAlone), qPrintable(on));
            QVERIFY(!window.info()->text().contains(QStringLiteral("reference")));
            QCOMPARE(window.button()->text(), QStringLiteral("Hold the scope as a reference"));
            window.w->updateScreen();
            QVERIFY2(samePicture(window.scope(), liveAlone), qPrintable(on));
        }
        scopes::setScopePath(scopes::runnableScopePaths().front());
    }

    // The vectorscope's reference is red's, the Waveform's white's; each
    // mode shows its own, and a mode without one shows the plain picture.
    void eachDisplayModeKeepsItsOwnReference()
    {
        Window window;
        const cv::Mat red = showColour(255, 0, 0);
        window.w->updateScreen();
        window.key(Qt::Key_H);
        window.key(Qt::Key_D); // Waveform, nothing held
        QVERIFY2(window.info()->text().endsWith(QLatin1String(" ms Waveform")), qPrintable(window.info()->text()));
        QCOMPARE(window.button()->text(), QStringLiteral("Hold the scope as a reference"));
        QVERIFY(samePicture(window.scope(), scopes::renderStillScope(red, 1, 400)));
        const cv::Mat white = showColour(255, 255, 255);
        window.w->updateScreen();
        window.key(Qt::Key_H);

        const cv::Mat grey = showColour(128, 128, 128); // the centre of the vectorscope, the middle of the Waveform
        window.key(Qt::Key_D); // Parade, nothing held
        QVERIFY(samePicture(window.scope(), scopes::renderStillScope(grey, 2, 400)));
        window.key(Qt::Key_D); // Vectorscope: red's
        QVERIFY(window.info()->text().endsWith(QString::fromUtf8(" ms Vectorscope \u00B7 reference")));
        QVERIFY(checkDrawnUnder(window.scope(), scopes::renderStillScope(grey, 0, 400),
            scopes::renderStillScope(red, 0, 400), blankScope(0))
                    .isEmpty());
        window.key(Qt::Key_D); // Waveform: white's
        QVERIFY(window.info()->text().endsWith(QString::fromUtf8(" ms Waveform \u00B7 reference")));
        QVERIFY(checkDrawnUnder(window.scope(), scopes::renderStillScope(grey, 1, 400),
            scopes::renderStillScope(white, 1, 400), blankScope(1))
                    .isEmpty());
        // Releasing the Waveform's leaves the vectorscope's.
        window.key(Qt::Key_H);
        QVERIFY(samePicture(window.scope(), scopes::renderStillScope(grey, 1, 400)));
        window.key(Qt::Key_D);
        window.key(Qt::Key_D);
        QVERIFY(window.info()->text().endsWith(QString::fromUtf8(" \u00B7 reference")));
    }

    // Held at 1x, a pale red lies 38 out; at 2x the same reference lies 75
    // out, where the live plot of that frame would, and nothing of it stays
    // at 38. The live frame is grey, in the centre.
    void referenceFollowsTheVectorscopesScale()
    {
        Window window;
        showColour(255, 191, 191);
        window.w->updateScreen();
        window.key(Qt::Key_H);
        showColour(128, 128, 128);
        window.w->updateScreen();
        const cv::Rect at38(195, 157, 11, 11), at75(195, 120, 11, 11);
        cv::Mat wheel;
        scopes::renderColorWheel(wheel, 400, 400, 150.0, 1);
        QVERIFY(litIn(window.scope(), wheel, at38) > 0);
        QCOMPARE(litIn(window.scope(), wheel, at75), 0);
        window.key(Qt::Key_Z);
        scopes::renderColorWheel(wheel, 400, 400, 150.0, 2);
        QVERIFY(window.info()->text().endsWith(QString::fromUtf8(" ms 2\u00D7 Vectorscope \u00B7 reference")));
        QVERIFY(litIn(window.scope(), wheel, at75) > 0);
        QCOMPARE(litIn(window.scope(), wheel, at38), 0);
    }

    // A picture file held as the reference gives the very picture that
    // holding the same picture on screen gives; a file that cannot be read
    // says why, plainly, and changes nothing.
    void referenceFromAFileEqualsTheSamePictureOnScreen()
    {
        // Left half red, right half green at saturation 0.5: two spots.
        cv::Mat picture(300, 400, CV_8UC3, cv::Scalar(0, 0, 255));
        picture(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(128, 255, 128));
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("graded &amp; still.png"));
        QVERIFY(cv::imwrite(QFile::encodeName(file).toStdString(), picture));

        Window onScreen;
        screen().reset(400, 300);
        cv::cvtColor(picture, screen().screen, cv::COLOR_BGR2BGRA);
        onScreen.w->updateScreen();
        onScreen.key(Qt::Key_H);
        const cv::Mat blue = showColour(0, 0, 255);
        onScreen.w->updateScreen();
        const cv::Mat held = onScreen.scope().clone();
        QVERIFY(!samePicture(held, scopes::renderStillScope(blue, 0, 400)));

        Window fromFile;
        fromFile.w->settingsTrigger();
        QLabel* status = Probe::referenceStatus(*fromFile.w);
        QVERIFY(status);
        fromFile.w->updateScreen();
        const cv::Mat plain = fromFile.scope().clone();
        const QString missing = folder.filePath(QStringLiteral("missing.png"));
        const QString notAPicture = folder.filePath(QStringLiteral("notes.png"));
        QFile notes(notAPicture);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a picture\n") > 0);
        notes.close();
        const std::pair<QString, const char*> failures[] = {
            { missing, "there is no file there" },
            { folder.path(), "it is not a file (a folder, a device or a pipe)" },
            { notAPicture, "it is not a picture that can be read" },
        };
        for (const auto& [path, why] : failures) {
            QVERIFY(!Probe::holdImage(*fromFile.w, path));
            QCOMPARE(status->text(), QStringLiteral("Not held: ") + path + QStringLiteral(": ") + why + '.');
            QCOMPARE(status->textFormat(), Qt::PlainText);
            fromFile.w->updateScreen();
            QVERIFY(samePicture(fromFile.scope(), plain));
            QVERIFY(!fromFile.info()->text().contains(QStringLiteral("reference")));
        }
        QVERIFY(Probe::holdImage(*fromFile.w, file));
        QCOMPARE(status->text(), QStringLiteral("graded &amp; still.png is held as the Vectorscope reference."));
        QVERIFY(samePicture(fromFile.scope(), held));
        QCOMPARE(fromFile.button()->text(), QStringLiteral("Release the reference"));
        fromFile.button()->trigger();
        QVERIFY(samePicture(fromFile.scope(), plain));
    }

    // The pointer's marker and the harmony picks stay on top of a reference,
    // and a click still picks a hue.
    void pickingWorksOverAReference()
    {
        Window window;
        showColour(255, 0, 0);
        window.w->updateScreen();
        window.key(Qt::Key_H);
        showColour(0, 0, 255);
        screen().pointerPosition = platform::Point { 10, 10 }; // on the blue frame
        auto* plot = window.w->findChild<QWidget*>(QStringLiteral("plotLabel"));
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
        QCOMPARE(Probe::selectedHue(*window.w), 0.5);
        // The base line points straight up, through the reference of red.
        int yellow = 0;
        for (int y = 45; y < 56; ++y)
            yellow += window.scope().at<cv::Vec3b>(y, 200)[2] < 100 && window.scope().at<cv::Vec3b>(y, 200)[0] > 150;
        QVERIFY(yellow > 0);
        // The marker of the blue pixel under the pointer: red plus sign at (330, 275).
        QCOMPARE(window.scope().at<cv::Vec3b>(275 - 6, 330), cv::Vec3b(255, 0, 0));
        QCOMPARE(window.scope().at<cv::Vec3b>(275, 330 + 6), cv::Vec3b(255, 0, 0));
    }

    // Nothing captured (-skipus): the button holds nothing, and does not
    // stay pressed as if it had (it checked itself and stayed so).
    void nothingToHoldWithoutACapture()
    {
        MainWindow w(nullptr, false, 1);
        QAction* button = w.findChild<QAction*>(QStringLiteral("referenceAction"));
        button->trigger();
        QVERIFY(!Probe::held(w));
        QCOMPARE(button->text(), QStringLiteral("Hold the scope as a reference"));
        QVERIFY(!button->isChecked());
    }

    // After the display button, before Preview; Exit keeps the right end.
    void buttonSitsAfterTheDisplayButton()
    {
        Window window;
        const QList<QAction*> buttons = window.w->findChild<QToolBar*>()->actions();
        QCOMPARE(buttons.indexOf(window.button()), 4);
        QCOMPARE(buttons.at(3)->text(), QStringLiteral("Display: Vectorscope, Waveform, Parade"));
        QCOMPARE(buttons.last()->text(), QStringLiteral("Exit"));
        QVERIFY(window.button()->toolTip().startsWith(QStringLiteral("Hold the scope as a reference")));

        // The button pushes no other into the toolbar's overflow menu: it is
        // left out below 270 pixels (H works at every size).
        for (int size : { 150, 199, 200, 269, 270, 299, 300, 400, 600 }) {
            testSandbox().writeConfig("[General]\nwindow_size=" + QByteArray::number(size) + "\n");
            MainWindow w(nullptr, false, 0);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            auto* toolBar = w.findChild<QToolBar*>();
            QCOMPARE(w.findChild<QAction*>(QStringLiteral("referenceAction"))->isVisible(), size >= 270);
            if (size < 270)
                continue;
            for (QAction* action : toolBar->actions()) {
                QWidget* button = toolBar->widgetForAction(action);
                if (!action->isVisible()
                    || (button && button->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding))
                    continue;
                QVERIFY2(button && button->isVisible() && button->geometry().right() < toolBar->width(),
                    qPrintable(QStringLiteral("%1 at %2: right edge %3 of %4")
                                   .arg(action->text() + QLatin1Char(' ')
                                       + (button ? button->metaObject()->className() : "none"))
                                   .arg(size)
                                   .arg(button ? button->geometry().right() : -1)
                                   .arg(toolBar->width())));
            }
        }
    }
};

QTEST_MAIN(TestHeldReference)
#include "test_held_reference.moc"
