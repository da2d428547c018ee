// A whole config.ini, damaged or hostile: read as the program reads it at
// start, written back as it writes it after every change, and taken apart
// into the rules, capture records and window size the program uses.
// Writing what was read and reading it again must change nothing, or
// repeated saves would drift or swallow keys.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const QSettings::SettingsMap map = readSettingsText(text);
    const QByteArray once = writeSettingsText(map);
    const QSettings::SettingsMap reread = readSettingsText(once);
    if (reread.keys() != map.keys() || writeSettingsText(reread) != once)
        std::abort();

    parseAppProfiles(map.value(QStringLiteral("apps")).toString());
    const int windowSize = map.value(QStringLiteral("window_size"), 400).toInt();
    const int clamped = windowSize == 0 ? 400 : std::clamp(windowSize, 150, 600);
    if (clamped < 150 || clamped > 600)
        std::abort();
    map.value(QStringLiteral("preview_enabled"), true).toBool();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        int adapter = 0;
        CaptureRect rect { -1, -1, -1, -1 };
        parseCaptureRecord(it.value().toString(), adapter, rect);
    }
    return 0;
}
