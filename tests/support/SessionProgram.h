#pragma once
// The real program in the end-to-end tests of a Wayland session (sway, GNOME,
// KDE Plasma): started with -debug, its config.ini and log.txt in a folder of
// its own, on the Qt platform it picks for the session itself. What is
// particular to a desktop (how its window is found and given a key) is the
// caller's.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <functional>

struct SessionProgram {
    explicit SessionProgram(const QString& name, const QByteArray& config = {})
        : folder(testSandbox().workingDir() + "/" + name)
    {
        QDir().mkpath(folder + "/work");
        QDir().mkpath(folder + "/data/huelens");
        if (!config.isEmpty()) {
            QFile file(configPath());
            if (file.open(QIODevice::WriteOnly))
                file.write(config);
        }
    }
    ~SessionProgram() { stop(); }
    SessionProgram(const SessionProgram&) = delete;
    SessionProgram& operator=(const SessionProgram&) = delete;

    QString configPath() const { return folder + "/data/huelens/config.ini"; }
    QByteArray log() const { return testSandbox().readFile(folder + "/work/log.txt"); }

    // Started as the desktop's menu starts it.
    void launch(const QString& executable)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", folder + "/data");
        env.remove("QT_QPA_PLATFORM"); // the program's own choice for a Wayland session
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder + "/work");
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(executable, { "-debug" });
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill(), process.waitForFinished(5000);
    }

    // Sends a key with `send` (false: it could not be sent this time) again
    // until the program shows it took it by a new line holding one of
    // `signs` (by default a cycle or a capture message): a window's first key
    // can arrive before it has its keymap.
    bool pressUntilTaken(const std::function<bool()>& send, int attemptMs = 2000,
        const QList<QByteArray>& signs = { "UPD screen\n", "capture: " })
    {
        const auto reactions = [&] {
            const QByteArray text = log();
            int count = 0;
            for (const QByteArray& sign : signs)
                count += text.count(sign);
            return count;
        };
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int before = reactions();
            if (!send())
                continue;
            if (QTest::qWaitFor([&] { return reactions() > before; }, attemptMs))
                return true;
        }
        return false;
    }

    int cycles() const { return log().count("scr end\n"); }
    bool waitForCycles(int count, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return cycles() >= count; }, timeoutMs);
    }
    // The capture running after `cycles` cycles: five more, or at least one
    // more and then the rest the cycle takes on a still screen.
    bool waitForCapture(int cycles = 0, int timeoutMs = 20000) const
    {
        return QTest::qWaitFor(
            [&] {
                const QByteArray text = log();
                int next = -1; // where cycle `cycles` + 1 ended
                for (int i = 0; i <= cycles; ++i)
                    if ((next = text.indexOf("scr end\n", next + 1)) < 0)
                        return false;
                const int rest = text.lastIndexOf("UPD rest\n");
                return text.count("scr end\n") >= cycles + 5 || (rest > next && rest > text.lastIndexOf("UPD wake\n"));
            },
            timeoutMs);
    }
    bool waitForMessage(const QByteArray& text, int timeoutMs = 20000) const
    {
        return QTest::qWaitFor([&] { return log().contains("capture: " + text); }, timeoutMs);
    }
    QByteArray lastMessage() const
    {
        const QByteArray text = log();
        const int at = text.lastIndexOf("capture: ");
        return at < 0 ? QByteArray() : text.mid(at + 9, text.indexOf('\n', at) - at - 9);
    }
    // A key of config.ini as the file holds it, or "<absent>".
    QString stored(const QByteArray& key) const
    {
        for (const QByteArray& line : testSandbox().readFile(configPath()).split('\n'))
            if (line.startsWith(key + '='))
                return QString::fromUtf8(line.mid(key.size() + 1));
        return QStringLiteral("<absent>");
    }

    const QString folder;
    QProcess process;
};
