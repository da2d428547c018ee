#include "shell/MainWindow.h"

#include <QAction>
#include <QKeySequence>

#include <initializer_list>

namespace {

struct Shortcut {
    const char* objectName;
    const char* text;
    const char* keys; // QKeySequence::PortableText
    void (MainWindow::*slot)();
};

} // namespace

// The actions live on the window itself, not on the toolbar, so the toolbar
// keeps its buttons, and the keys work whatever the toolbar shows (its Help
// button is hidden on narrow windows, and a hidden action takes no keys).
// Each key runs the same slot as the toolbar button or the scope gesture.
void MainWindow::addShortcuts()
{
    const std::initializer_list<Shortcut> shortcuts {
        { "startStopShortcut", "Start or stop capturing", "Space", &MainWindow::startOrStop },
        { "selectRegionShortcut", "Select region", "R", &MainWindow::selectRegion },
        { "alwaysOnTopShortcut", "Always on top", "T", &MainWindow::alwaysOnTopTrigger },
        { "displayShortcut", "Next display: Vectorscope, Waveform, Parade", "D", &MainWindow::displayTrigger },
        { "previewShortcut", "Show or hide the preview", "P", &MainWindow::showPreviewTrigger },
        { "findColorsShortcut", "Find the dominant colours", "F", &MainWindow::findAndShowColors },
        { "sampleColorShortcut", "Sample a colour from the screen", "S", &MainWindow::startSampleColor },
        { "settingsShortcut", "Settings", "Ctrl+,", &MainWindow::settingsTrigger },
        { "helpShortcut", "Help", "F1", &MainWindow::helpTrigger },
        { "exitShortcut", "Exit", "Ctrl+Q", &MainWindow::exitApp },
        { "zoomShortcut", "Vectorscope scale: 1x, 2x, 4x", "Z", &MainWindow::zoomTrigger },
        { "referenceShortcut", "Hold the scope as a reference, or release it", "H", &MainWindow::referenceTrigger },
        { "exposureShortcut", "Exposure in the preview: off, clipping, false colour", "E", &MainWindow::exposureTrigger },
    };
    for (const Shortcut& shortcut : shortcuts) {
        auto* action = new QAction(QString::fromLatin1(shortcut.text), this);
        action->setObjectName(QString::fromLatin1(shortcut.objectName));
        action->setShortcut(QKeySequence(QString::fromLatin1(shortcut.keys), QKeySequence::PortableText));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, shortcut.slot);
    }
}

// The colour search leaves its hue lines for the next refresh; from the
// keyboard the user expects to see them at once, also while capture is off.
void MainWindow::findAndShowColors()
{
    findColors();
    updateScreen();
}
