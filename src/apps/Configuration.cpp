#include "shell/MainWindow.h"

#include "apps/AppsFormat.h"
#include "capture/QClickLabel.h"
#include "shell/Log.h"
#include "shell/PlainText.h"

#include <QLabel>

namespace {

// A region chosen while no application was recognised is stored under this name.
const QString kUnknownApp = QStringLiteral("Unknown");

} // namespace

void MainWindow::parseApps(const QString& text)
{
    appProfiles = parseAppProfiles(text);
}

// Capture records are read under the name the region selection writes them
// under. Built-in applications are looked up by display name first and by
// their id only when the file holds nothing under the display name (older
// files kept them there), so a region chosen for "DaVinci Resolve" comes back
// at the next start. A region chosen while the application was "Unknown" is
// loaded as well: the cycle captures it whenever nothing is recognised.
void MainWindow::loadRegions()
{
    builtinApps = builtinApplications();
    for (auto it = builtinApps.cbegin(); it != builtinApps.cend(); ++it)
        setCaptureTarget(it.value(), storedCaptureRecord(it.value(), it.key()));

    if (settings->contains(kUnknownApp))
        setCaptureTarget(kUnknownApp, storedCaptureRecord(kUnknownApp));

    for (const AppProfile& profile : qAsConst(appProfiles))
        setCaptureTarget(profile.name, storedCaptureRecord(profile.name));
}

QString MainWindow::storedCaptureRecord(const QString& key, const QString& fallbackKey) const
{
    if (isReservedSettingsKey(key))
        return defaultCaptureRecord();
    const QString stored = !fallbackKey.isEmpty() && !settings->contains(key) ? fallbackKey : key;
    return settings->value(stored, defaultCaptureRecord()).toString();
}

// A record that does not parse leaves the default target: the whole adapter 0.
void MainWindow::setCaptureTarget(const QString& name, const QString& record)
{
    int adapter = 0;
    CaptureRect rect { -1, -1, -1, -1 };
    parseCaptureRecord(record, adapter, rect);
    appRegions[name] = rect;
    appAdapters[name] = adapter;
}

void MainWindow::storeCaptureTarget(int monitorIndex, const platform::Rect& rect)
{
    const CaptureRect region { rect.left, rect.top, rect.right, rect.bottom };
    appRegions[currentApp] = region;
    appAdapters[currentApp] = monitorIndex;
    // Writing under one of the program's own keys would destroy that setting;
    // such a name keeps its region for this run only.
    if (isReservedSettingsKey(currentApp))
        return;
    settings->setValue(currentApp, formatCaptureRecord(monitorIndex, region));
    settings->sync();
}

void MainWindow::watchSettingsFile()
{
    connect(settings, &SettingsFile::saveFailed, this, &MainWindow::settingsNotSaved);
    connect(settings, &SettingsFile::saveRecovered, this, &MainWindow::settingsSaved);
}

// The settings live on in memory and every later write tries again, so one
// quiet line over the plot is enough: no dialog in front of the user's work.
void MainWindow::settingsNotSaved(const QString& reason)
{
    if (debugMode)
        writeLog(QStringLiteral("settings not saved: ") + reason);
    if (!plotLabel)
        return;
    if (!settingsNotice) {
        settingsNotice = plainLabel(QStringLiteral("Settings not saved"), plotLabel);
        settingsNotice->setObjectName(QStringLiteral("settingsNotice"));
        settingsNotice->setStyleSheet(QStringLiteral("QLabel{color:white;background:rgba(120,0,0,160);padding:1px 4px;}"));
        placeSettingsNotice();
        settingsNotice->adjustSize();
    }
    settingsNotice->setToolTip(plainToolTip(QStringLiteral("Kept until Huelens ends: ") + reason));
    settingsNotice->show();
}

void MainWindow::settingsSaved()
{
    if (settingsNotice)
        settingsNotice->hide();
}
