#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // QApplication has removed its own options from argc and argv by now.
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.debug) {
        writeLog(QStringLiteral("APP started"));
        if (commandLine.skipUpdateScreen > 0)
            writeLog(QStringLiteral("-skipus=%1").arg(commandLine.skipUpdateScreen));
    }

    MainWindow window(nullptr, commandLine.debug, commandLine.skipUpdateScreen);
    if (commandLine.debug)
        writeLog(QStringLiteral("WIN created"));
    window.show();
    if (commandLine.debug) {
        writeLog(QStringLiteral("WIN shown"));
        writeLog(QStringLiteral("WIN inited"));
    }
    return app.exec();
}
