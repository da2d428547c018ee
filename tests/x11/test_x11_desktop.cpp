// The X11 back-end on a real X server: the private Xvfb of with-xvfb.sh
// (1600 x 900, depth 24, no window manager), plus servers of the test's own
// for the fallbacks and for a server that goes away.

#include "platform/x11/X11Desktop.h"

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
using Image = std::vector<std::uint8_t>;

Q_DECLARE_METATYPE(Rect)
Q_DECLARE_METATYPE(Path)

namespace {

const Path readingPaths[] = { Path::RenderShmPixmap, Path::RenderShmImage, Path::ShmGetImage, Path::GetImage };
const char* const pathNames[] = { "auto", "render-shm-pixmap", "render-shm-image", "shm-get-image", "get-image" };

// Every pixel of the pattern differs and none is black: a copy shows which
// source pixel each output pixel took, and black can only mean "outside".
std::uint32_t patternPixel(int x, int y, bool inverted)
{
    const auto r = std::uint32_t(x) & 0xff;
    const auto g = std::uint32_t(y) & 0xff;
    const auto b = 0x80 | ((std::uint32_t(x) >> 8) & 7) | (((std::uint32_t(y) >> 8) & 7) << 3);
    const std::uint32_t rgb = (r << 16) | (g << 8) | b;
    return inverted ? (rgb ^ 0x7f7f7f) : rgb;
}

void paintPattern(Display* display, Drawable drawable, int width, int height, bool inverted)
{
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0, nullptr,
        unsigned(width), unsigned(height), 32, 0);
    image->data = static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * std::size_t(height)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            XPutPixel(image, x, y, patternPixel(x, y, inverted));
    }
    XPutImage(display, drawable, DefaultGC(display, DefaultScreen(display)), image, 0, 0, 0, 0, unsigned(width),
        unsigned(height));
    XDestroyImage(image);
    XSync(display, False);
}

// What a copy must give, worked out from the pattern and nearestSourceIndex.
Image expectedCopy(const Rect& source, int outWidth, int outHeight, const Rect& screen, bool inverted = false)
{
    Image image(std::size_t(outWidth) * std::size_t(outHeight) * 4);
    const bool empty = source.width() <= 0 || source.height() <= 0;
    for (int j = 0; j < outHeight; ++j) {
        const int y = source.top + platform::nearestSourceIndex(j, source.height(), outHeight);
        for (int i = 0; i < outWidth; ++i) {
            const int x = source.left + platform::nearestSourceIndex(i, source.width(), outWidth);
            const bool inside = !empty && x >= screen.left && x < screen.right && y >= screen.top && y < screen.bottom;
            const std::uint32_t rgb = inside ? patternPixel(x, y, inverted) : 0;
            std::uint8_t* p = &image[(std::size_t(j) * std::size_t(outWidth) + std::size_t(i)) * 4];
            p[0] = std::uint8_t(rgb);
            p[1] = std::uint8_t(rgb >> 8);
            p[2] = std::uint8_t(rgb >> 16);
            p[3] = 255;
        }
    }
    return image;
}

Image blackImage(int width, int height)
{
    return expectedCopy(Rect {}, width, height, Rect {});
}

// Empty when equal, else the first difference, decoded to pattern positions.
QString difference(const Image& actual, const Image& expected, int width)
{
    auto describe = [](const std::uint8_t* p) {
        return QString::asprintf("BGRA %d,%d,%d,%d (pattern x %d y %d)", p[0], p[1], p[2], p[3],
            p[2] | ((p[0] & 7) << 8), p[1] | (((p[0] >> 3) & 7) << 8));
    };
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); i += 4) {
        if (std::memcmp(&actual[i], &expected[i], 4) != 0)
            return QString::asprintf("pixel (%d, %d): got ", int(i / 4) % width, int(i / 4) / width)
                + describe(&actual[i]) + ", expected " + describe(&expected[i]);
    }
    return actual.size() == expected.size() ? QString() : QStringLiteral("sizes differ");
}

Image copyOf(X11Desktop& desktop, const Rect& source, int outWidth, int outHeight)
{
    // A colour no copy gives, so pixels left unwritten show.
    Image image(std::size_t(outWidth) * std::size_t(outHeight) * 4, 0x5a);
    desktop.copy(source, outWidth, outHeight, image.data());
    return image;
}

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok
        = process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output != nullptr)
        *output = process.readAllStandardOutput();
    return ok;
}

// An Xvfb of the test's own, stopped with the object.
class PrivateServer {
public:
    bool start(const QStringList& options)
    {
        // -displayfd 1: the server picks a free display and prints its number.
        server.start(QStringLiteral("Xvfb"), QStringList { "-displayfd", "1", "-nolisten", "tcp" } + options);
        QByteArray number;
        while (!number.contains('\n') && server.waitForReadyRead(20000))
            number += server.readAllStandardOutput();
        name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        return number.contains('\n');
    }
    void stop()
    {
        server.terminate();
        server.waitForFinished(5000);
    }
    ~PrivateServer() { stop(); }
    QString name;

private:
    QProcess server;
};

int errorsElsewhere = 0;
int countError(Display*, XErrorEvent*)
{
    ++errorsElsewhere;
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
    void copyIsPixelExact_data();
    void copyIsPixelExact();
    void copyReusesNothingStale();

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
    void focus(Window window);

    Display* display = nullptr; // the test's own connection, to draw and make windows
    Window root = None;
    Window patternWindow = None;
    const Rect screen { 0, 0, 1600, 900 };
    std::unique_ptr<X11Desktop> desktop;
    std::vector<Window> windows;
};

void TestX11Desktop::initTestCase()
{
    display = XOpenDisplay(nullptr);
    QVERIFY2(display != nullptr, "no X display");
    root = DefaultRootWindow(display);
    QCOMPARE(DisplayWidth(display, 0), screen.right);
    QCOMPARE(DisplayHeight(display, 0), screen.bottom);
    XSetWindowAttributes attributes {};
    attributes.override_redirect = True;
    patternWindow = XCreateWindow(display, root, 0, 0, 1600, 900, 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect, &attributes);
    desktop = std::make_unique<X11Desktop>();
    QVERIFY(desktop->connected());
}

void TestX11Desktop::cleanupTestCase()
{
    desktop.reset();
    XCloseDisplay(display);
}

void TestX11Desktop::cleanup()
{
    XDeleteProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False));
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
    paintPattern(display, patternWindow, screen.width(), screen.height(), inverted);
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
    if (title != nullptr)
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
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

void TestX11Desktop::focus(Window window)
{
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
}

// ---- Which source pixel nearest neighbour takes

void TestX11Desktop::nearestSourceIndexWorkedExamples_data()
{
    QTest::addColumn<int>("sourceLength");
    QTest::addColumn<int>("outLength");
    QTest::addColumn<QVector<int>>("picked");
    // Output centres mapped back, a hair below: at native size i + 0.5, so i.
    QTest::newRow("native") << 5 << 5 << QVector<int> { 0, 1, 2, 3, 4 };
    // 4 : 1: centre 0 lands on 2.0, the border of pixels 1 and 2; the lower wins.
    QTest::newRow("quarter") << 1600 << 400 << QVector<int> { 1, 5, 9, 13 };
    // 1 : 2: centres at 0.25, 0.75, 1.25, 1.75.
    QTest::newRow("double") << 2 << 4 << QVector<int> { 0, 0, 1, 1 };
    // 3 : 2: centres at 0.75 and 2.25.
    QTest::newRow("three to two") << 3 << 2 << QVector<int> { 0, 2 };
    // 10 : 3: step 218453 / 65536 (truncated); centres 1.67, 5.0 - a hair, 8.33.
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
// server's scaling: a row and a column, thousands of length pairs, with an
// offset so that a scaled offset would show too.
void TestX11Desktop::serverScalingPicksNearestSourceIndex()
{
    if (!desktop->supports(Path::RenderShmPixmap))
        QSKIP("no RENDER with shared-memory pixmaps");
    showPattern();
    desktop->setCapturePath(Path::RenderShmPixmap);
    QVector<int> lengths;
    for (int n = 1; n <= 48; ++n)
        lengths << n;
    lengths << 63 << 64 << 65 << 99 << 100 << 101 << 127 << 225 << 255 << 256 << 257 << 333 << 400 << 401 << 599 << 640
            << 719 << 800 << 801 << 899 << 900;
    for (int sourceLength : lengths) {
        for (int outLength : lengths) {
            const Rect row { 37, 11, 37 + sourceLength, 12 };
            const QString across
                = difference(copyOf(*desktop, row, outLength, 1), expectedCopy(row, outLength, 1, screen), outLength);
            QVERIFY2(across.isEmpty(),
                qPrintable(QStringLiteral("%1 -> %2: %3").arg(sourceLength).arg(outLength).arg(across)));
            const Rect column { 5, 0, 6, sourceLength };
            const QString down
                = difference(copyOf(*desktop, column, 1, outLength), expectedCopy(column, 1, outLength, screen), 1);
            QVERIFY2(
                down.isEmpty(), qPrintable(QStringLiteral("%1 -> %2: %3").arg(sourceLength).arg(outLength).arg(down)));
        }
    }
}

// ---- Copies

void TestX11Desktop::copyIsPixelExact_data()
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
        { "whole screen, native", { 0, 0, 1600, 900 }, 1600, 900 },
        { "whole screen to 400", { 0, 0, 1600, 900 }, 400, 225 },
        { "odd sizes", { 3, 7, 1003, 569 }, 256, 143 },
        { "sub-rectangle, native", { 700, 50, 1100, 350 }, 400, 300 },
        { "upscaled", { 101, 203, 138, 226 }, 100, 61 },
        { "nearly native", { 1, 1, 1600, 900 }, 1601, 901 },
        // XGetImage refuses rectangles that leave the root and RENDER reads
        // transparent there: black and opaque either way.
        { "past the top left", { -100, -50, 300, 250 }, 400, 300 },
        { "past the bottom right", { 1500, 800, 1700, 1000 }, 50, 50 },
        { "around the screen", { -200, -100, 1800, 1000 }, 500, 275 },
        { "wholly outside", { 2000, 0, 2100, 100 }, 100, 100 },
        { "no width", { 100, 100, 100, 200 }, 4, 4 },
        { "negative width", { 100, 100, 50, 200 }, 4, 4 },
    };
    for (Path path : readingPaths) {
        for (const Case& c : cases)
            QTest::addRow("%s: %s", pathNames[int(path)], c.name) << path << c.source << c.outWidth << c.outHeight;
    }
}

void TestX11Desktop::copyIsPixelExact()
{
    QFETCH(Path, path);
    QFETCH(Rect, source);
    QFETCH(int, outWidth);
    QFETCH(int, outHeight);
    if (!desktop->supports(path))
        QSKIP("the server does not offer this path");
    showPattern();
    desktop->setCapturePath(path);
    const Image image = copyOf(*desktop, source, outWidth, outHeight);
    const bool empty = source.width() <= 0;
    QCOMPARE(int(desktop->lastCapturePath()), int(empty ? Path::Auto : path));
    const QString diff = difference(image, expectedCopy(source, outWidth, outHeight, screen), outWidth);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Guards the caches kept between copies: a new place of the same size, new
// screen contents, a size change and back must all show, on every path.
void TestX11Desktop::copyReusesNothingStale()
{
    struct Step {
        Rect source;
        int outWidth;
        int outHeight;
        bool inverted;
    } const steps[] = {
        { { 0, 0, 800, 450 }, 400, 225, false },
        { { 800, 450, 1600, 900 }, 400, 225, false },
        { { 800, 450, 1600, 900 }, 400, 225, true },
        { { 0, 0, 1600, 900 }, 320, 180, true },
        { { 10, 20, 810, 470 }, 400, 225, true },
        { { 10, 20, 810, 470 }, 400, 225, false },
    };
    for (Path path : readingPaths) {
        if (!desktop->supports(path))
            continue;
        desktop->setCapturePath(path);
        for (const Step& step : steps) {
            showPattern(step.inverted);
            const Image image = copyOf(*desktop, step.source, step.outWidth, step.outHeight);
            QVERIFY2(image == expectedCopy(step.source, step.outWidth, step.outHeight, screen, step.inverted),
                qPrintable(QStringLiteral("%1, step %2").arg(pathNames[int(path)]).arg(&step - steps)));
        }
    }
}

// ---- Monitors and pointer

void TestX11Desktop::monitorsFollowRandr()
{
    QCOMPARE(desktop->monitors(), (std::vector<Rect> { screen }));
    // The right half made first, so the order is the server's, not by place.
    QVERIFY(run("xrandr", { "--setmonitor", "right", "800/211x900/238+800+0", "none" }));
    QVERIFY(run("xrandr", { "--setmonitor", "left", "800/211x900/238+0+0", "screen" }));
    const auto two = desktop->monitors();
    QByteArray listing; // " 0: right 800/211x900/238+800+0 ..."
    QVERIFY(run("xrandr", { "--listactivemonitors" }, &listing));
    QVERIFY(run("xrandr", { "--delmonitor", "right" }));
    QVERIFY(run("xrandr", { "--delmonitor", "left" }));

    const Rect left { 0, 0, 800, 900 };
    const Rect right { 800, 0, 1600, 900 };
    QVERIFY2(listing.contains(" left ") && listing.contains(" right "), listing.constData());
    QCOMPARE(two,
        listing.indexOf(" right ") < listing.indexOf(" left ") ? (std::vector<Rect> { right, left })
                                                               : (std::vector<Rect> { left, right }));
    QCOMPARE(desktop->monitors(), (std::vector<Rect> { screen }));
}

void TestX11Desktop::pointerFollowsWarp()
{
    for (const platform::Point& to : { platform::Point { 123, 456 }, { 1599, 0 }, { 0, 899 } }) {
        XWarpPointer(display, None, root, 0, 0, 0, 0, to.x, to.y);
        XSync(display, False);
        QCOMPARE(desktop->pointer().x, to.x);
        QCOMPARE(desktop->pointer().y, to.y);
    }
}

// ---- Windows of other programs

void TestX11Desktop::foregroundFromActiveWindowProperty()
{
    const char* title = "Grading \xe2\x80\x94 caf\xc3\xa9 \xe2\x9c\x93";
    const Window window = makeWindow("huelens-test", "HuelensTest", title);
    setActiveWindow(window);
    QCOMPARE(desktop->foreground(), window);
    const platform::WindowTexts texts = desktop->texts(window);
    QCOMPARE(QString::fromStdString(texts.windowClass), QStringLiteral("huelens-test.HuelensTest"));
    QCOMPARE(QString::fromStdString(texts.title), QString::fromUtf8(title));
    // X-Resource names this process as the window's owner.
    QCOMPARE(QString::fromStdString(desktop->executable(window)), QFileInfo("/proc/self/exe").canonicalFilePath());

    // A window manager says "nothing is active" with None, whatever has focus.
    focus(window);
    setActiveWindow(None);
    QCOMPARE(desktop->foreground(), 0ul);
}

void TestX11Desktop::foregroundFromInputFocus()
{
    // No window manager, no WM_STATE: the top-level window holding the focus.
    const Window plain = makeWindow("plain", "Plain", "plain window");
    const Window inner = makeWindow(nullptr, nullptr, nullptr, plain);
    focus(plain);
    QCOMPARE(desktop->foreground(), plain);
    focus(inner);
    QCOMPARE(desktop->foreground(), plain);

    // As a reparenting window manager leaves it: a frame holding a decoration
    // and the client marked with WM_STATE.
    const Window frame = makeWindow(nullptr, nullptr, nullptr);
    makeWindow(nullptr, nullptr, nullptr, frame);
    const Window client = makeWindow("framed", "Framed", "framed client", frame);
    const Window insideClient = makeWindow(nullptr, nullptr, nullptr, client);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const long state[2] = { NormalState, None };
    XChangeProperty(
        display, client, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
    focus(frame);
    QCOMPARE(desktop->foreground(), client);
    focus(insideClient);
    QCOMPARE(desktop->foreground(), client);

    // Focus following the pointer: the window under it.
    XRaiseWindow(display, plain);
    XWarpPointer(display, None, root, 0, 0, 0, 0, 50, 50);
    focus(PointerRoot);
    QCOMPARE(desktop->foreground(), plain);
    focus(None);
    QCOMPARE(desktop->foreground(), 0ul);
}

void TestX11Desktop::titleFallsBackToWmName()
{
    // WM_NAME as a Latin-1 STRING, as older programs set it.
    const Window window = makeWindow("old", "OldStyle", nullptr);
    XStoreName(display, window, "Caf\xe9 noir");
    XSync(display, False);
    QCOMPARE(QString::fromStdString(desktop->texts(window).title), QStringLiteral("Caf\u00e9 noir"));
    QCOMPARE(QString::fromStdString(desktop->texts(window).windowClass), QStringLiteral("old.OldStyle"));

    const platform::WindowTexts none = desktop->texts(makeWindow(nullptr, nullptr, nullptr));
    QVERIFY(none.windowClass.empty() && none.title.empty());
}

// Guards against BadWindow reaching Xlib's default handler, which ends the
// process, and against a trapped error spoiling later calls.
void TestX11Desktop::windowGoneBetweenQueries()
{
    const Window window = makeWindow("brief", "Brief", "soon gone");
    QCOMPARE(QString::fromStdString(desktop->texts(window).windowClass), QStringLiteral("brief.Brief"));
    setActiveWindow(window);
    XDestroyWindow(display, window);
    XSync(display, False);

    QCOMPARE(desktop->foreground(), window); // the property still names it
    const platform::WindowTexts texts = desktop->texts(window);
    QVERIFY(texts.windowClass.empty() && texts.title.empty());
    QVERIFY(desktop->executable(window).empty());

    QVERIFY(desktop->connected());
    showPattern();
    QVERIFY(copyOf(*desktop, screen, 400, 225) == expectedCopy(screen, 400, 225, screen));
}

void TestX11Desktop::foreignWindowTextsAndExecutable()
{
    const QString xterm = QStandardPaths::findExecutable("xterm");
    if (xterm.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs xterm and xdotool");
    QProcess term;
    term.start(
        xterm, { "-name", "huelensterm", "-class", "HuelensTerm", "-title", "terminal title", "-e", "sleep", "30" });
    QByteArray ids;
    QVERIFY(run("xdotool", { "search", "--sync", "--classname", "huelensterm" }, &ids));
    const platform::WindowHandle window = ids.split('\n').first().toULong();
    const platform::WindowTexts texts = desktop->texts(window);
    const std::string executable = desktop->executable(window);
    term.kill();
    term.waitForFinished(5000);

    QCOMPARE(QString::fromStdString(texts.windowClass), QStringLiteral("huelensterm.HuelensTerm"));
    QCOMPARE(QString::fromStdString(texts.title), QStringLiteral("terminal title"));
    QCOMPARE(QString::fromStdString(executable), QFileInfo(xterm).canonicalFilePath());
    QTRY_VERIFY(desktop->texts(window).windowClass.empty()); // gone with its process
    QVERIFY(desktop->executable(window).empty());
}

void TestX11Desktop::errorsOnOtherConnectionsGoToTheirHandler()
{
    const XErrorHandler before = XSetErrorHandler(countError);
    errorsElsewhere = 0;
    desktop->pointer(); // the back-end puts its handler back in front

    XWindowAttributes attributes;
    XGetWindowAttributes(display, 0x1fffffe, &attributes);
    XSync(display, False);
    QCOMPARE(errorsElsewhere, 1); // the test's own connection: passed on
    QVERIFY(desktop->texts(0x1fffffe).windowClass.empty());
    QCOMPARE(errorsElsewhere, 1); // the back-end's: kept
    XSetErrorHandler(before);
}

// ---- Other servers

void TestX11Desktop::fallbacksWithoutExtensions()
{
    // No RANDR, RENDER, MIT-SHM or X-Resource; two screens joined by Xinerama.
    PrivateServer server;
    QVERIFY(server.start({ "-screen", "0", "640x480x24", "-screen", "1", "320x240x24", "+xinerama", "-extension",
        "RANDR", "-extension", "RENDER", "-extension", "MIT-SHM", "-extension", "X-Resource" }));
    X11Desktop bare(server.name.toStdString());
    QVERIFY(bare.connected());
    QVERIFY(!bare.supports(Path::RenderShmPixmap) && !bare.supports(Path::RenderShmImage));
    QVERIFY(!bare.supports(Path::ShmGetImage) && bare.supports(Path::GetImage));

    const auto monitors = bare.monitors(); // one head per screen, placed as Xvfb does
    QCOMPARE(monitors.size(), std::size_t(2));
    QCOMPARE(monitors[0], (Rect { 0, 0, 640, 480 }));
    QCOMPARE(monitors[1].width(), 320);
    QCOMPARE(monitors[1].height(), 240);

    Display* other = XOpenDisplay(server.name.toLatin1().constData());
    QVERIFY(other != nullptr);
    paintPattern(other, DefaultRootWindow(other), 640, 480, false);
    const Rect source { -10, 100, 630, 480 };
    const QString diff
        = difference(copyOf(bare, source, 320, 190), expectedCopy(source, 320, 190, { 0, 0, 640, 480 }), 320);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(int(bare.lastCapturePath()), int(Path::GetImage));
    bare.setCapturePath(Path::RenderShmPixmap);
    QCOMPARE(copyOf(bare, source, 8, 8), blackImage(8, 8));

    // Without X-Resource: _NET_WM_PID, trusted only from this machine.
    const Window window = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 10, 10, 0, 0, 0);
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(other, window, XInternAtom(other, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&pid), 1);
    auto setMachine = [&](const char* host) {
        XChangeProperty(other, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(host), int(std::strlen(host)));
        XSync(other, False);
    };
    XSync(other, False);
    const QString self = QFileInfo("/proc/self/exe").canonicalFilePath();
    QCOMPARE(QString::fromStdString(bare.executable(window)), self);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    setMachine(host);
    QCOMPARE(QString::fromStdString(bare.executable(window)), self);
    setMachine("some-other-machine");
    QVERIFY(bare.executable(window).empty());
    XCloseDisplay(other);
}

// Guards against a lost server ending the program through Xlib's I/O error
// handling, and against calls that wait for it.
void TestX11Desktop::serverGoingAwayLeavesBlackAndEmpty()
{
    PrivateServer server;
    QVERIFY(server.start({ "-screen", "0", "320x200x24" }));
    X11Desktop doomed(server.name.toStdString());
    QCOMPARE(doomed.monitors().size(), std::size_t(1));
    server.stop();
    for (int round = 0; round < 2; ++round) { // the first finds it gone, the second knows
        QCOMPARE(copyOf(doomed, Rect { 0, 0, 320, 200 }, 80, 50), blackImage(80, 50));
        QVERIFY(doomed.monitors().empty());
        QCOMPARE(doomed.pointer().x + doomed.pointer().y, 0);
        QCOMPARE(doomed.foreground(), 0ul);
        QVERIFY(doomed.texts(0x200001).title.empty() && doomed.executable(0x200001).empty());
    }
    QVERIFY(!doomed.connected());
    QVERIFY(desktop->connected()); // the shared server is untouched
}

QTEST_MAIN(TestX11Desktop)
#include "test_x11_desktop.moc"
