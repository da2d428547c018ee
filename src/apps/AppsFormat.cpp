#include "apps/AppsFormat.h"

#include "apps/SettingsFile.h"
#include "capture/ScreenService.h"

#include <QStringList>

#include <algorithm>

namespace {

// QString::toInt rejects text that is not a number and values beyond 32 bits
// alike (no undefined overflow), and both read as 0.
int recordField(const QString& field)
{
    bool ok = false;
    const int value = field.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

QList<AppProfile> parseAppProfiles(const QString& text)
{
    QList<AppProfile> profiles;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        if (fields.size() < 2 || fields[0].isEmpty())
            continue;
        AppProfile profile;
        profile.name = fields[0];
        profile.windowClass = fields[1];
        if (fields.size() > 2)
            profile.windowTitle = fields[2];
        if (fields.size() > 3)
            profile.executable = fields[3];
        if (profile.windowClass.isEmpty() && profile.windowTitle.isEmpty() && profile.executable.isEmpty())
            continue;
        profiles.append(profile);
    }
    return profiles;
}

bool parseCaptureRecord(const QString& record, int& adapter, CaptureRect& rect)
{
    const QStringList fields = record.split(QLatin1Char('|'), Qt::KeepEmptyParts);
    if (fields.size() != 5)
        return false;
    adapter = recordField(fields[0]);
    // Held here, once, to what the capture accepts: the cycle measures the
    // pointer from these values, and -2^31 would overflow that arithmetic.
    constexpr int limit = ScreenService::coordinateLimit;
    for (int i = 0; i < 4; ++i)
        rect[static_cast<size_t>(i)] = std::clamp(recordField(fields[i + 1]), -limit, limit);
    return true;
}

QString formatCaptureRecord(int adapter, const CaptureRect& rect)
{
    return QStringLiteral("%1|%2|%3|%4|%5").arg(adapter).arg(rect[0]).arg(rect[1]).arg(rect[2]).arg(rect[3]);
}

QString defaultCaptureRecord()
{
    return QStringLiteral("0|-1|-1|-1|-1");
}

QMap<QString, QString> builtinApplications()
{
    return {
        { QStringLiteral("photoshop"), QStringLiteral("Photoshop") },
        { QStringLiteral("firefox"), QStringLiteral("Firefox") },
        { QStringLiteral("chrome"), QStringLiteral("Chrome") },
        { QStringLiteral("luminar_ai"), QStringLiteral("Luminar AI") },
        { QStringLiteral("luminar_4"), QStringLiteral("Luminar 4") },
        { QStringLiteral("luminar"), QStringLiteral("Luminar") },
        { QStringLiteral("lightroom"), QStringLiteral("Lightroom") },
        { QStringLiteral("illustrator"), QStringLiteral("Illustrator") },
        { QStringLiteral("after_effects"), QStringLiteral("After Effects") },
        { QStringLiteral("corel_paintshop"), QStringLiteral("Corel Paintshop") },
        { QStringLiteral("resolve"), QStringLiteral("DaVinci Resolve") },
        { QStringLiteral("on1"), QStringLiteral("ON1") },
        { QStringLiteral("dxo_pureraw"), QStringLiteral("DxO PureRAW") },
        { QStringLiteral("dxo_photolab"), QStringLiteral("DxO PhotoLab") },
        { QStringLiteral("capture_one"), QStringLiteral("Capture One") },
        { QStringLiteral("gimp"), QStringLiteral("GIMP") },
        { QStringLiteral("darktable"), QStringLiteral("darktable") },
        { QStringLiteral("rawtherapee"), QStringLiteral("RawTherapee") },
        { QStringLiteral("krita"), QStringLiteral("Krita") },
        { QStringLiteral("inkscape"), QStringLiteral("Inkscape") },
        { QStringLiteral("digikam"), QStringLiteral("digiKam") },
        { QStringLiteral("kdenlive"), QStringLiteral("Kdenlive") },
        { QStringLiteral("shotcut"), QStringLiteral("Shotcut") },
        { QStringLiteral("blender"), QStringLiteral("Blender") },
        { QStringLiteral("chromium"), QStringLiteral("Chromium") },
    };
}

bool isReservedSettingsKey(const QString& key)
{
    // The program's own top-level keys; one added here can never be taken by
    // an application's capture record.
    static const char* const ownKeys[] = { "apps", "window_size", "preview_enabled", "screencast_token",
        "vectorscope_zoom", "readings", "readings_profile_file", "exposure_overlay" };
    // Compared as the settings file spells keys, or "apps/" and "/apps" would
    // still reach "apps". A name that spells no key at all ("/") cannot be
    // stored either.
    const QString stored = normalisedSettingsKey(key);
    if (stored.isEmpty())
        return true;
    for (const char* own : ownKeys) {
        if (stored == QLatin1String(own))
            return true;
    }
    return false;
}
