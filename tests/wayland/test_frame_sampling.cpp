// Stream frames are scaled on our side; the X11 back-end lets the X server
// scale. Both must give the same bytes for the same screen: a pattern in
// which every pixel differs is painted on a private Xvfb and put in stream
// frames of each pixel order, and each copy is compared byte for byte with
// what the X server's nearest filter gives.
#include "platform/choice/DesktopChoice.h"
#include "platform/wayland/FrameSampling.h"
#include "platform/x11/X11Desktop.h"

#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

using platform::Rect;
using namespace platform::wayland;

Q_DECLARE_METATYPE(Rect)

namespace {

const Rect kScreen { 0, 0, 1600, 900 };

std::uint32_t patternPixel(int x, int y)
{
    return (std::uint32_t(x & 0xff) << 16) | (std::uint32_t(y & 0xff) << 8) | 0x80 | std::uint32_t((x >> 8) & 7)
        | std::uint32_t(((y >> 8) & 7) << 3);
}

void paintRoot(Display* display)
{
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0, nullptr,
        unsigned(kScreen.width()), unsigned(kScreen.height()), 32, 0);
    image->data = static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * kScreen.height()));
    for (int y = 0; y < kScreen.height(); ++y)
        for (int x = 0; x < kScreen.width(); ++x)
            XPutPixel(image, x, y, patternPixel(x, y));
    XPutImage(display, DefaultRootWindow(display), DefaultGC(display, DefaultScreen(display)), image, 0, 0, 0, 0,
        unsigned(kScreen.width()), unsigned(kScreen.height()));
    XDestroyImage(image);
    XSync(display, False);
}

// The part `area` of the pattern as a stream frame: rows padded to `stride`
// bytes after `offset` bytes of something else, pixels in `order`.
struct PatternFrame {
    PatternFrame(const Rect& area, PixelOrder order, int padding, int offset)
        : bytes(std::size_t(offset) + std::size_t(area.width() * 4 + padding) * area.height(), 0x33)
    {
        view.width = area.width();
        view.height = area.height();
        view.stride = area.width() * 4 + padding;
        view.order = order;
        view.data = bytes.data() + offset;
        for (int y = 0; y < area.height(); ++y)
            for (int x = 0; x < area.width(); ++x) {
                const std::uint32_t rgb = patternPixel(area.left + x, area.top + y);
                std::uint8_t* p = bytes.data() + offset + std::size_t(y) * view.stride + std::size_t(x) * 4;
                const std::uint8_t r = rgb >> 16, g = rgb >> 8, b = rgb;
                p[0] = order == PixelOrder::BGRx ? b : r;
                p[1] = g;
                p[2] = order == PixelOrder::BGRx ? r : b;
                p[3] = 0; // an "x" byte: never shown
            }
    }
    std::vector<std::uint8_t> bytes;
    FrameView view;
};

} // namespace

class FrameSamplingTest : public QObject {
    Q_OBJECT

    Display* display = nullptr;
    std::unique_ptr<platform::X11Desktop> x11;

private slots:
    void initTestCase()
    {
        display = XOpenDisplay(nullptr);
        QVERIFY(display);
        paintRoot(display);
        x11 = std::make_unique<platform::X11Desktop>();
        x11->setCapturePath(platform::X11Desktop::CapturePath::RenderShmImage);
        QVERIFY(x11->supports(platform::X11Desktop::CapturePath::RenderShmImage));
    }
    void cleanupTestCase()
    {
        x11.reset();
        XCloseDisplay(display);
    }

    void sameBytesAsTheXServer_data()
    {
        QTest::addColumn<Rect>("source");
        QTest::addColumn<int>("outWidth");
        QTest::addColumn<int>("outHeight");
        QTest::addColumn<int>("order");
        QTest::newRow("whole screen to 400, BGRx") << kScreen << 400 << 225 << int(PixelOrder::BGRx);
        QTest::newRow("whole screen to 400, RGBx") << kScreen << 400 << 225 << int(PixelOrder::RGBx);
        QTest::newRow("odd ratio 1000x562 to 256") << Rect { 37, 91, 1037, 653 } << 256 << 143 << int(PixelOrder::BGRx);
        QTest::newRow("enlarged 100x50 to 400") << Rect { 100, 200, 200, 250 } << 400 << 200 << int(PixelOrder::RGBx);
        QTest::newRow("one to one") << Rect { 5, 7, 405, 207 } << 400 << 200 << int(PixelOrder::BGRx);
        QTest::newRow("past the right and bottom edges")
            << Rect { 1400, 800, 1800, 1000 } << 300 << 150 << int(PixelOrder::BGRx);
        QTest::newRow("past the left and top edges")
            << Rect { -100, -50, 300, 150 } << 333 << 166 << int(PixelOrder::RGBx);
        QTest::newRow("wholly off the screen") << Rect { 2000, 0, 2400, 200 } << 400 << 200 << int(PixelOrder::BGRx);
    }

    // The whole screen as two monitors side by side, each with its own
    // frame (padded rows, data after an offset): the copy must not show
    // where one frame ends and the next begins.
    void sameBytesAsTheXServer()
    {
        QFETCH(Rect, source);
        QFETCH(int, outWidth);
        QFETCH(int, outHeight);
        QFETCH(int, order);

        std::vector<std::uint8_t> expected(std::size_t(outWidth) * outHeight * 4, 0x5a);
        x11->copy(source, outWidth, outHeight, expected.data());
        QCOMPARE(x11->lastCapturePath(), platform::X11Desktop::CapturePath::RenderShmImage);

        const Rect left { 0, 0, 700, 900 };
        const Rect right { 700, 0, 1600, 900 };
        const PatternFrame leftFrame(left, PixelOrder(order), 12, 64);
        const PatternFrame rightFrame(right, PixelOrder(order), 0, 0);
        std::vector<std::uint8_t> actual(expected.size(), 0x5a);
        std::vector<int> columns;
        fillBlack(actual.data(), std::size_t(outWidth) * outHeight);
        sampleMonitor(leftFrame.view, left, source, outWidth, outHeight, actual.data(), columns);
        sampleMonitor(rightFrame.view, right, source, outWidth, outHeight, actual.data(), columns);

        for (std::size_t i = 0; i < actual.size(); ++i)
            if (actual[i] != expected[i])
                QFAIL(qPrintable(QString::asprintf("pixel (%d, %d) byte %d: %d, the X server gave %d",
                    int(i / 4 % outWidth), int(i / 4 / outWidth), int(i % 4), actual[i], expected[i])));
    }

    // A frame whose layout does not fit the buffer it came in is refused,
    // with a reason the user can read; every other one is read.
    void frameLayouts_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("stride");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("readable");
        QTest::newRow("exact") << 1280 << 720 << qint64(0) << qint64(5120) << qint64(5120 * 720) << true;
        QTest::newRow("padded rows, last row unpadded")
            << 10 << 2 << qint64(16) << qint64(48) << qint64(16 + 48 + 40) << true;
        QTest::newRow("one byte short") << 10 << 2 << qint64(16) << qint64(48) << qint64(16 + 48 + 39) << false;
        QTest::newRow("stride below a row") << 10 << 2 << qint64(0) << qint64(39) << qint64(1000) << false;
        QTest::newRow("negative offset") << 10 << 2 << qint64(-4) << qint64(40) << qint64(1000) << false;
        QTest::newRow("no size yet") << 0 << 0 << qint64(0) << qint64(0) << qint64(1000) << false;
        QTest::newRow("a single row") << 10 << 1 << qint64(0) << qint64(40) << qint64(40) << true;
        QTest::newRow("stride below one pixel") << 1 << 3 << qint64(0) << qint64(1) << qint64(100) << false;
        QTest::newRow("size far beyond the buffer")
            << 65536 << 65536 << qint64(0) << qint64(262144) << qint64(4096) << false;
    }
    void frameLayouts()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(qint64, offset);
        QFETCH(qint64, stride);
        QFETCH(qint64, size);
        QFETCH(bool, readable);
        QCOMPARE(frameLayoutProblem(width, height, offset, stride, size).empty(), readable);
    }

    // A Wayland session is one with a Wayland display whose session type
    // says so; anything else (XWayland clients of a Wayland session started
    // from an X terminal, a bare Wayland display) runs on X11.
    void sessionChoice_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("wayland session") << QByteArray("wayland-0") << QByteArray("wayland") << true;
        QTest::newRow("x11 session") << QByteArray() << QByteArray("x11") << false;
        QTest::newRow("display without session type") << QByteArray("wayland-0") << QByteArray() << false;
        QTest::newRow("session type without display") << QByteArray() << QByteArray("wayland") << false;
        QTest::newRow("tty") << QByteArray("wayland-1") << QByteArray("tty") << false;
    }
    void sessionChoice()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, wayland);
        const auto backend = platform::sessionBackend(waylandDisplay.isNull() ? nullptr : waylandDisplay.constData(),
            sessionType.isNull() ? nullptr : sessionType.constData());
        QCOMPARE(backend == platform::Backend::Wayland, wayland);
    }
};

QTEST_GUILESS_MAIN(FrameSamplingTest)
#include "test_frame_sampling.moc"
