// The X11 back-end on with-xvfb.sh's Xvfb (1600 x 900, no window manager),
// plus servers of the test's own for the fallbacks and a server that goes away.

#include "platform/x11/X11Desktop.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include "x11/PrivateServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <memory>
#include <unistd.h>

using platform::Rect;
using platform::X11Desktop;
using Path = X11Desktop::CapturePath;

Q_DECLARE_METATYPE(Path)

namespace {

const Path readingPaths[] = { Path::RenderShmPixmap, Path::RenderShmImage, Path::ShmGetImage, Path::GetImage };
const char* const pathNames[] = { "auto", "render-shm-pixmap", "render-shm-image", "shm-get-image", "get-image" };
const Rect kScreen { 0, 0, 1600, 900 };

// Every pixel differs and none is black: a copy shows which source pixel
// each output pixel took, and black can only mean "outside".
std::uint32_t patternPixel(int x, int y, bool inverted)
{
    const std::uint32_t rgb = (std::uint32_t(x & 0xff) << 16) | (std::uint32_t(y & 0xff) << 8) | 0x80
        | std::uint32_t((x >> 8) & 7) | std::uint32_t(((y >> 8) & 7) << 3);
    return inverted ? (rgb ^ 0x7f7f7f) : rgb;
}

void paintPattern(Display* display, Drawable drawable, int width, int height, bool inverted = false)
{
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0, nullptr,
        unsigned(width), unsigned(height), 32, 0);
    image->data = static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * std::size_t(height)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            XPutPixel(image, x, y, patternPixel(x, y, inverted));
    XPutImage(display, drawable, DefaultGC(display, DefaultScreen(display)), image, 0, 0, 0, 0, unsigned(width),
        unsigned(height));
    XDestroyImage(image);
    XSync(display, False);
}

// The first pixel of a copy that is not the pattern's at nearestSourceIndex
// (black outside `screen`); empty when all are.
QString copyMismatch(X11Desktop& desktop, const Rect& source, int outWidth, int outHeight, const Rect& screen = kScreen,
    bool inverted = false)
{
    std::vector<std::uint8_t> image(std::size_t(outWidth) * std::size_t(outHeight) * 4, 0x5a); // unwritten shows
    desktop.copy(source, outWidth, outHeight, image.data());
    const std::uint8_t* p = image.data();
    for (int j = 0; j < outHeight; ++j) {
        const int y = source.top + platform::nearestSourceIndex(j, source.height(), outHeight);
        for (int i = 0; i < outWidth; ++i, p += 4) {
            const int x = source.left + platform::nearestSourceIndex(i, source.width(), outWidth);
            const bool inside = source.width() > 0 && source.height() > 0 && x >= screen.left && x < screen.right
                && y >= screen.top && y < screen.bottom;
            const std::uint32_t rgb = inside ? patternPixel(x, y, inverted) : 0;
            if (p[0] != std::uint8_t(rgb) || p[1] != std::uint8_t(rgb >> 8) || p[2] != std::uint8_t(rgb >> 16)
                || p[3] != 255)
                return QString::asprintf(
                    "pixel (%d, %d): BGRA %d,%d,%d,%d, not %06x", i, j, p[0], p[1], p[2], p[3], rgb);
        }
    }
    return {};
}

bool xrandr(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xrandr"), arguments) == 0;
}

struct CopyCase {
    const char* name;
    Rect source;
    int outWidth, outHeight;
    bool inverted;
};

} // namespace

Q_DECLARE_METATYPE(CopyCase)

class TestX11Desktop : public QObject {
    Q_OBJECT

    Display* display = nullptr; // the test's own connection, to draw and make windows
    Window root = None;
    Window patternWindow = None;
    std::unique_ptr<X11Desktop> desktop;
    std::vector<Window> windows;

    void showPattern(bool inverted = false)
    {
        XMapRaised(display, patternWindow);
        paintPattern(display, patternWindow, kScreen.width(), kScreen.height(), inverted);
    }

    Window makeWindow(const char* instance, const char* windowClass, const char* title, Window parent = None)
    {
        const Window window = XCreateSimpleWindow(display, parent == None ? root : parent, 10, 10, 200, 100, 0, 0, 0);
        if (parent == None)
            windows.push_back(window);
        if (instance) {
            XClassHint hint { const_cast<char*>(instance), const_cast<char*>(windowClass) };
            XSetClassHint(display, window, &hint);
        }
        if (title)
            XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
        XMapWindow(display, window);
        XSync(display, False);
        return window;
    }

    void setActiveWindow(Window window)
    {
        const unsigned long value = window;
        XChangeProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
            PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
        XSync(display, False);
    }

    void focus(Window window)
    {
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
    }

    QString className(platform::WindowHandle window)
    {
        return QString::fromStdString(desktop->texts(window).windowClass);
    }

private slots:
    void initTestCase()
    {
        display = XOpenDisplay(nullptr);
        QVERIFY2(display != nullptr, "no X display");
        root = DefaultRootWindow(display);
        XSetWindowAttributes attributes {};
        attributes.override_redirect = True;
        patternWindow = XCreateWindow(display, root, 0, 0, 1600, 900, 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect, &attributes);
        desktop = std::make_unique<X11Desktop>();
        QVERIFY(desktop->connected());
    }

    void cleanupTestCase() { XCloseDisplay(display); }

    void cleanup()
    {
        XDeleteProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False));
        XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
        for (Window window : windows)
            XDestroyWindow(display, window);
        windows.clear();
        XSync(display, False);
        desktop->setCapturePath(Path::Auto);
        desktop->releaseCapture();
    }

    // Output centres mapped back, a hair below.
    void nearestSourceIndexWorkedExamples()
    {
        const struct {
            int sourceLength, outLength;
            std::vector<int> picked;
        } cases[] = {
            { 5, 5, { 0, 1, 2, 3, 4 } }, // native: i + 0.5, so i
            { 2, 4, { 0, 0, 1, 1 } }, // centres 0.25, 0.75, 1.25, 1.75
            { 3, 2, { 0, 2 } }, // centres 0.75 and 2.25
            { 10, 3, { 1, 4, 8 } }, // step 218453 / 65536, truncated: 1.67, 5.0 - a hair, 8.33
        };
        for (const auto& c : cases)
            for (int i = 0; i < int(c.picked.size()); ++i)
                QCOMPARE(platform::nearestSourceIndex(i, c.sourceLength, c.outLength), c.picked[std::size_t(i)]);
    }

    // Guards the client-side paths against picking other pixels than the
    // server's scaling, over thousands of length pairs, offset.
    void serverScalingPicksNearestSourceIndex()
    {
        if (!desktop->supports(Path::RenderShmPixmap))
            QSKIP("no RENDER with shared-memory pixmaps");
        showPattern();
        desktop->setCapturePath(Path::RenderShmPixmap);
        std::vector<int> lengths { 63, 64, 65, 99, 100, 101, 127, 225, 255, 256, 257, 333, 400, 401, 599, 640, 719, 800,
            801, 899, 900 };
        for (int n = 1; n <= 48; ++n)
            lengths.push_back(n);
        for (int sourceLength : lengths) {
            for (int outLength : lengths) {
                const Rect row { 37, 11, 37 + sourceLength, 12 };
                const Rect column { 5, 0, 6, sourceLength };
                const QString diff
                    = copyMismatch(*desktop, row, outLength, 1) + copyMismatch(*desktop, column, 1, outLength);
                QVERIFY2(diff.isEmpty(),
                    qPrintable(QStringLiteral("%1 -> %2: %3").arg(sourceLength).arg(outLength).arg(diff)));
            }
        }
    }

    // Rows run in order on one back-end, so they also guard the caches kept
    // between copies: new contents and a new place of the same size must show.
    void copyIsPixelExact_data()
    {
        QTest::addColumn<Path>("path");
        QTest::addColumn<CopyCase>("c");
        const CopyCase cases[] = {
            { "whole screen, native", { 0, 0, 1600, 900 }, 1600, 900, false },
            { "whole screen to 400", { 0, 0, 1600, 900 }, 400, 225, false },
            { "new contents", { 0, 0, 1600, 900 }, 400, 225, true },
            { "odd sizes", { 3, 7, 1003, 569 }, 256, 143, false },
            { "sub-rectangle, native", { 700, 50, 1100, 350 }, 400, 300, false },
            { "same size, new place", { 10, 20, 810, 620 }, 400, 300, false },
            { "upscaled", { 101, 203, 138, 226 }, 100, 61, true },
            { "nearly native", { 1, 1, 1600, 900 }, 1601, 901, false },
            // XGetImage refuses rectangles that leave the root and RENDER reads
            // transparent there: black and opaque either way.
            { "past the top left", { -100, -50, 300, 250 }, 400, 300, false },
            { "around the screen", { -200, -100, 1800, 1000 }, 500, 275, true },
            { "wholly outside", { 2000, 0, 2100, 100 }, 100, 100, false },
            { "no width", { 100, 100, 100, 200 }, 4, 4, false },
        };
        for (Path path : readingPaths)
            for (const CopyCase& c : cases)
                QTest::addRow("%s: %s", pathNames[int(path)], c.name) << path << c;
    }

    void copyIsPixelExact()
    {
        QFETCH(Path, path);
        QFETCH(CopyCase, c);
        if (!desktop->supports(path))
            QSKIP("the server does not offer this path");
        showPattern(c.inverted);
        desktop->setCapturePath(path);
        const QString diff = copyMismatch(*desktop, c.source, c.outWidth, c.outHeight, kScreen, c.inverted);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QCOMPARE(int(desktop->lastCapturePath()), int(c.source.width() <= 0 ? Path::Auto : path));
    }

    void monitorsAndPointer()
    {
        QCOMPARE(desktop->monitors(), std::vector<Rect> { kScreen });
        // The right half made first, so the order is the server's, not by place.
        QVERIFY(xrandr({ "--setmonitor", "right", "800/211x900/238+800+0", "none" }));
        QVERIFY(xrandr({ "--setmonitor", "left", "800/211x900/238+0+0", "screen" }));
        const auto two = desktop->monitors();
        QVERIFY(xrandr({ "--delmonitor", "right" }) && xrandr({ "--delmonitor", "left" }));
        QCOMPARE(two, (std::vector<Rect> { { 800, 0, 1600, 900 }, { 0, 0, 800, 900 } }));
        QCOMPARE(desktop->monitors(), std::vector<Rect> { kScreen });

        // Any client may declare monitors, of any size and anywhere; only the
        // part on the screen is a monitor (a 32767 x 32767 one made region
        // selection read gigabytes), and one beyond the screen is none.
        QVERIFY(xrandr({ "--setmonitor", "huge", "32767/100x32767/100+0+0", "none" }));
        QVERIFY(xrandr({ "--setmonitor", "beyond", "800/211x900/238+1600+0", "none" }));
        QVERIFY(xrandr({ "--setmonitor", "across", "800/211x900/238+1200+500", "none" }));
        const auto declared = desktop->monitors();
        QVERIFY(xrandr({ "--delmonitor", "huge" }) && xrandr({ "--delmonitor", "beyond" })
            && xrandr({ "--delmonitor", "across" }));
        QCOMPARE(declared, (std::vector<Rect> { kScreen, { 1200, 500, 1600, 900 }, kScreen }));

        for (const QPoint& to : { QPoint(123, 456), QPoint(1599, 0), QPoint(0, 899) }) {
            XWarpPointer(display, None, root, 0, 0, 0, 0, to.x(), to.y());
            XSync(display, False);
            QCOMPARE(QPoint(desktop->pointer().x, desktop->pointer().y), to);
        }
    }

    void foregroundAndItsTexts()
    {
        const char* title = "Grading \xe2\x80\x94 caf\xc3\xa9 \xe2\x9c\x93";
        const Window window = makeWindow("huelens-test", "HuelensTest", title);
        setActiveWindow(window);
        QCOMPARE(desktop->foreground(), window);
        QCOMPARE(className(window), QStringLiteral("huelens-test.HuelensTest"));
        QCOMPARE(QString::fromStdString(desktop->texts(window).title), QString::fromUtf8(title));
        // X-Resource names this process as the window's owner.
        QCOMPARE(QString::fromStdString(desktop->executable(window)), QFileInfo("/proc/self/exe").canonicalFilePath());
        focus(window); // a window manager says "nothing is active" with None, whatever has focus
        setActiveWindow(None);
        QCOMPARE(desktop->foreground(), 0ul);

        // WM_NAME as a Latin-1 STRING, as older programs set it; no texts at all.
        const Window old = makeWindow("old", "OldStyle", nullptr);
        XStoreName(display, old, "Caf\xe9 noir");
        XSync(display, False);
        QCOMPARE(QString::fromStdString(desktop->texts(old).title), QStringLiteral("Caf\u00e9 noir"));
        QCOMPARE(className(old), QStringLiteral("old.OldStyle"));
        const platform::WindowTexts none = desktop->texts(makeWindow(nullptr, nullptr, nullptr));
        QVERIFY(none.windowClass.empty() && none.title.empty());

        // Guards against BadWindow reaching Xlib's default handler, which ends
        // the process, and against a trapped error spoiling later calls.
        setActiveWindow(old);
        XDestroyWindow(display, old);
        XSync(display, False);
        QCOMPARE(desktop->foreground(), old); // the property still names it
        QVERIFY(className(old).isEmpty() && desktop->texts(old).title.empty());
        QVERIFY(desktop->executable(old).empty());
        QVERIFY(desktop->connected());
        showPattern();
        QCOMPARE(copyMismatch(*desktop, kScreen, 400, 225), QString());
    }

    // A repeated capture makes the back-end keep what it learnt about the
    // window in front; other programs' changes show in the next answers all
    // the same, read from the events each call takes in first.
    void foregroundWhileCapturing()
    {
        const Window first = makeWindow("first", "First", "first");
        const Window second = makeWindow("second", "Second", "second");
        setActiveWindow(first);
        QVERIFY(!desktop->unchangedSinceLastCopy(kScreen, 400, 225));
        const auto inFront = [this] {
            desktop->pointer(); // a round trip of the back-end: the events sent before it are in
            const platform::WindowHandle window = desktop->foreground();
            return QStringList { className(window), QString::fromStdString(desktop->texts(window).title),
                QFileInfo(QString::fromStdString(desktop->executable(window))).fileName() };
        };
        const QString self = QFileInfo(QFileInfo("/proc/self/exe").canonicalFilePath()).fileName();
        QCOMPARE(inFront(), (QStringList { "first.First", "first", self }));

        const char* renamed = "renamed";
        XChangeProperty(display, first, XInternAtom(display, "_NET_WM_NAME", False),
            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(renamed), int(std::strlen(renamed)));
        XSync(display, False);
        QCOMPARE(inFront(), (QStringList { "first.First", "renamed", self }));
        setActiveWindow(second);
        QCOMPARE(inFront(), (QStringList { "second.Second", "second", self }));
        XDestroyWindow(display, second);
        XSync(display, False);
        QCOMPARE(inFront(), (QStringList { "", "", "" }));

        desktop->releaseCapture();
        setActiveWindow(first);
        QCOMPARE(inFront(), (QStringList { "first.First", "renamed", self }));
    }

    void foregroundFromInputFocus()
    {
        // No window manager, no WM_STATE: the top-level window holding the focus.
        const Window plain = makeWindow("plain", "Plain", "plain window");
        focus(makeWindow(nullptr, nullptr, nullptr, plain));
        QCOMPARE(desktop->foreground(), plain);

        // As a reparenting window manager leaves it: a frame holding a
        // decoration and the client marked with WM_STATE.
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

    void errorsOnOtherConnectionsGoToTheirHandler()
    {
        static int errorsElsewhere = 0;
        const XErrorHandler before = XSetErrorHandler([](Display*, XErrorEvent*) { return ++errorsElsewhere; });
        desktop->pointer(); // the back-end puts its handler back in front
        XWindowAttributes attributes;
        XGetWindowAttributes(display, 0x1fffffe, &attributes);
        XSync(display, False);
        QCOMPARE(errorsElsewhere, 1); // the test's own connection: passed on
        QVERIFY(className(0x1fffffe).isEmpty());
        QCOMPARE(errorsElsewhere, 1); // the back-end's: kept
        XSetErrorHandler(before);
    }

    // No RANDR, RENDER, MIT-SHM or X-Resource; two screens joined by Xinerama.
    void fallbacksWithoutExtensions()
    {
        PrivateServer server;
        QVERIFY(server.start({ "-screen", "0", "640x480x24", "-screen", "1", "320x240x24", "+xinerama", "-extension",
            "RANDR", "-extension", "RENDER", "-extension", "MIT-SHM", "-extension", "X-Resource" }));
        X11Desktop bare(server.name);
        QVERIFY(bare.connected());
        QVERIFY(!bare.supports(Path::RenderShmPixmap) && !bare.supports(Path::RenderShmImage));
        QVERIFY(!bare.supports(Path::ShmGetImage) && bare.supports(Path::GetImage));
        const auto monitors = bare.monitors(); // one head per screen, placed as Xvfb does
        QCOMPARE(monitors.size(), std::size_t(2));
        QCOMPARE(monitors[0], (Rect { 0, 0, 640, 480 }));
        QCOMPARE(QSize(monitors[1].width(), monitors[1].height()), QSize(320, 240));

        Display* other = XOpenDisplay(server.name.c_str());
        QVERIFY(other != nullptr);
        paintPattern(other, DefaultRootWindow(other), 640, 480);
        QCOMPARE(copyMismatch(bare, { -10, 100, 630, 480 }, 320, 190, { 0, 0, 640, 480 }), QString());
        QCOMPARE(int(bare.lastCapturePath()), int(Path::GetImage));

        // Without X-Resource: _NET_WM_PID, trusted only from this machine.
        const Window window = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 10, 10, 0, 0, 0);
        const unsigned long pid = static_cast<unsigned long>(getpid());
        XChangeProperty(other, window, XInternAtom(other, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(&pid), 1);
        const auto executableFrom = [&](const char* host) {
            if (host)
                XChangeProperty(other, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(host), int(std::strlen(host)));
            XSync(other, False);
            return QString::fromStdString(bare.executable(window));
        };
        const QString self = QFileInfo("/proc/self/exe").canonicalFilePath();
        QCOMPARE(executableFrom(nullptr), self);
        QCOMPARE(executableFrom(QSysInfo::machineHostName().toUtf8().constData()), self);
        QCOMPARE(executableFrom("some-other-machine"), QString());
        XCloseDisplay(other);
    }

    // Guards against a lost server ending the program through Xlib's I/O
    // error handling, and against calls that wait for it.
    void serverGoingAwayLeavesBlackAndEmpty()
    {
        PrivateServer server;
        QVERIFY(server.start({ "-screen", "0", "320x200x24" }));
        X11Desktop doomed(server.name);
        QCOMPARE(doomed.monitors().size(), std::size_t(1));
        server.stop();
        for (int round = 0; round < 2; ++round) { // the first finds it gone, the second knows
            QCOMPARE(copyMismatch(doomed, Rect { 0, 0, 320, 200 }, 80, 50, {}), QString()); // black
            QVERIFY(doomed.monitors().empty());
            QCOMPARE(doomed.pointer().x + doomed.pointer().y, 0);
            QCOMPARE(doomed.foreground(), 0ul);
            QVERIFY(doomed.texts(0x200001).title.empty() && doomed.executable(0x200001).empty());
        }
        QVERIFY(!doomed.connected());
        QVERIFY(desktop->connected()); // the shared server is untouched
    }
};

QTEST_MAIN(TestX11Desktop)
#include "test_x11_desktop.moc"
