#include "shell/MainWindow.h"

#include "apps/RecognitionRules.h"
#include "shell/PlainText.h"

#include <QLabel>
#include <QTimer>

void MainWindow::recognizeApplication(bool allowUnknown)
{
    const platform::WindowHandle window = desktop.foreground();
    if (!isOwnWindow(window)) {
        readForegroundWindow(window);
        if (foregroundTitle.find(kRegionWindowTitle) == std::string::npos) {
            if (const char* builtin = builtinApplicationName(foregroundClass, foregroundTitle))
                currentApp = QString::fromLatin1(builtin);
            else if (const AppProfile* profile
                = matchingProfile(appProfiles, foregroundClass, foregroundTitle, foregroundExecutable))
                currentApp = profile->name;
            else if (allowUnknown)
                currentApp = QStringLiteral("Unknown");
        }
    }
    showCurrentApp();
}

// Only the title, the label and the refit timer depend on the name, and only
// a change of name touches them, so a steady foreground costs no widget work.
void MainWindow::showCurrentApp()
{
    if (currentApp == previousApp)
        return;
    previousApp = currentApp;
    setWindowTitle(plainWindowTitle(QStringLiteral("Korvant Huelens 1.0: ") + currentApp));
    appLabel->setText(currentApp);
    placeInfo(); // the name may leave it more room or less
    resizeTimer->setSingleShot(true);
    resizeTimer->start(100);
}

// internalWinId() stays 0 until the native window exists; winId() would
// create it, which the constructor's own recognition must not do. Handle 0
// is "no window", never ours.
bool MainWindow::isOwnWindow(platform::WindowHandle window) const
{
    const WId own = internalWinId();
    return own != 0 && window == static_cast<platform::WindowHandle>(own);
}

// Without a foreground window there is nothing to read, and recognition goes
// on with what the buffers hold.
void MainWindow::readForegroundWindow(platform::WindowHandle window)
{
    if (window == 0)
        return;
    const platform::WindowTexts texts = desktop.texts(window);
    copyNarrowText(texts.title, kMaxTitleBytes, foregroundTitle);
    copyNarrowText(texts.windowClass, kMaxClassBytes, foregroundClass);
    readExecutablePath(window);
}

// An unreadable path (a process of another user, a window that closed) comes
// back empty and replaces the previous window's path, so a rule matching on
// the executable cannot take this window for the previous one.
void MainWindow::readExecutablePath(platform::WindowHandle window)
{
    copyNarrowText(desktop.executable(window), kMaxExecutableBytes, foregroundExecutable);
}
