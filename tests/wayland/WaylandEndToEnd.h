#pragma once
// Helpers for the end-to-end tests on the headless Wayland desktop of
// with-sway.sh: its services, sway's window tree, screenshots, and the real
// program with a folder of its own.

#include "support/SessionProgram.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace wayland_e2e {

// Orange: a picture with red and blue swapped would show a sky blue.
const QColor kTerminalColour(0xff, 0x80, 0x00);

inline QString stackDir()
{
    return qEnvironmentVariable("STACK_DIR");
}

inline QString run(const QStringList& command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(20000))
        process.kill(), process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline void stack(const QStringList& arguments)
{
    run(QStringList { "bash", QStringLiteral(HUELENS_SOURCE_DIR "/tests/wayland/stack.sh") } + arguments);
}

inline QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The window of `appId` (a Wayland app id, or an X11 class under XWayland)
// in sway's tree, in desktop pixels; empty when there is none.
inline QRect findWindow(const QJsonObject& node, const QString& appId)
{
    if (node.value("app_id").toString() == appId
        || node.value("window_properties").toObject().value("class").toString() == appId) {
        const QJsonObject r = node.value("rect").toObject();
        return QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(), r.value("height").toInt());
    }
    for (const char* children : { "nodes", "floating_nodes" })
        for (const QJsonValue child : node.value(children).toArray())
            if (const QRect found = findWindow(child.toObject(), appId); !found.isEmpty())
                return found;
    return {};
}

inline QRect windowRect(const QString& appId)
{
    return findWindow(QJsonDocument::fromJson(run({ "swaymsg", "-t", "get_tree" }).toUtf8()).object(), appId);
}

// The desktop as sway shows it now; a null image when grim could not take
// it (never an earlier picture left in the file).
inline QImage screenshot()
{
    const QString path = QDir(stackDir()).filePath(QStringLiteral("screenshot.png"));
    QFile::remove(path);
    run({ "grim", path });
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// How many pixels of `area` differ from `colour`.
inline int pixelsOtherThan(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) != colour;
    return count;
}

// The program, placed where sway shows all of it, and given keys by wtype.
struct Program : SessionProgram {
    using SessionProgram::SessionProgram;

    bool start()
    {
        launch(QStringLiteral(HUELENS_BINARY));
        if (!QTest::qWaitFor([] { return !windowRect("huelens").isEmpty(); }, 20000))
            return false;
        // sway centres the window at the height it first had; it grows
        // downwards from there, past the bottom of the output. Top edge up.
        run({ "swaymsg", "[title=\"^Korvant Huelens\"] move absolute position 440 0" });
        QTest::qWait(300);
        return true;
    }
    bool press(const QString& key)
    {
        return pressUntilTaken([&] {
            type(key);
            return true;
        });
    }
    bool pressStart() { return press("space"); }
    // A key for the program's window, once, without waiting for its effect.
    void type(const QString& key)
    {
        run({ "swaymsg", "[title=\"^Korvant Huelens\"] focus" });
        QTest::qWait(200);
        run({ "wtype", "-k", key });
    }
};

// A terminal of one colour filling the output, run as nobody like sway: its
// clients must reach it, and the test's own folders are root's alone.
inline void startTerminal(QProcess& terminal, const QString& colour, const QStringList& command = { "sleep", "600" })
{
    terminal.setWorkingDirectory("/");
    terminal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    terminal.start("setpriv",
        QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", "foot", "--app-id=test-app",
            "--title=Test Title", "-o", "colors.background=" + colour }
            + command);
}

// A keyboard for the whole run: Qt takes a key only from a keyboard the
// seat had when its window got the focus.
inline void startKeyboard(QProcess& keyboard)
{
    keyboard.start("wtype", { "-s", "3600000" });
}

} // namespace wayland_e2e
