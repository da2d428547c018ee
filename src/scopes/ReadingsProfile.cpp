#include "scopes/ReadingsProfile.h"

#include <QFile>
#include <QFileInfo>

namespace scopes {

namespace {

// Profiles with large tables reach a few megabytes; anything far beyond is no profile.
constexpr qint64 kLargestProfile = 64 * 1024 * 1024;

} // namespace

ReadingsProfile::ReadingsProfile(platform::Desktop& desktop)
    : desktop(desktop)
{
}

void ReadingsProfile::configure(bool undo, const QString& file)
{
    if (undo == undoOn && file == profileFile)
        return;
    undoOn = undo;
    profileFile = file;
    checkedOnce = false;
    fileSize = -1;
    pendingChange = true;
}

bool ReadingsProfile::refresh(int monitor, Clock::time_point now, bool evenWhenOff)
{
    if ((undoOn || evenWhenOff) && (!checkedOnce || monitor != monitorIndex || now - lastCheck >= kRecheck)) {
        const bool wasActive = active();
        const std::vector<std::uint8_t> before = transform.profileBytes();
        readProfile(monitor);
        monitorIndex = monitor;
        checkedOnce = true;
        lastCheck = now;
        if (wasActive != active() || before != transform.profileBytes())
            pendingChange = true;
    }
    const bool changed = pendingChange;
    pendingChange = false;
    return changed;
}

void ReadingsProfile::readProfile(int monitor)
{
    fromFile = !profileFile.isEmpty();
    if (!fromFile) {
        fileSize = -1;
        transform.load(desktop.monitorProfile(monitor));
        return;
    }

    const QFileInfo info(profileFile);
    fileMissing = !info.exists() || !info.isFile();
    if (fileMissing) {
        transform.clear();
        fileSize = -1;
        return;
    }
    if (info.size() == fileSize && info.lastModified() == fileTime && !transform.profileBytes().empty())
        return;
    fileSize = info.size();
    fileTime = info.lastModified();
    QFile file(profileFile);
    if (info.size() > kLargestProfile || !file.open(QIODevice::ReadOnly)) {
        transform.clear();
        fileMissing = true;
        return;
    }
    const QByteArray data = file.readAll();
    transform.load(std::vector<std::uint8_t>(data.cbegin(), data.cend()));
}

QString ReadingsProfile::status() const
{
    const QString monitor = QStringLiteral("monitor %1").arg(monitorIndex + 1);
    const QString screenValues = QStringLiteral("Readings are the screen values.");
    if (!checkedOnce)
        return undoOn ? QString() : screenValues;
    QString source = fromFile ? QStringLiteral("The profile file %1").arg(profileFile)
                              : QStringLiteral("The profile of %1").arg(monitor);
    if (fromFile && fileMissing)
        return QStringLiteral("The profile file %1 cannot be read. %2").arg(profileFile, screenValues);
    if (transform.empty()) {
        if (!fromFile && transform.problem() == "no profile")
            return QStringLiteral("The desktop publishes no profile for %1. %2").arg(monitor, screenValues);
        return QStringLiteral("%1 cannot be used: %2. %3")
            .arg(source, QString::fromStdString(transform.problem()), screenValues);
    }
    const QString name = transform.description().empty()
        ? QStringLiteral("(unnamed)")
        : QStringLiteral("\"%1\"").arg(QString::fromStdString(transform.description()));
    const QString from = fromFile ? QStringLiteral("from %1").arg(profileFile) : QStringLiteral("published by the desktop");
    if (undoOn)
        return QStringLiteral("Profile in use for %1: %2, %3. Readings are its colours in sRGB.").arg(monitor, name, from);
    return QStringLiteral("Profile of %1: %2, %3. %4").arg(monitor, name, from, screenValues);
}

} // namespace scopes
