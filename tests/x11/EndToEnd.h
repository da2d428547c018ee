#pragma once
// Helpers for the end-to-end tests on the private X server of with-xvfb.sh:
// windows of real foreign programs (xterm) with a class, a title and a solid
// colour the test chooses, focus and real input through xdotool, a window
// manager when a test wants one, and the colour of a captured picture.
//
// Every helper waits by polling with a deadline, never by a fixed sleep, and
// every program a helper starts is stopped by its destructor.

#include <QAction>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QToolBar>
#include <QWidget>
#include <QtTest>

#include <opencv2/core.hpp>

#include <functional>
#include <signal.h>
#include <sys/types.h>

namespace e2e {

// Runs a command to its end and gives its standard output, trimmed. The
// caller's event loop does not run meanwhile: use it only for commands that
// need nothing from this process (xdotool, xprop, xrandr).
inline QString run(const QStringList& command, int timeoutMs = 10000)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList& arguments)
{
    return run(QStringList { QStringLiteral("xdotool") } + arguments);
}

// Keeps the event loop running until `done` holds or the time is up.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

inline QString colourName(const QColor& colour)
{
    return colour.name(QColor::HexRgb);
}

// "#rrggbb" when every pixel of a captured frame (B, G, R, A) has that
// colour; otherwise a description of the first pixel that differs.
inline QString uniformColour(const cv::Mat& frame)
{
    if (frame.empty() || frame.type() != CV_8UC4)
        return QStringLiteral("no frame");
    const cv::Vec4b first = frame.at<cv::Vec4b>(0, 0);
    for (int y = 0; y < frame.rows; ++y) {
        for (int x = 0; x < frame.cols; ++x) {
            if (frame.at<cv::Vec4b>(y, x) != first)
                return QStringLiteral("not uniform: (0, 0) is %1, (%2, %3) is %4")
                    .arg(colourName(QColor(first[2], first[1], first[0])))
                    .arg(x)
                    .arg(y)
                    .arg(colourName(QColor(
                        frame.at<cv::Vec4b>(y, x)[2], frame.at<cv::Vec4b>(y, x)[1], frame.at<cv::Vec4b>(y, x)[0])));
        }
    }
    return colourName(QColor(first[2], first[1], first[0]));
}

// Clicks, presses and drags with the real pointer, in desktop pixels.
inline void click(const QPoint& at, int button = 1)
{
    xdotool({ QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
        QString::number(button) });
}

inline void drag(const QPoint& from, const QPoint& to)
{
    xdotool({ QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
        QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"), QString::number(to.x()),
        QString::number(to.y()), QStringLiteral("mouseup"), QStringLiteral("1") });
}

inline void movePointer(const QPoint& to)
{
    xdotool({ QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y()) });
}

// Types text into the window that has the keyboard focus.
inline void type(const QString& text)
{
    xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text });
}

inline void key(const QString& keys)
{
    xdotool({ QStringLiteral("key"), keys });
}

// The text another program reads from the CLIPBOARD selection. This
// process's event loop keeps running meanwhile: the owner of the selection
// answers the request.
inline QString clipboardSeenByAnotherProgram()
{
    QProcess xclip;
    xclip.start(
        QStringLiteral("xclip"), { QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard") });
    if (!waitFor([&] { return xclip.state() == QProcess::NotRunning; })) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return QStringLiteral("<xclip did not finish>");
    }
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

inline QPoint centreOnDesktop(const QWidget* widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

// The button of the program's toolbar action with this text, or nullptr.
inline QWidget* toolBarButton(QWidget& window, const QString& text)
{
    auto* toolBar = window.findChild<QToolBar*>(QStringLiteral("toolBar"));
    if (!toolBar)
        return nullptr;
    for (QAction* action : toolBar->actions())
        if (action->text() == text)
            return toolBar->widgetForAction(action);
    return nullptr;
}

// Clicks a toolbar button with the real pointer. A click that comes with the
// pointer's entry into the window gives the window the focus before its
// refresh on entering runs; a test that needs that refresh hovers first.
inline bool clickToolBarButton(QWidget& window, const QString& text)
{
    QWidget* button = toolBarButton(window, text);
    if (!button)
        return false;
    click(centreOnDesktop(button));
    return true;
}

// Brings the real pointer over a toolbar button from `outside` the window,
// so the window sees it enter, as it does when a person reaches for a button.
inline bool hoverToolBarButton(QWidget& window, const QString& text, const QPoint& outside)
{
    QWidget* button = toolBarButton(window, text);
    if (!button)
        return false;
    movePointer(outside);
    movePointer(centreOnDesktop(button));
    return true;
}

// A top-level value of an INI file as the file on disk holds it (not as a
// QSettings object in this process may cache it).
inline QString valueOnDisk(const QString& iniFile, const QString& key)
{
    QFile file(iniFile);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no file>");
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString entry = QString::fromUtf8(line).trimmed();
        if (entry.startsWith(key + QLatin1Char('=')))
            return entry.mid(key.size() + 1);
    }
    return QStringLiteral("<absent>");
}

// An xterm whose window is one solid colour: background, text and cursor
// share it, so any rectangle inside the window captures as that colour.
// WM_CLASS becomes "instance", "windowClass", so the program reads the class
// text "instance.windowClass". Titles are plain words: the window is looked
// up with the title as a regular expression.
class ForeignWindow {
public:
    ForeignWindow(const QString& instance, const QString& windowClass, const QString& title, const QColor& colour,
        const QPoint& topLeft)
        : title_(title)
        , colour_(colour)
    {
        const QString c = colourName(colour);
        process_.start(QStringLiteral("xterm"),
            { QStringLiteral("-name"), instance, QStringLiteral("-class"), windowClass, QStringLiteral("-title"), title,
                QStringLiteral("-bg"), c, QStringLiteral("-fg"), c, QStringLiteral("-cr"), c, QStringLiteral("-bw"),
                QStringLiteral("0"), QStringLiteral("+sb"), QStringLiteral("-geometry"),
                QStringLiteral("80x24+%1+%2").arg(topLeft.x()).arg(topLeft.y()), QStringLiteral("-e"),
                QStringLiteral("sleep"), QStringLiteral("600") });
    }
    ~ForeignWindow() { close(); }
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    // Waits until the window is on screen; its id, or 0.
    unsigned long waitUntilMapped()
    {
        if (id_ != 0)
            return id_;
        waitFor([this] {
            const QString found = xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--name"), QStringLiteral("^") + title_ + QStringLiteral("$") });
            id_ = found.section(QLatin1Char('\n'), 0, 0).toULong();
            return id_ != 0;
        });
        return id_;
    }

    // Gives the window the input focus (no window manager needed).
    void focus() const { xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(id_) }); }

    // Asks the window manager to activate the window and waits until the
    // manager names it in _NET_ACTIVE_WINDOW.
    bool activate() const
    {
        xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id_) });
        return waitFor([this] { return xdotool({ QStringLiteral("getactivewindow") }).toULong() == id_; });
    }

    // Ends the program in the terminal first: xterm then leaves by itself
    // and collects it, so no finished child is left to a parent that is gone.
    void close()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        const QStringList children
            = run({ QStringLiteral("pgrep"), QStringLiteral("-P"), QString::number(process_.processId()) })
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& child : children) {
            const long pid = child.toLong();
            if (pid > 1) // never 0 or -1: those would reach a whole group of processes
                ::kill(static_cast<pid_t>(pid), SIGTERM);
        }
        if (process_.waitForFinished(3000))
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

    unsigned long id() const { return id_; }
    qint64 pid() const { return process_.processId(); }
    QColor colour() const { return colour_; }
    QString title() const { return title_; }

private:
    QProcess process_;
    QString title_;
    QColor colour_;
    unsigned long id_ = 0;
};

// openbox on the test's X server, for the cases that need a window manager
// to keep _NET_ACTIVE_WINDOW.
class WindowManager {
public:
    bool start()
    {
        process_.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        if (!process_.waitForStarted(5000))
            return false;
        return waitFor([] {
            return run({ QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") })
                .contains(QLatin1String("window id"));
        });
    }
    ~WindowManager()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

private:
    QProcess process_;
};

} // namespace e2e
