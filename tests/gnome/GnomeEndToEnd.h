#pragma once
// Helpers for the tests on the headless GNOME desktop of with-gnome.sh: the
// shell driven through org.gnome.Shell.Eval (windows, focus, keys) and
// org.gnome.Shell.Screenshot, which its unsafe mode opens to the test; the
// screen-sharing grant seeded in the permission store; windows of one colour;
// and the real program in a folder of its own.

#include "support/SessionProgram.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QtTest>

namespace gnome_e2e {

// A colour whose channels swapped (a picture read as R, G, B instead of B,
// G, R) would show another colour.
const QColor kWindowColour(0x30, 0x70, 0xb0);
const QString kWindowClass = QStringLiteral("huelens-test-window");
const QString kWindowTitle = QStringLiteral("Test Colour");

// Clear of the program's window (which Mutter places at the left) and of the
// shell's banners at the top middle: 400 x 200, shown 1:1 in the preview.
const QByteArray kRegionConfig = "[General]\nUnknown=0|760|400|1160|600\n";

inline QString stackDir()
{
    return qEnvironmentVariable("STACK_DIR");
}

inline QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString run(const QStringList& command, int timeoutMs = 20000)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(timeoutMs))
        process.kill(), process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The result of a piece of the shell's JavaScript, as text; "ERROR: ..." when
// it threw or the shell did not answer.
inline QString eval(const QString& script)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"),
        QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell"), QStringLiteral("Eval"));
    call << script;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return QStringLiteral("ERROR: ") + reply.errorMessage();
    const QString result = reply.arguments().at(1).toString();
    if (!reply.arguments().at(0).toBool())
        return QStringLiteral("ERROR: ") + result;
    // A string result comes JSON-quoted.
    if (result.startsWith(QLatin1Char('"')) && result.endsWith(QLatin1Char('"')))
        return result.mid(1, result.size() - 2).replace(QLatin1String("\\\""), QLatin1String("\""));
    return result;
}

// A JavaScript string literal of `text`.
inline QString literal(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// The shell's windows whose title begins with `prefix`, as "title|focused|x,y,w,h" lines.
inline QStringList windows(const QString& prefix = QString())
{
    const QString found = eval(QStringLiteral("global.display.list_all_windows().filter(w => (w.get_title() || '')"
                                              ".startsWith(%1)).map(w => { const r = w.get_frame_rect(); return "
                                              "[w.get_title(), w.has_focus(), [r.x, r.y, r.width, r.height]"
                                              ".join(',')].join('|'); }).join('\\n')")
                                   .arg(literal(prefix)));
    return found.isEmpty() || found.startsWith(QLatin1String("ERROR")) ? QStringList()
                                                                       : found.split(QLatin1String("\\n"));
}

inline QString title(const QString& prefix)
{
    const QStringList found = windows(prefix);
    return found.isEmpty() ? QString() : found.first().section(QLatin1Char('|'), 0, 0);
}

inline bool focused(const QString& prefix)
{
    const QStringList found = windows(prefix);
    return !found.isEmpty() && found.first().section(QLatin1Char('|'), 1, 1) == QLatin1String("true");
}

inline QRect frame(const QString& prefix)
{
    const QStringList found = windows(prefix);
    if (found.isEmpty())
        return {};
    const QStringList r = found.first().section(QLatin1Char('|'), 2, 2).split(QLatin1Char(','));
    return r.size() == 4 ? QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()) : QRect();
}

// Gives the window the focus, as a click on it would.
inline bool focus(const QString& prefix)
{
    eval(QStringLiteral("global.display.list_all_windows().find(w => (w.get_title() || '').startsWith(%1))"
                        ".activate(global.get_current_time())")
             .arg(literal(prefix)));
    return QTest::qWaitFor([&] { return focused(prefix); }, 5000);
}

// The shell opens its overview at start, and nothing has the focus until it
// is left, as a user leaves it with Escape. Then a keyboard the test types
// on: made once, as a virtual device takes a moment to be known.
inline bool prepareShell()
{
    eval(QStringLiteral("Main.overview.hide()"));
    eval(QStringLiteral("const Clutter = imports.gi.Clutter; globalThis.huelensTestKeyboard = Clutter"
                        ".get_default_backend().get_default_seat().create_virtual_device("
                        "Clutter.InputDeviceType.KEYBOARD_DEVICE); true"));
    QTest::qWait(300);
    return QTest::qWaitFor(
        [] { return eval(QStringLiteral("Main.overview.visible")) == QLatin1String("false"); }, 10000);
}

// A key (a Clutter key name: "space", "Escape") pressed and released for
// whatever window has the focus.
inline void key(const QString& name)
{
    eval(QStringLiteral("const Clutter = imports.gi.Clutter; const t = GLib.get_monotonic_time(); "
                        "huelensTestKeyboard.notify_keyval(t, Clutter.KEY_%1, Clutter.KeyState.PRESSED); "
                        "huelensTestKeyboard.notify_keyval(t + 20000, Clutter.KEY_%1, Clutter.KeyState.RELEASED)")
             .arg(name));
}

// The desktop as the shell shows it now; a null image when it could not.
inline QImage screenshot()
{
    const QString path = QDir(stackDir()).filePath(QStringLiteral("screenshot.png"));
    QFile::remove(path);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell.Screenshot"),
        QStringLiteral("/org/gnome/Shell/Screenshot"), QStringLiteral("org.gnome.Shell.Screenshot"),
        QStringLiteral("Screenshot"));
    call << false << false << path;
    QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// Rows of `area` that hold a run of at least `length` pixels of `colour`.
inline int rowsWithRun(const QImage& image, const QRect& area, const QColor& colour, int length)
{
    int rows = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        int run = 0;
        int longest = 0;
        for (int x = inside.left(); x <= inside.right(); ++x) {
            run = image.pixelColor(x, y) == colour ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        rows += longest >= length;
    }
    return rows;
}

// The process that owns a bus name now, 0 for none.
inline uint ownerPid(const QString& name)
{
    const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(name);
    return pid.isValid() ? pid.value() : 0;
}

const QString kPortalBackend = QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");

// A screen-sharing grant for the virtual monitor in the permission store, as
// xdg-desktop-portal 1.16 and its GNOME back-end 43 keep one once the user
// chose "Share" (and "Allow restore"): `token` restores it with no dialog.
inline bool seedGrant(const QString& token)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000;
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"),
        { "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore", "--object-path",
            "/org/freedesktop/impl/portal/PermissionStore", "--method",
            "org.freedesktop.impl.portal.PermissionStore.Set", "screencast", "true", token, "{'': ['yes']}",
            QStringLiteral("<('GNOME', uint32 1, <(int64 %1, int64 %1, [(uint32 0, uint32 1, "
                           "<'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>")
                .arg(now) });
    return gdbus.waitForFinished(10000) && gdbus.exitCode() == 0;
}

// A maximised window of one colour, of the test window's class.
inline void startColourWindow(QProcess& window, const QString& colour = kWindowColour.name().mid(1))
{
    window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    window.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(HUELENS_SOURCE_DIR "/tests/support/colour-window.py"), kWindowClass, kWindowTitle, colour,
            QStringLiteral("300") });
}

const QString kProgramTitle = QStringLiteral("Korvant Huelens 1.0: ");

// The program, given keys through Mutter's remote desktop.
struct Program : SessionProgram {
    using SessionProgram::SessionProgram;

    // True once its window has the focus.
    bool start(const QString& executable = QStringLiteral(HUELENS_BINARY))
    {
        launch(executable);
        return QTest::qWaitFor([] { return focused(kProgramTitle); }, 20000);
    }
    bool press(const QString& name)
    {
        return pressUntilTaken([&] {
            if (!focus(kProgramTitle))
                return false;
            key(name);
            return true;
        });
    }
    bool pressStart() { return press(QStringLiteral("space")); }
};

} // namespace gnome_e2e
