#include "colour/ReadingsProfile.h"

#include "platform/SystemPath.h"

#include <QFile>

namespace scopes {

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
    fileIdentity = {};
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
        fileIdentity = {};
        transform.load(desktop.monitorProfile(monitor));
        return;
    }
    const platform::FileContents contents
        = platform::readRegularFile(platform::systemPath(profileFile), platform::kLargestProfile, fileIdentity);
    if (contents.outcome == platform::FileOutcome::Unchanged)
        return;
    fileIdentity = contents.identity;
    fileOutcome = contents.outcome;
    fileError = QString::fromStdString(contents.error);
    if (contents.outcome == platform::FileOutcome::Read)
        transform.load(contents.bytes);
    else
        transform.clear();
}

QString ReadingsProfile::status() const
{
    const QString monitor = QStringLiteral("monitor %1").arg(monitorIndex + 1);
    const QString screenValues = QStringLiteral("Readings are the screen values.");
    if (!checkedOnce)
        return undoOn ? QString() : screenValues;
    QString source = fromFile ? QStringLiteral("The profile file %1").arg(profileFile)
                              : QStringLiteral("The profile of %1").arg(monitor);
    if (fromFile && fileOutcome != platform::FileOutcome::Read)
        return fileProblem() + QLatin1Char(' ') + screenValues;
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

QString ReadingsProfile::fileProblem() const
{
    switch (fileOutcome) {
    case platform::FileOutcome::Missing:
        return QStringLiteral("The profile file %1 is not there.").arg(profileFile);
    case platform::FileOutcome::NotRegular:
        return QStringLiteral("The profile file %1 is not a file (a folder, a device or a pipe).").arg(profileFile);
    case platform::FileOutcome::TooLarge:
        return QStringLiteral("The profile file %1 is larger than %2 MiB, too large for a profile.")
            .arg(profileFile)
            .arg(platform::kLargestProfile / (1024 * 1024));
    default:
        return QStringLiteral("The profile file %1 cannot be read: %2.").arg(profileFile, fileError);
    }
}

} // namespace scopes
