#pragma once
// Helpers for the end-to-end tests on the private X server of with-xvfb.sh.

#include "support/TestSupport.h"

#include <QColor>
#include <QtTest>

#include <opencv2/core.hpp>

namespace e2e {

inline void stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Runs a command to its end (the event loop does not run meanwhile); its output, trimmed.
inline QString run(
    const QStringList& command, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(10000))
        stop(process);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList& arguments)
{
    return run(QStringList { "xdotool" } + arguments);
}

// "#rrggbb" when every pixel of a captured frame (B, G, R, A) has that colour.
inline QString uniformColour(const cv::Mat& frame)
{
    if (frame.empty())
        return QStringLiteral("no frame");
    const cv::Vec4b p = frame.at<cv::Vec4b>(0, 0);
    if (cv::norm(frame, cv::Mat(frame.size(), frame.type(), cv::Scalar(p[0], p[1], p[2], p[3])), cv::NORM_INF) > 0)
        return QStringLiteral("not uniform");
    return QColor(p[2], p[1], p[0]).name();
}

// The first visible window a search (e.g. "--name", "^Title$") finds, or 0.
inline unsigned long waitForWindow(const QStringList& search, int timeout = 10000)
{
    const QStringList command = QStringList { "search", "--onlyvisible" } + search;
    unsigned long id = 0;
    const auto found = [&] { return (id = xdotool(command).section('\n', 0, 0).toULong()) != 0; };
    return QTest::qWaitFor(found, timeout) ? id : 0;
}

// A top-level value of config.ini as the file on disk holds it.

inline QString valueOnDisk(const QString& key)
{
    for (const QByteArray& line : testSandbox().readFile(testSandbox().configFile()).split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.toUtf8().size() + 1));
    return QStringLiteral("<absent>");
}

// An xterm of one solid colour, 484 x 316 pixels, held open after its
// command ends; the program reads its class as "instance.windowClass".
struct ForeignWindow {
    ForeignWindow(const QString& instance, const QString& windowClass, const QString& title, const QColor& colour,
        const QPoint& topLeft)
        : title(title)
        , colour(colour)
    {
        const QString c = colour.name();
        process.start("xterm",
            { "-name", instance, "-class", windowClass, "-title", title, "-bg", c, "-fg", c, "-cr", c, "-bw", "0",
                "+sb", "-geometry", QStringLiteral("80x24+%1+%2").arg(topLeft.x()).arg(topLeft.y()), "-hold", "-e",
                "true" });
    }
    ~ForeignWindow() { stop(process); }
    unsigned long waitUntilMapped() { return id = waitForWindow({ "--name", "^" + title + "$" }); }

    const QString title;
    const QColor colour;
    unsigned long id = 0;
    QProcess process;
};

// The real program with -debug: `config` (unless empty) in
// <folder>/data/huelens/config.ini, log.txt in <folder>/work, run under
// `wrapper` (valgrind) with `extra` added to its environment.
struct Program {
    Program(const QString& folder, const QByteArray& config, const QStringList& wrapper = {},
        const QProcessEnvironment& extra = {})
        : log(folder + "/work/log.txt")
    {
        QDir().mkpath(folder + "/work");
        QDir().mkpath(folder + "/data/huelens");
        QFile file(folder + "/data/huelens/config.ini");
        if (!config.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(config);
        env.insert("XDG_DATA_HOME", folder + "/data");
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert(extra);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder + "/work");
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        const QStringList command = wrapper + QStringList { HUELENS_BINARY, "-debug" };
        process.start(command.first(), command.mid(1));
    }
    ~Program() { stop(process); }

    QString xdotool(const QStringList& arguments) const { return run(QStringList { "xdotool" } + arguments, env); }
    // Waits (a minute: valgrind starts slowly) until the program's window is on screen.
    bool waitForWindow()
    {
        const QStringList search { "search", "--onlyvisible", "--name", "^Korvant Huelens 1\\.0: " };
        const auto shown = [&] {
            id = xdotool(search).section('\n', 0, 0);
            return !id.isEmpty() || process.state() == QProcess::NotRunning;
        };
        return QTest::qWaitFor(shown, 60000) && !id.isEmpty();
    }
    QString title() const { return xdotool({ "getwindowname", id }); }
    // The start button is at (12, 12).
    void click(int x, int y) const
    {
        xdotool({ "mousemove", "--window", id, QString::number(x), QString::number(y), "click", "1" });
    }
    int cyclesLogged() const { return testSandbox().readFile(log).count("UPD screen\n"); }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString log;
    QString id;
    QProcess process;
};

} // namespace e2e
