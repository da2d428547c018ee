#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler previousHandler = nullptr;

// A signal that was wired to a slot that does not exist is only a warning in
// Qt; in the tests it is a failure.
void failOnConnectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("QObject::connect"))) {
        std::fprintf(stderr, "FAIL: %s\n", qPrintable(message));
        std::abort();
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

const bool handlerInstalled = [] {
    previousHandler = qInstallMessageHandler(failOnConnectWarnings);
    return true;
}();

// Before main(): QApplication and QStandardPaths read the environment once.
const bool sandboxReady = [] {
    testSandbox();
    return true;
}();

} // namespace

// On Windows the application data folder is the user's roaming AppData,
// whatever the environment says: in Qt's test mode it is AppData/qttest/<the
// test's name> instead, emptied here so that every run starts afresh.
TestSandbox::TestSandbox()
{
    QDir(root.path()).mkpath(QStringLiteral("data"));
    QDir(root.path()).mkpath(QStringLiteral("work"));
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
#ifdef Q_OS_WIN
    QStandardPaths::setTestModeEnabled(true);
    QDir(windowsDataFolder()).removeRecursively();
#endif
    QDir::setCurrent(workingDir());
}

QString TestSandbox::dataHome() const
{
    return root.path() + QStringLiteral("/data");
}

QString TestSandbox::workingDir() const
{
    return root.path() + QStringLiteral("/work");
}

// QStandardPaths::AppDataLocation is XDG_DATA_HOME/<application name>; the
// application name is the executable's base name unless a test sets one.
QString TestSandbox::configFile() const
{
#ifdef Q_OS_WIN
    if (QCoreApplication::instance() && !QCoreApplication::applicationName().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/config.ini");
    return windowsDataFolder() + QStringLiteral("/config.ini");
#else
    const QString app = QCoreApplication::applicationName().isEmpty()
        ? QFileInfo(QCoreApplication::applicationFilePath()).baseName()
        : QCoreApplication::applicationName();
    return dataHome() + QLatin1Char('/') + app + QStringLiteral("/config.ini");
#endif
}

#ifdef Q_OS_WIN
// AppData/qttest/<executable's base name>, where Qt's test mode puts the
// application data of a program that sets no name of its own; known before
// the application object exists.
QString TestSandbox::windowsDataFolder() const
{
    wchar_t path[32768] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    const QString exe = QFileInfo(QString::fromWCharArray(path, static_cast<int>(length))).completeBaseName();
    QStandardPaths::setTestModeEnabled(true);
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + exe;
}
#endif

void TestSandbox::writeConfig(const QByteArray& iniText) const
{
    const QString path = configFile();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText);
}

QByteArray TestSandbox::readFile(const QString& path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TestSandbox& testSandbox()
{
    static TestSandbox sandbox;
    return sandbox;
}
