#include "shell/MainWindow.h"

#include "shell/PlainText.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kReadingsKey = QStringLiteral("readings");
const QString kProfileFileKey = QStringLiteral("readings_profile_file");
// The stored values of "readings"; anything else reads as the screen values.
const QString kScreenValues = QStringLiteral("screen");
const QString kUndoProfile = QStringLiteral("undo_monitor_profile");

} // namespace

void MainWindow::loadReadingsSettings()
{
    if (!readings)
        readings = std::make_unique<scopes::ReadingsProfile>(desktop);
    const bool undo = settings->value(kReadingsKey, kScreenValues).toString() == kUndoProfile;
    readings->configure(undo, settings->value(kProfileFileKey, QString()).toString());
}

const cv::Mat& MainWindow::scopeFrame() const
{
    return leavingOutOwnWindows() ? ownWindowsLeftOut : capturedReadings();
}

const cv::Mat& MainWindow::capturedReadings() const
{
    return readings && readings->active() && readingFrame.size() == frameImage.size() ? readingFrame : frameImage;
}

bool MainWindow::convertReadings(int monitorIndex, bool newFrame)
{
    readingsMonitor = monitorIndex;
    const bool changed = readings->refresh(monitorIndex, scopes::ReadingsProfile::Clock::now()) || readingsStale;
    readingsStale = false;
    if (readings->active() && (changed || newFrame || readingFrame.size() != frameImage.size()))
        readings->conversion().apply(frameImage, readingFrame);
    if (changed) {
        // A plot kept from before shows the old readings, whichever scope is up.
        vectorscopeCurrent = false;
        colorImageStale = true;
    }
    return changed;
}

unsigned int MainWindow::readingOfPixel(unsigned int argb, int monitor)
{
    // The profile of the sampled monitor; the cycle goes back to its own
    // monitor's profile, and redoes its scopes, at its next refresh.
    if (readings->refresh(monitor, scopes::ReadingsProfile::Clock::now()))
        readingsStale = true;
    if (!readings->active())
        return argb;
    const auto bgr = readings->conversion().convert(argb & 0xFF, (argb >> 8) & 0xFF, (argb >> 16) & 0xFF);
    return (argb & 0xFF000000u) | (unsigned(bgr[2]) << 16) | (unsigned(bgr[1]) << 8) | bgr[0];
}

int MainWindow::addReadingsSettings(QGridLayout* grid, int row)
{
    readingsCombo = new QComboBox();
    readingsCombo->setObjectName(QStringLiteral("readingsCombo"));
    readingsCombo->addItem(QStringLiteral("screen values"));
    readingsCombo->addItem(QStringLiteral("undo the monitor's profile (sRGB)"));
    readingsCombo->setCurrentIndex(readings->undo() ? 1 : 0);

    profileFileEdit = new QLineEdit(readings->file());
    profileFileEdit->setObjectName(QStringLiteral("profileFileEdit"));
    profileFileEdit->setPlaceholderText(QStringLiteral("the profile the desktop publishes"));
    auto* chooseButton = new QPushButton(QStringLiteral("Choose..."));
    chooseButton->setObjectName(QStringLiteral("chooseProfileButton"));
    connect(chooseButton, &QPushButton::clicked, this, &MainWindow::chooseProfileFile);
    auto* fileRow = new QHBoxLayout();
    fileRow->addWidget(profileFileEdit, 1);
    fileRow->addWidget(chooseButton);

    profileStatusLabel = plainLabel();
    profileStatusLabel->setObjectName(QStringLiteral("profileStatusLabel"));
    profileStatusLabel->setWordWrap(true);

    grid->addWidget(plainLabel(QStringLiteral("Readings:")), row, 0, 1, 1);
    grid->addWidget(readingsCombo, row, 1, 1, 3);
    grid->addWidget(plainLabel(QStringLiteral("Monitor profile:")), row + 1, 0, 1, 1);
    grid->addLayout(fileRow, row + 1, 1, 1, 3);
    grid->addWidget(profileStatusLabel, row + 2, 1, 1, 3);

    showReadingsStatus();
    if (appInfoTimer)
        connect(appInfoTimer, &QTimer::timeout, this, &MainWindow::showReadingsStatus);
    return row + 3;
}

void MainWindow::chooseProfileFile()
{
    const QString start = profileFileEdit && !profileFileEdit->text().isEmpty() ? profileFileEdit->text()
                                                                                : QStringLiteral("/usr/share/color/icc");
    const QString file = QFileDialog::getOpenFileName(settingsWindow, QStringLiteral("Monitor profile"), start,
        QStringLiteral("ICC profiles (*.icc *.icm *.ICC *.ICM);;All files (*)"));
    if (!file.isEmpty() && profileFileEdit)
        profileFileEdit->setText(file);
}

// The profile in use for the monitor being captured (read even while the
// readings are the screen values, so the user sees what undoing would use).
void MainWindow::showReadingsStatus()
{
    if (!profileStatusLabel || !readings)
        return;
    if (readings->refresh(readingsMonitor, scopes::ReadingsProfile::Clock::now(), true))
        readingsStale = true;
    profileStatusLabel->setText(readings->status());
}

void MainWindow::useReadingsSettings()
{
    if (!readingsCombo || !profileFileEdit)
        return;
    const bool undo = readingsCombo->currentIndex() == 1;
    const QString file = profileFileEdit->text().trimmed();
    settings->setValue(kReadingsKey, undo ? kUndoProfile : kScreenValues);
    settings->setValue(kProfileFileKey, file);
    settings->sync();
    readings->configure(undo, file);
}
