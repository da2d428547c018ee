#include "shell/MainWindow.h"

#include "apps/RecognitionRules.h"
#include "shell/PlainText.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>

namespace {

QLabel* wrappedText(const QString& text)
{
    auto* label = plainLabel(text);
    label->setWordWrap(true);
    return label;
}

// A window's class, title and executable come from other programs (and on
// GNOME from the session bus).
QLabel* valueLabel(const QString& objectName)
{
    auto* label = plainLabel();
    label->setObjectName(objectName);
    label->setStyleSheet(QStringLiteral("background:#FFF"));
    label->setContentsMargins(4, 4, 4, 4);
    return label;
}

} // namespace

void MainWindow::settingsTrigger()
{
    settingsWindow = new QMainWindow(this);
    settingsWindow->setObjectName(QStringLiteral("settingsWindow"));
    settingsWindow->setWindowModality(Qt::ApplicationModal);
    settingsWindow->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    settingsWindow->setWindowFlags(settingsWindow->windowFlags() & ~Qt::WindowContextHelpButtonHint);
    settingsWindow->setStyleSheet(QStringLiteral("QMainWindow{border:0;}"));
    settingsWindow->setWindowTitle(QString::fromLatin1(kSettingsWindowTitle));
    settingsWindow->setFixedWidth(600);

    auto* central = new QWidget(settingsWindow);
    central->setMinimumSize(10, 10);
    auto* grid = new QGridLayout(central);
    settingsWindow->setCentralWidget(central);

    // The labels stay empty until the first tick.
    appInfoTimer = new QTimer(settingsWindow);
    connect(appInfoTimer, &QTimer::timeout, this, &MainWindow::updateApplicationData);
    appInfoTimer->start(500);

    windowSizeSpin = new QSpinBox();
    windowSizeSpin->setObjectName(QStringLiteral("windowSizeSpin"));
    windowSizeSpin->setMinimum(150);
    windowSizeSpin->setMaximum(600);
    windowSizeSpin->setValue(windowSize);

    classLabel = valueLabel(QStringLiteral("classLabel"));
    titleLabel = valueLabel(QStringLiteral("titleLabel"));
    executableLabel = valueLabel(QStringLiteral("executableLabel"));

    // The text as last saved, lines that give no rule included, as it is:
    // taken for rich text, rules that looked like markup were shown
    // formatted and written back joined into one line.
    appsEdit = new QTextEdit();
    appsEdit->setObjectName(QStringLiteral("appsEdit"));
    appsEdit->setFixedHeight(100);
    appsEdit->setAcceptRichText(false);
    appsEdit->setPlainText(settings->value(QStringLiteral("apps"), QString()).toString());

    grid->addWidget(plainLabel(QStringLiteral("Window size:")), 0, 0, 1, 1);
    grid->addWidget(windowSizeSpin, 0, 1, 1, 3);
    grid->addWidget(wrappedText(QStringLiteral(
                        "The Huelens can automatically recognize many applications. However, if you want to add other "
                        "applications that you want to be recognized automatically, you can configure it here.")),
        1, 0, 1, 4);
    grid->addWidget(wrappedText(QStringLiteral(
                        "Select window of the application you want to be recognized and see the lines below.")),
        2, 0, 1, 4);
    grid->addWidget(plainLabel(QStringLiteral("Window Class:")), 4, 0, 1, 1);
    grid->addWidget(classLabel, 4, 1, 1, 3);
    grid->addWidget(plainLabel(QStringLiteral("Window Title:")), 5, 0, 1, 1);
    grid->addWidget(titleLabel, 5, 1, 1, 3);
    grid->addWidget(plainLabel(QStringLiteral("Executable name:")), 6, 0, 1, 1);
    grid->addWidget(executableLabel, 6, 1, 1, 3);
    grid->addWidget(
        wrappedText(QStringLiteral("For more information see the help by pressing the help button.")), 7, 0, 1, 4);
    grid->addWidget(plainLabel(QStringLiteral("Apps Configuration:")), 8, 0, 1, 1, Qt::AlignTop);
    grid->addWidget(appsEdit, 8, 1, 1, 3, Qt::AlignTop);
    const int buttonRow = addReferenceSettings(grid, addReadingsSettings(grid, 9));

    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto* okButton = new QPushButton(QStringLiteral("OK"));
    okButton->setObjectName(QStringLiteral("okButton"));
    grid->addWidget(cancelButton, buttonRow, 2, 1, 1, Qt::AlignBottom);
    grid->addWidget(okButton, buttonRow, 3, 1, 1, Qt::AlignBottom);
    // On press, not on release: dragging off the button does not cancel.
    connect(cancelButton, &QPushButton::pressed, this, &MainWindow::cancelSettings);
    connect(okButton, &QPushButton::pressed, this, &MainWindow::useSettings);

    settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    settingsWindow->show();
}

// Shows the user what a rule has to match. The main window and the dialog
// itself are skipped: clicking into either would otherwise replace the data
// of the application the user wants to describe.
void MainWindow::updateApplicationData()
{
    // Some desktops (GNOME on Wayland) tell no program which window is in
    // front; empty lines would look like a fault of the program, so the class
    // line says why there is nothing to show.
    const std::string problem = desktop.windowsProblem();
    if (!problem.empty()) {
        if (classLabel) {
            classLabel->setWordWrap(true);
            classLabel->setText(QString::fromStdString(problem));
        }
        if (titleLabel)
            titleLabel->clear();
        if (executableLabel)
            executableLabel->clear();
        return;
    }

    const platform::WindowHandle window = desktop.foreground();
    if (isOwnWindow(window))
        return;
    readForegroundWindow(window);
    if (foregroundTitle == kSettingsWindowTitle)
        return;

    if (classLabel)
        classLabel->setText(QString::fromUtf8(foregroundClass.data(), static_cast<int>(foregroundClass.size())));
    if (titleLabel)
        titleLabel->setText(QString::fromUtf8(foregroundTitle.data(), static_cast<int>(foregroundTitle.size())));
    if (executableLabel)
        executableLabel->setText(executableFileName(foregroundExecutable));
}

void MainWindow::useSettings()
{
    if (!appsEdit || !windowSizeSpin)
        return;
    windowSizeSpin->interpretText();
    const QString appsText = appsEdit->toPlainText();
    const int size = windowSizeSpin->value();

    settings->setValue(QStringLiteral("window_size"), size);
    settings->setValue(QStringLiteral("apps"), appsText);
    settings->sync();
    useReadingsSettings();

    settingsWindow->close();

    windowSize = size;
    scopeRadius = (size / 2) * 0.75;
    setMinimumSize(size, size);
    setFixedWidth(windowSize);
    placeInfo();

    layoutSliders();
    fitToolBar();
    generateBackground(size, size, scopeRadius);
    updateScreen();

    // adjustWindowSize shows the spacer again once the window has its new size.
    toolBarSpacer->hide();
    resizeTimer->start(100);

    // The refresh above still ran with the old rules; the new ones count from
    // the next recognition. Capture targets are loaded at start only.
    parseApps(appsText);
}

void MainWindow::cancelSettings()
{
    if (settingsWindow)
        settingsWindow->close();
}
