// The "apps" setting as a hand-edited config.ini or the settings dialog may
// hold it, and the window texts the X server reports, which any program can
// set: the rules are parsed, then matched as recognition matches them on
// every capture cycle.
#include "apps/AppsFormat.h"
#include "apps/RecognitionRules.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool holdsSeparator(const QString& field)
{
    return field.contains(QLatin1Char(':')) || field.contains(QLatin1Char('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const QString text = QString::fromUtf8(bytes, int(size));
    const QList<AppProfile> profiles = parseAppProfiles(text);

    if (profiles.size() > text.count(QLatin1Char('\n')) + 1)
        std::abort();
    for (const AppProfile& p : profiles) {
        if (p.name.isEmpty() || (p.windowClass.isEmpty() && p.windowTitle.isEmpty() && p.executable.isEmpty()))
            std::abort();
        if (holdsSeparator(p.name) || holdsSeparator(p.windowClass) || holdsSeparator(p.windowTitle)
            || holdsSeparator(p.executable))
            std::abort();
    }

    // The same bytes as window texts: not necessarily UTF-8, possibly with
    // zero bytes, longer than the narrow buffers.
    const std::string raw(bytes, size);
    std::string windowClass, title, executable;
    copyNarrowText(raw, kMaxClassBytes, windowClass);
    copyNarrowText(raw.substr(size / 3), kMaxTitleBytes, title);
    copyNarrowText(raw.substr(size / 2), kMaxExecutableBytes, executable);
    if (windowClass.size() > kMaxClassBytes || title.size() > kMaxTitleBytes || executable.size() > kMaxExecutableBytes)
        std::abort();
    builtinApplicationName(windowClass, title);
    const AppProfile* match = matchingProfile(profiles, windowClass, title, executable);
    if (match) {
        bool listed = false;
        for (const AppProfile& p : profiles)
            listed = listed || &p == match;
        if (!listed)
            std::abort();
    }
    executableFileName(executable);
    return 0;
}
