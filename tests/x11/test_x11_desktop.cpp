// The X11 back-end on a real X server: the private Xvfb of with-xvfb.sh
// (1600 x 900, depth 24, no window manager), plus servers of its own for the
// fallbacks and for a server that goes away.

#include "platform/x11/X11Desktop.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <memory>
#include <unistd.h>

using platform::Rect;
using platform::X11Desktop;
using Path = X11Desktop::CapturePath;

Q_DECLARE_METATYPE(Rect)
Q_DECLARE_METATYPE(Path)

namespace {

const Path readingPaths[] = { Path::RenderShmPixmap, Path::RenderShmImage, Path::ShmGetImage, Path::GetImage };

const char* pathName(Path path)
{
    switch (path) {
    case Path::Auto:
        return "auto";
    case Path::RenderShmPixmap:
        return "render-shm-pixmap";
    case Path::RenderShmImage:
        return "render-shm-image";
    case Path::ShmGetImage:
        return "shm-get-image";
    case Path::GetImage:
        return "get-image";
    }
    return "?";
}

// Every pixel of the test pattern is different and none is black, so a copy
// shows which source pixel each output pixel took and black can only mean
// "outside the desktop".
std::uint32_t patternPixel(int x, int y, bool inverted)
{
    const std::uint32_t r = std::uint32_t(x) & 0xff;
    const std::uint32_t g = std::uint32_t(y) & 0xff;
    const std::uint32_t b = 0x80 | ((std::uint32_t(x) >> 8) & 7) | (((std::uint32_t(y) >> 8) & 7) << 3);
    const std::uint32_t rgb = (r << 16) | (g << 8) | b;
    return inverted ? (rgb ^ 0x7f7f7f) : rgb;
}

QString describePixel(const std::uint8_t* p)
{
    // Decodes a pattern pixel back to its position (for the plain pattern).
    const int x = p[2] | ((p[0] & 7) << 8);
    const int y = p[1] | (((p[0] >> 3) & 7) << 8);
    return QStringLiteral("BGRA %1,%2,%3,%4 (pattern x %5 y %6)").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]).arg(x).arg(y);
}

// What a copy must give, worked out from the pattern and nearestSourceIndex.
std::vector<std::uint8_t> expectedCopy(
    const Rect& source, int outWidth, int outHeight, const Rect& screen, bool inverted = false)
{
    std::vector<std::uint8_t> image(std::size_t(outWidth) * std::size_t(outHeight) * 4);
    for (int j = 0; j < outHeight; ++j) {
        const int y = source.top + platform::nearestSourceIndex(j, source.height(), outHeight);
        for (int i = 0; i < outWidth; ++i) {
            const int x = source.left + platform::nearestSourceIndex(i, source.width(), outWidth);
            std::uint8_t* p = image.data() + (std::size_t(j) * std::size_t(outWidth) + std::size_t(i)) * 4;
            const bool inside = x >= screen.left && x < screen.right && y >= screen.top && y < screen.bottom;
            const std::uint32_t rgb = inside ? patternPixel(x, y, inverted) : 0;
            p[0] = std::uint8_t(rgb);
            p[1] = std::uint8_t(rgb >> 8);
            p[2] = std::uint8_t(rgb >> 16);
            p[3] = 255;
        }
    }
    return image;
}

// Empty when equal, else where and how the first difference looks.
QString difference(const std::vector<std::uint8_t>& actual, const std::vector<std::uint8_t>& expected, int width)
{
    if (actual.size() != expected.size())
        return QStringLiteral("sizes differ");
    for (std::size_t i = 0; i < actual.size(); i += 4) {
        if (std::memcmp(&actual[i], &expected[i], 4) != 0) {
            const int pixel = int(i / 4);
            return QStringLiteral("output pixel (%1, %2): got %3, expected %4")
                .arg(pixel % width)
                .arg(pixel / width)
                .arg(describePixel(&actual[i]), describePixel(&expected[i]));
        }
    }
    return {};
}

std::vector<std::uint8_t> blackImage(int width, int height)
{
    std::vector<std::uint8_t> image(std::size_t(width) * std::size_t(height) * 4, 0);
    for (std::size_t i = 3; i < image.size(); i += 4)
        image[i] = 255;
    return image;
}

std::vector<std::uint8_t> copyOf(X11Desktop& desktop, const Rect& source, int outWidth, int outHeight)
{
    // Filled with a colour no copy gives, so pixels left unwritten show.
    std::vector<std::uint8_t> image(std::size_t(outWidth) * std::size_t(outHeight) * 4, 0x5a);
    desktop.copy(source, outWidth, outHeight, image.data());
    return image;
}

// An Xvfb of the test's own, for servers set up differently from the shared
// one. Gone when the object is.
class PrivateServer {
public:
    bool start(const QStringList& options)
    {
        // -displayfd 1: the server picks a free display and prints its number.
        server.setProgram(QStringLiteral("Xvfb"));
        server.setArguments(QStringList { QStringLiteral("-displayfd"), QStringLiteral("1"),
                                QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset") }
            + options);
        server.setProcessChannelMode(QProcess::SeparateChannels);
        server.start();
        if (!server.waitForStarted(5000))
            return false;
        QByteArray number;
        QElapsedTimer timer;
        timer.start();
        while (!number.contains('\n') && timer.elapsed() < 20000) {
            server.waitForReadyRead(500);
            number += server.readAllStandardOutput();
            if (server.state() != QProcess::Running)
                return false;
        }
        name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        return number.contains('\n');
    }
    void stop()
    {
        server.terminate();
        server.waitForFinished(5000);
    }
    ~PrivateServer()
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
    QString name;

private:
    QProcess server;
};

int trappedElsewhere = 0;
int countErrors(Display*, XErrorEvent*)
{
    ++trappedElsewhere;
    return 0;
}

} // namespace

class TestX11Desktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void nearestSourceIndexWorkedExamples_data();
    void nearestSourceIndexWorkedExamples();
    void serverScalingPicksNearestSourceIndex();
    void copyIsPixelExactOnEveryPath_data();
    void copyIsPixelExactOnEveryPath();
    void copyPastTheDesktopEdgeIsOpaqueBlack_data();
    void copyPastTheDesktopEdgeIsOpaqueBlack();
    void copyReusesNothingStale();
    void copyWithNothingToReadIsBlack();

    void monitorsFollowRandr();
    void pointerFollowsWarp();

    void foregroundFromActiveWindowProperty();
    void foregroundFromInputFocus();
    void titleFallsBackToWmName();
    void windowGoneBetweenQueries();
    void foreignWindowTextsAndExecutable();
    void errorsOnOtherConnectionsGoToTheirHandler();

    void fallbacksWithoutExtensions();
    void serverGoingAwayLeavesBlackAndEmpty();

private:
    void showPattern(bool inverted = false);
    Window makeWindow(const char* instance, const char* windowClass, const char* title, Window parent = None);
    void setActiveWindow(Window window);
    void clearActiveWindow();

    Display* display = nullptr; // the test's own connection, to draw and to make windows
    Window root = None;
    Window patternWindow = None;
    Rect screen;
    std::unique_ptr<X11Desktop> desktop;
    std::vector<Window> windows;
};

void TestX11Desktop::initTestCase()
{
    display = XOpenDisplay(nullptr);
    QVERIFY2(display != nullptr, "no X display");
    root = DefaultRootWindow(display);
    screen
        = Rect { 0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display)) };
    QCOMPARE(screen.right, 1600);
    QCOMPARE(screen.bottom, 900);

    XSetWindowAttributes attributes {};
    attributes.override_redirect = True;
    patternWindow = XCreateWindow(display, root, 0, 0, unsigned(screen.right), unsigned(screen.bottom), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    desktop = std::make_unique<X11Desktop>();
    QVERIFY(desktop->connected());
}

void TestX11Desktop::cleanupTestCase()
{
    desktop.reset();
    if (display != nullptr)
        XCloseDisplay(display);
}

void TestX11Desktop::cleanup()
{
    clearActiveWindow();
    XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    for (Window window : windows)
        XDestroyWindow(display, window);
    windows.clear();
    XSync(display, False);
    desktop->setCapturePath(Path::Auto);
}

void TestX11Desktop::showPattern(bool inverted)
{
    XMapRaised(display, patternWindow);
    const int width = screen.width();
    const int height = screen.height();
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0, nullptr,
        unsigned(width), unsigned(height), 32, 0);
    QVERIFY(image != nullptr);
    image->data = static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * std::size_t(height)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            XPutPixel(image, x, y, patternPixel(x, y, inverted));
    }
    XPutImage(display, patternWindow, DefaultGC(display, DefaultScreen(display)), image, 0, 0, 0, 0, unsigned(width),
        unsigned(height));
    XDestroyImage(image);
    XSync(display, False);
}

Window TestX11Desktop::makeWindow(const char* instance, const char* windowClass, const char* title, Window parent)
{
    const Window window = XCreateSimpleWindow(display, parent == None ? root : parent, 10, 10, 200, 100, 0, 0, 0);
    if (parent == None)
        windows.push_back(window);
    if (instance != nullptr) {
        XClassHint hint { const_cast<char*>(instance), const_cast<char*>(windowClass) };
        XSetClassHint(display, window, &hint);
    }
    if (title != nullptr) {
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
    }
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

void TestX11Desktop::setActiveWindow(Window window)
{
    const unsigned long value = window;
    XChangeProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&value), 1);
    XSync(display, False);
}

void TestX11Desktop::clearActiveWindow()
{
    XDeleteProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False));
    XSync(display, False);
}

// ---- Which source pixel nearest neighbour takes

void TestX11Desktop::nearestSourceIndexWorkedExamples_data()
{
    QTest::addColumn<int>("sourceLength");
    QTest::addColumn<int>("outLength");
    QTest::addColumn<QVector<int>>("picked");

    // Centres of output pixels mapped back: i + 0.5 at native size, a hair
    // below, so pixel i.
    QTest::newRow("native") << 5 << 5 << QVector<int> { 0, 1, 2, 3, 4 };
    // 4 : 1: the centre of output 0 lands on 2.0, the border between source
    // pixels 1 and 2; the server takes the one below.
    QTest::newRow("quarter") << 16 << 4 << QVector<int> { 1, 5, 9, 13 };
    // 1 : 2: centres at 0.25, 0.75, 1.25, 1.75.
    QTest::newRow("double") << 2 << 4 << QVector<int> { 0, 0, 1, 1 };
    // 3 : 2: step 1.5, centres at 0.75 and 2.25.
    QTest::newRow("three to two") << 3 << 2 << QVector<int> { 0, 2 };
    // 1600 : 400 is the quarter case at full width.
    QTest::newRow("capture width") << 1600 << 400 << QVector<int> { 1, 5, 9 };
    // 10 : 3: step 3.3333 truncated to 218453/65536; centres 1.6667, 5.0000-, 8.3333.
    QTest::newRow("ten to three") << 10 << 3 << QVector<int> { 1, 4, 8 };
}

void TestX11Desktop::nearestSourceIndexWorkedExamples()
{
    QFETCH(int, sourceLength);
    QFETCH(int, outLength);
    QFETCH(QVector<int>, picked);
    for (int i = 0; i < picked.size(); ++i)
        QCOMPARE(platform::nearestSourceIndex(i, sourceLength, outLength), picked[i]);
}

// Guards the client-side paths against picking other pixels than the
// server's scaling: one row and one column, many length pairs, with an
// offset so a scaled offset would show too.
void TestX11Desktop::serverScalingPicksNearestSourceIndex()
{
    if (!desktop->supports(Path::RenderShmPixmap))
        QSKIP("the server offers no RENDER with shared-memory pixmaps");
    showPattern();
    desktop->setCapturePath(Path::RenderShmPixmap);

    QVector<int> lengths;
    for (int n = 1; n <= 48; ++n)
        lengths << n;
    lengths << 63 << 64 << 65 << 99 << 100 << 101 << 127 << 225 << 255 << 256 << 257 << 333 << 400 << 401 << 599 << 640
            << 719 << 800 << 801 << 899 << 900;
    int checked = 0;
    for (int sourceLength : lengths) {
        for (int outLength : lengths) {
            const Rect row { 37, 11, 37 + sourceLength, 12 };
            const auto across = copyOf(*desktop, row, outLength, 1);
            const QString rowDifference = difference(across, expectedCopy(row, outLength, 1, screen), outLength);
            QVERIFY2(rowDifference.isEmpty(),
                qPrintable(QStringLiteral("%1 -> %2 across: %3").arg(sourceLength).arg(outLength).arg(rowDifference)));

            const Rect column { 5, 0, 6, sourceLength };
            const auto down = copyOf(*desktop, column, 1, outLength);
            const QString columnDifference = difference(down, expectedCopy(column, 1, outLength, screen), 1);
            QVERIFY2(columnDifference.isEmpty(),
                qPrintable(QStringLiteral("%1 -> %2 down: %3").arg(sourceLength).arg(outLength).arg(columnDifference)));
            ++checked;
        }
    }
    QVERIFY(checked > 4000);
}

// ---- Copies

void TestX11Desktop::copyIsPixelExactOnEveryPath_data()
{
    QTest::addColumn<Path>("path");
    QTest::addColumn<Rect>("source");
    QTest::addColumn<int>("outWidth");
    QTest::addColumn<int>("outHeight");

    struct Case {
        const char* name;
        Rect source;
        int outWidth;
        int outHeight;
    };
    const Case cases[] = {
        { "whole screen, native", Rect { 0, 0, 1600, 900 }, 1600, 900 },
        { "whole screen to 400", Rect { 0, 0, 1600, 900 }, 400, 225 },
        { "odd sizes", Rect { 3, 7, 1003, 569 }, 256, 143 },
        { "sub-rectangle, native", Rect { 700, 50, 1100, 350 }, 400, 300 },
        { "upscaled", Rect { 101, 203, 138, 226 }, 100, 61 },
        { "nearly native", Rect { 1, 1, 1600, 900 }, 1601, 901 },
        { "one pixel", Rect { 1599, 899, 1600, 900 }, 3, 2 },
    };
    for (Path path : readingPaths) {
        for (const Case& c : cases)
            QTest::addRow("%s: %s", pathName(path), c.name) << path << c.source << c.outWidth << c.outHeight;
    }
}

void TestX11Desktop::copyIsPixelExactOnEveryPath()
{
    QFETCH(Path, path);
    QFETCH(Rect, source);
    QFETCH(int, outWidth);
    QFETCH(int, outHeight);
    if (!desktop->supports(path))
        QSKIP("the server does not offer this path");
    showPattern();
    desktop->setCapturePath(path);
    const auto image = copyOf(*desktop, source, outWidth, outHeight);
    QCOMPARE(int(desktop->lastCapturePath()), int(path));
    const QString diff = difference(image, expectedCopy(source, outWidth, outHeight, screen), outWidth);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestX11Desktop::copyPastTheDesktopEdgeIsOpaqueBlack_data()
{
    QTest::addColumn<Path>("path");
    QTest::addColumn<Rect>("source");
    QTest::addColumn<int>("outWidth");
    QTest::addColumn<int>("outHeight");

    struct Case {
        const char* name;
        Rect source;
        int outWidth;
        int outHeight;
    };
    // XGetImage refuses rectangles that leave the root; RENDER reads
    // transparent there. Both must come back black and opaque.
    const Case cases[] = {
        { "top left, native", Rect { -100, -50, 300, 250 }, 400, 300 },
        { "bottom right, scaled", Rect { 1500, 800, 1700, 1000 }, 50, 50 },
        { "around the whole screen", Rect { -200, -100, 1800, 1000 }, 500, 275 },
        { "wholly outside", Rect { 2000, 0, 2100, 100 }, 100, 100 },
        { "left of the screen", Rect { -300, 0, -1, 900 }, 30, 90 },
    };
    for (Path path : readingPaths) {
        for (const Case& c : cases)
            QTest::addRow("%s: %s", pathName(path), c.name) << path << c.source << c.outWidth << c.outHeight;
    }
}

void TestX11Desktop::copyPastTheDesktopEdgeIsOpaqueBlack()
{
    QFETCH(Path, path);
    QFETCH(Rect, source);
    QFETCH(int, outWidth);
    QFETCH(int, outHeight);
    if (!desktop->supports(path))
        QSKIP("the server does not offer this path");
    showPattern();
    desktop->setCapturePath(path);
    const auto image = copyOf(*desktop, source, outWidth, outHeight);
    QCOMPARE(int(desktop->lastCapturePath()), int(path));
    const QString diff = difference(image, expectedCopy(source, outWidth, outHeight, screen), outWidth);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Guards the caches kept between copies: a new source of the same size, a
// size change and back, and new screen contents must all show, on every path.
void TestX11Desktop::copyReusesNothingStale()
{
    for (Path path : readingPaths) {
        if (!desktop->supports(path))
            continue;
        desktop->setCapturePath(path);
        const char* name = pathName(path);
        struct Step {
            Rect source;
            int outWidth;
            int outHeight;
            bool inverted;
        };
        const Step steps[] = {
            { Rect { 0, 0, 800, 450 }, 400, 225, false },
            { Rect { 800, 450, 1600, 900 }, 400, 225, false }, // same size, other place
            { Rect { 800, 450, 1600, 900 }, 400, 225, true }, // same place, new pixels
            { Rect { 0, 0, 1600, 900 }, 320, 180, true }, // other size
            { Rect { 10, 20, 810, 470 }, 400, 225, true }, // first size again
            { Rect { 10, 20, 810, 470 }, 400, 225, false },
        };
        bool shownInverted = true;
        for (const Step& step : steps) {
            if (step.inverted != shownInverted || &step == steps) {
                showPattern(step.inverted);
                shownInverted = step.inverted;
            }
            const auto image = copyOf(*desktop, step.source, step.outWidth, step.outHeight);
            const auto expected = expectedCopy(step.source, step.outWidth, step.outHeight, screen, step.inverted);
            QVERIFY2(image == expected,
                qPrintable(QStringLiteral("%1: copy of %2,%3 %4x%5 %6 is wrong")
                               .arg(QLatin1String(name))
                               .arg(step.source.left)
                               .arg(step.source.top)
                               .arg(step.outWidth)
                               .arg(step.outHeight)
                               .arg(step.inverted ? "after repainting" : "")));
        }
    }
}

void TestX11Desktop::copyWithNothingToReadIsBlack()
{
    showPattern();
    for (Path path : { Path::Auto, Path::RenderShmPixmap, Path::GetImage }) {
        desktop->setCapturePath(path);
        QCOMPARE(copyOf(*desktop, Rect { 100, 100, 100, 200 }, 4, 4), blackImage(4, 4)); // no width
        QCOMPARE(copyOf(*desktop, Rect { 100, 100, 50, 200 }, 4, 4), blackImage(4, 4)); // negative width
        QCOMPARE(int(desktop->lastCapturePath()), int(Path::Auto));
    }
}

// ---- Monitors and pointer

void TestX11Desktop::monitorsFollowRandr()
{
    QCOMPARE(desktop->monitors(), (std::vector<Rect> { Rect { 0, 0, 1600, 900 } }));

    auto xrandr = [](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("xrandr"), arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    };
    if (QStandardPaths::findExecutable(QStringLiteral("xrandr")).isEmpty())
        QSKIP("xrandr is not installed");
    // The right half first, so the order is the server's, not sorted by place.
    QVERIFY(xrandr({ "--setmonitor", "right", "800/211x900/238+800+0", "none" }));
    QVERIFY(xrandr({ "--setmonitor", "left", "800/211x900/238+0+0", "screen" }));
    const auto twoMonitors = desktop->monitors();
    QProcess list;
    list.start(QStringLiteral("xrandr"), { QStringLiteral("--listactivemonitors") });
    list.waitForFinished(10000);
    const QString listing = QString::fromLocal8Bit(list.readAllStandardOutput());
    QVERIFY(xrandr({ "--delmonitor", "right" }));
    QVERIFY(xrandr({ "--delmonitor", "left" }));

    // xrandr lists them as " 0: right 800/211x900/238+800+0 ..."
    const int rightAt = listing.indexOf(QStringLiteral(" right "));
    const int leftAt = listing.indexOf(QStringLiteral(" left "));
    QVERIFY2(rightAt >= 0 && leftAt >= 0, qPrintable(listing));
    const Rect left { 0, 0, 800, 900 };
    const Rect right { 800, 0, 1600, 900 };
    const std::vector<Rect> inXrandrOrder
        = rightAt < leftAt ? std::vector<Rect> { right, left } : std::vector<Rect> { left, right };
    QCOMPARE(twoMonitors, inXrandrOrder);

    QCOMPARE(desktop->monitors(), (std::vector<Rect> { Rect { 0, 0, 1600, 900 } }));
}

void TestX11Desktop::pointerFollowsWarp()
{
    for (const platform::Point& to :
        { platform::Point { 123, 456 }, platform::Point { 1599, 0 }, platform::Point { 0, 899 } }) {
        XWarpPointer(display, None, root, 0, 0, 0, 0, to.x, to.y);
        XSync(display, False);
        const platform::Point at = desktop->pointer();
        QCOMPARE(at.x, to.x);
        QCOMPARE(at.y, to.y);
    }
}

// ---- Windows of other programs

void TestX11Desktop::foregroundFromActiveWindowProperty()
{
    const char* title = "Grading \xe2\x80\x94 caf\xc3\xa9 \xe2\x9c\x93"; // "Grading — café ✓"
    const Window window = makeWindow("huelens-test", "HuelensTest", title);
    setActiveWindow(window);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(window));

    const platform::WindowTexts texts = desktop->texts(window);
    QCOMPARE(QString::fromStdString(texts.windowClass), QStringLiteral("huelens-test.HuelensTest"));
    QCOMPARE(QString::fromStdString(texts.title), QString::fromUtf8(title));
    // The X-Resource extension names this process as the window's owner.
    QCOMPARE(QString::fromStdString(desktop->executable(window)),
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());

    // A window manager says "nothing is active" with None, even while some
    // window has the input focus.
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    setActiveWindow(None);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(0));
}

void TestX11Desktop::foregroundFromInputFocus()
{
    clearActiveWindow();
    const Window plain = makeWindow("plain", "Plain", "plain window");
    const Window inner = makeWindow(nullptr, nullptr, nullptr, plain);

    // No window manager, no WM_STATE: the top-level window holding the focus.
    XSetInputFocus(display, plain, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(plain));
    XSetInputFocus(display, inner, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(plain));

    // As a reparenting window manager leaves it: a frame, the client inside
    // it marked with WM_STATE, focus on the frame or inside the client.
    const Window frame = makeWindow(nullptr, nullptr, nullptr);
    const Window decoration = makeWindow(nullptr, nullptr, nullptr, frame);
    const Window client = makeWindow("framed", "Framed", "framed client", frame);
    const Window clientChild = makeWindow(nullptr, nullptr, nullptr, client);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const long state[2] = { NormalState, None };
    XChangeProperty(
        display, client, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
    XSync(display, False);
    Q_UNUSED(decoration);

    XSetInputFocus(display, frame, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(client));
    XSetInputFocus(display, clientChild, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(client));

    // Focus follows the pointer: the window under it.
    XRaiseWindow(display, plain);
    XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    XWarpPointer(display, None, root, 0, 0, 0, 0, 50, 50);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(plain));

    XSetInputFocus(display, None, RevertToNone, CurrentTime);
    XSync(display, False);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(0));
}

void TestX11Desktop::titleFallsBackToWmName()
{
    const Window window = makeWindow("old", "OldStyle", nullptr);
    // WM_NAME as a Latin-1 STRING, as older programs set it.
    XStoreName(display, window, "Caf\xe9 noir");
    XSync(display, False);
    const platform::WindowTexts texts = desktop->texts(window);
    QCOMPARE(QString::fromStdString(texts.title), QStringLiteral("Caf\u00e9 noir"));
    QCOMPARE(QString::fromStdString(texts.windowClass), QStringLiteral("old.OldStyle"));

    // No WM_CLASS and no name at all: empty, not garbage.
    const Window bare = makeWindow(nullptr, nullptr, nullptr);
    const platform::WindowTexts none = desktop->texts(bare);
    QVERIFY(none.windowClass.empty());
    QVERIFY(none.title.empty());
}

// Guards against BadWindow reaching Xlib's default handler, which ends the
// process, and against a trapped error poisoning later calls.
void TestX11Desktop::windowGoneBetweenQueries()
{
    const Window window = makeWindow("brief", "Brief", "soon gone");
    setActiveWindow(window);
    QCOMPARE(desktop->foreground(), platform::WindowHandle(window));
    QCOMPARE(QString::fromStdString(desktop->texts(window).windowClass), QStringLiteral("brief.Brief"));

    XDestroyWindow(display, window);
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
    XSync(display, False);

    const platform::WindowTexts texts = desktop->texts(window);
    QVERIFY(texts.windowClass.empty());
    QVERIFY(texts.title.empty());
    QVERIFY(desktop->executable(window).empty());

    // Focus left on a window that is gone is no foreground window.
    clearActiveWindow();
    const Window other = makeWindow("other", "Other", "other");
    const Window child = makeWindow(nullptr, nullptr, nullptr, other);
    XSetInputFocus(display, child, RevertToNone, CurrentTime);
    XSync(display, False);
    XDestroyWindow(display, child);
    XSync(display, False);
    desktop->foreground(); // must not end the process, whatever it answers

    // Still working afterwards.
    QVERIFY(desktop->connected());
    QCOMPARE(QString::fromStdString(desktop->texts(other).windowClass), QStringLiteral("other.Other"));
    showPattern();
    const Rect source { 0, 0, 1600, 900 };
    QVERIFY(copyOf(*desktop, source, 400, 225) == expectedCopy(source, 400, 225, screen));
}

void TestX11Desktop::foreignWindowTextsAndExecutable()
{
    const QString xterm = QStandardPaths::findExecutable(QStringLiteral("xterm"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xterm.isEmpty() || xdotool.isEmpty())
        QSKIP("needs xterm and xdotool");
    QProcess term;
    term.start(
        xterm, { "-name", "huelensterm", "-class", "HuelensTerm", "-title", "terminal title", "-e", "sleep", "30" });
    QVERIFY(term.waitForStarted(5000));
    QProcess search;
    search.start(xdotool, { "search", "--sync", "--classname", "huelensterm" });
    QVERIFY(search.waitForFinished(15000));
    const QStringList ids = QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!ids.isEmpty());
    const platform::WindowHandle window = ids.first().toULong();
    const platform::WindowTexts texts = desktop->texts(window);
    const std::string executable = desktop->executable(window);
    term.kill();
    term.waitForFinished(5000);

    QCOMPARE(QString::fromStdString(texts.windowClass), QStringLiteral("huelensterm.HuelensTerm"));
    QCOMPARE(QString::fromStdString(texts.title), QStringLiteral("terminal title"));
    QCOMPARE(QString::fromStdString(executable), QFileInfo(xterm).canonicalFilePath());

    // Gone with its process.
    QTRY_VERIFY(desktop->texts(window).windowClass.empty());
    QVERIFY(desktop->executable(window).empty());
}

void TestX11Desktop::errorsOnOtherConnectionsGoToTheirHandler()
{
    const XErrorHandler before = XSetErrorHandler(countErrors);
    trappedElsewhere = 0;
    desktop->pointer(); // the back-end puts its handler back in front

    // An error on the test's own connection reaches the handler installed
    // before...
    XWindowAttributes attributes;
    XGetWindowAttributes(display, 0x1fffffe, &attributes);
    XSync(display, False);
    QCOMPARE(trappedElsewhere, 1);
    // ... one on the back-end's connection does not.
    QVERIFY(desktop->texts(0x1fffffe).windowClass.empty());
    QVERIFY(desktop->executable(0x1fffffe).empty());
    QCOMPARE(trappedElsewhere, 1);

    XSetErrorHandler(before);
}

// ---- Other servers

void TestX11Desktop::fallbacksWithoutExtensions()
{
    // No RANDR (and so no RandR monitors), no RENDER, no MIT-SHM, no
    // X-Resource; two screens joined by Xinerama.
    PrivateServer server;
    QVERIFY(server.start({ "-screen", "0", "640x480x24", "-screen", "1", "320x240x24", "+xinerama", "-extension",
        "RANDR", "-extension", "RENDER", "-extension", "MIT-SHM", "-extension", "X-Resource" }));
    X11Desktop bare(server.name.toStdString());
    QVERIFY(bare.connected());
    QVERIFY(!bare.supports(Path::RenderShmPixmap));
    QVERIFY(!bare.supports(Path::RenderShmImage));
    QVERIFY(!bare.supports(Path::ShmGetImage));
    QVERIFY(bare.supports(Path::GetImage));

    Display* other = XOpenDisplay(server.name.toLatin1().constData());
    QVERIFY(other != nullptr);
    // Xinerama lists one head per screen, as Xvfb places them.
    const auto monitors = bare.monitors();
    QCOMPARE(monitors.size(), std::size_t(2));
    QCOMPARE(monitors[0], (Rect { 0, 0, 640, 480 }));
    QCOMPARE(monitors[1].width(), 320);
    QCOMPARE(monitors[1].height(), 240);

    // Auto falls through to banded XGetImage and still gives the pattern.
    const Window otherRoot = RootWindow(other, 0);
    XImage* image = XCreateImage(other, DefaultVisual(other, 0), 24, ZPixmap, 0, nullptr, 640, 480, 32, 0);
    image->data = static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * 480));
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x)
            XPutPixel(image, x, y, patternPixel(x, y, false));
    }
    XPutImage(other, otherRoot, DefaultGC(other, 0), image, 0, 0, 0, 0, 640, 480);
    XDestroyImage(image);
    XSync(other, False);
    const Rect source { -10, 100, 630, 480 };
    const auto copied = copyOf(bare, source, 320, 190);
    QCOMPARE(int(bare.lastCapturePath()), int(Path::GetImage));
    const QString diff = difference(copied, expectedCopy(source, 320, 190, Rect { 0, 0, 640, 480 }), 320);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    bare.setCapturePath(Path::RenderShmPixmap);
    const auto forced = copyOf(bare, source, 8, 8);
    QCOMPARE(forced, blackImage(8, 8));

    // Without X-Resource the process comes from _NET_WM_PID, and only when
    // the window is from this machine.
    const Window window = XCreateSimpleWindow(other, otherRoot, 0, 0, 10, 10, 0, 0, 0);
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(other, window, XInternAtom(other, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&pid), 1);
    XSync(other, False);
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QCOMPARE(QString::fromStdString(bare.executable(window)), self);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    XChangeProperty(other, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
        reinterpret_cast<const unsigned char*>(host), int(std::strlen(host)));
    XSync(other, False);
    QCOMPARE(QString::fromStdString(bare.executable(window)), self);
    const char elsewhere[] = "some-other-machine";
    XChangeProperty(other, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
        reinterpret_cast<const unsigned char*>(elsewhere), int(sizeof elsewhere - 1));
    XSync(other, False);
    QVERIFY(bare.executable(window).empty());

    XCloseDisplay(other);
}

// Guards against a lost server ending the program through Xlib's I/O error
// handling, or against calls that wait for it forever.
void TestX11Desktop::serverGoingAwayLeavesBlackAndEmpty()
{
    PrivateServer server;
    QVERIFY(server.start({ "-screen", "0", "320x200x24" }));
    X11Desktop doomed(server.name.toStdString());
    QVERIFY(doomed.connected());
    QCOMPARE(doomed.monitors().size(), std::size_t(1));
    const platform::WindowHandle window = doomed.foreground();
    Q_UNUSED(window);

    server.stop();
    // The first call finds the connection broken, the rest know it.
    for (int round = 0; round < 2; ++round) {
        const auto image = copyOf(doomed, Rect { 0, 0, 320, 200 }, 80, 50);
        QCOMPARE(image, blackImage(80, 50));
        QVERIFY(doomed.monitors().empty());
        QCOMPARE(doomed.pointer().x, 0);
        QCOMPARE(doomed.pointer().y, 0);
        QCOMPARE(doomed.foreground(), platform::WindowHandle(0));
        QVERIFY(doomed.texts(0x200001).title.empty());
        QVERIFY(doomed.executable(0x200001).empty());
    }
    QVERIFY(!doomed.connected());

    // The shared server is untouched.
    QVERIFY(desktop->connected());
    QCOMPARE(desktop->monitors().size(), std::size_t(1));
}

QTEST_MAIN(TestX11Desktop)
#include "test_x11_desktop.moc"
