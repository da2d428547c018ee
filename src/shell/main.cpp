#include "platform/choice/DesktopChoice.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    platform::prepareQtPlatform();

    QApplication app(argc, argv);
    // Qt draws nothing on a screen of fewer than 15 bits per pixel (8-bit
    // colour maps): the window would come up blank, without a toolbar or a
    // way to quit it. Say why and stop instead.
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen && screen->depth() < 15) {
        std::fprintf(stderr,
            "huelens: the screen has %d bits per pixel; Huelens needs 15 bits or more (16 or 24 bit colour)\n",
            screen->depth());
        return 1;
    }
    // QApplication has removed its own options from argc and argv by now.
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.backend == CommandLine::Backend::X11)
        platform::chooseBackend(platform::Backend::X11);
    else if (commandLine.backend == CommandLine::Backend::Wayland)
        platform::chooseBackend(platform::Backend::Wayland);
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
