// Region selection on a Wayland desktop, with the tool window on XWayland
// (as the program places it where XWayland is there): the screenshot is the
// shared screen's current frame, asked for once, and the dragged rectangle
// is stored in monitor pixels.
#include "wayland/WaylandEndToEnd.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>

using namespace wayland_e2e;

namespace {

QString xdotool(const QStringList& arguments)
{
    return run(QStringList { "xdotool" } + arguments).trimmed();
}

// The region window shown, other than `closing` (one that may not have
// gone yet).
QString regionWindow(int timeout = 20000, const QString& closing = {})
{
    QString id;
    (void)QTest::qWaitFor(
        [&] {
            const QStringList shown
                = xdotool({ "search", "--onlyvisible", "--name", "^Select region to capture for application: " })
                      .split('\n', Qt::SkipEmptyParts);
            for (const QString& window : shown)
                if (window != closing)
                    id = window;
            return !id.isEmpty();
        },
        timeout);
    return id;
}

// "R" again until the region window is there: with the screen already
// shared, opening it is all the key does, and it writes nothing to the log.
QString openRegionWindow(Program& program, const QString& closing)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        program.type("r");
        if (const QString id = regionWindow(3000, closing); !id.isEmpty())
            return id;
    }
    return {};
}

// What `window` shows, read from XWayland: its own pixels, wherever the
// desktop placed it and whatever lies over it. Null while it cannot be read.
QImage windowPicture(const QString& window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return {};
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; }); // unmapped meanwhile: no picture
    QImage picture;
    XWindowAttributes attributes {};
    const Window id = window.toULong();
    if (XGetWindowAttributes(display, id, &attributes) && attributes.map_state == IsViewable) {
        if (XImage* image = XGetImage(display, id, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap)) {
            if (image->bits_per_pixel == 32)
                picture = QImage(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                    image->bytes_per_line, QImage::Format_RGB32)
                              .copy();
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return picture;
}

// Drags with the left button from `from` to `to`, in the window's pixels,
// until `done` (a press can reach a window that has only just been shown
// before it takes input; the window closes once a drag has reached it).
bool drag(const QString& window, const QPoint& from, const QPoint& to, const std::function<bool()>& done)
{
    const auto at = [&](const QPoint& p) {
        return QStringList { "mousemove", "--window", window, QString::number(p.x()), QString::number(p.y()) };
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        xdotool(at(from) + QStringList { "mousedown", "1" } + at((from + to) / 2) + at(to)
            + QStringList { "mouseup", "1" });
        if (QTest::qWaitFor(done, 3000))
            return true;
    }
    return false;
}

// The stored capture record of "Unknown" as monitor, left, top, right, bottom.
QList<int> storedRecord(const Program& program)
{
    QList<int> fields;
    for (const QString& field : program.stored("Unknown").split('|'))
        fields.append(field.toInt());
    return fields;
}

} // namespace

class WaylandRegionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "run through STACK_XWAYLAND=1 with-sway.sh");
        startTerminal(terminal, "ff8000");
        QVERIFY(QTest::qWaitFor([] { return !windowRect("test-app").isEmpty(); }, 10000));
        startKeyboard(keyboard);
    }
    void cleanupTestCase()
    {
        keyboard.kill();
        keyboard.waitForFinished();
        terminal.kill();
        terminal.waitForFinished();
    }

    // "Select region" before any capture asks once; the window shows the
    // shared screen (the terminal), not black; a drag of 301 x 151 label
    // pixels at three quarters of the size is 401 x 201 monitor pixels, so
    // 400 x 200 are captured. A second selection asks nothing and moves the
    // record by the drag's offset over three quarters.
    void dragStoresTheRectangle()
    {
        Program program("region");
        QVERIFY(program.start());
        QVERIFY(program.press("r"));
        const QString window = regionWindow();
        QVERIFY(!window.isEmpty());
        // Much of it is the terminal (the rest is the program's own window,
        // at a size that depends on how far it got when the screen was
        // read). A window just mapped may not have been painted yet, so it
        // is read again until it shows the screen or time runs out.
        QString seen;
        const bool showsScreen = QTest::qWaitFor(
            [&] {
                const QImage picture = windowPicture(window);
                const QRect area = picture.rect().adjusted(0, 60, 0, 0); // below its monitor buttons
                if (area.isEmpty()) {
                    seen = "nothing to read";
                    return false;
                }
                const int terminal = area.width() * area.height() - pixelsOtherThan(picture, area, kTerminalColour);
                seen = QString("%1 of %2 x %3 pixels are the terminal's, the middle is %4")
                           .arg(terminal)
                           .arg(area.width())
                           .arg(area.height())
                           .arg(picture.pixelColor(area.center()).name());
                return terminal >= area.width() * area.height() / 10;
            },
            10000);
        QVERIFY2(showsScreen, qPrintable("the region window does not show the shared screen: " + seen));

        QVERIFY(drag(window, { 100, 100 }, { 400, 250 }, [&] { return storedRecord(program).size() == 5; }));
        const QList<int> first = storedRecord(program);
        QCOMPARE(first[0], 0);
        QCOMPARE(first[3] - first[1], 400);
        QCOMPARE(first[4] - first[2], 200);

        const QString again = openRegionWindow(program, window);
        QVERIFY(!again.isEmpty());
        QTest::qWait(300);
        QVERIFY(drag(again, { 175, 130 }, { 475, 280 }, [&] { return storedRecord(program) != first; }));
        const QList<int> second = storedRecord(program);
        QCOMPARE(second, (QList<int> { 0, first[1] + 100, first[2] + 40, first[3] + 100, first[4] + 40 }));
        QCOMPARE(program.log().count("capture: Asking"), 1);
    }

private:
    QProcess terminal;
    QProcess keyboard;
};

QTEST_GUILESS_MAIN(WaylandRegionTest)
#include "test_wayland_region.moc"
