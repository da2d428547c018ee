#include "apps/RecognitionRules.h"

#include <array>
#include <optional>

namespace {

enum class Needs { ClassAndTitle, ClassOrTitle, Class, Title };

struct BuiltinRule {
    Needs needs;
    const char* classText;
    const char* titleText;
    const char* name;
};

// Tested in this order; the first that holds names the application. The
// first fifteen name Windows programs by their Windows class names and
// titles. The rest name the editors and browsers of a Linux desktop by the
// class part of their WM_CLASS ("instance.class"), dot included: the instance
// changes with how a program is started (GIMP from the menu is
// "gimp-2.10.Gimp-2.10", from a shell "gimp.Gimp"), the class does not, and
// a title is never tested, so a terminal titled "darktable notes" stays a
// terminal. They come after the Windows rules, so a browser window titled
// "Photoshop tips" is still "Photoshop".
constexpr std::array<BuiltinRule, 28> kBuiltinRules { {
    { Needs::ClassAndTitle, "Mozilla", "Firefox", "Firefox" },
    { Needs::ClassAndTitle, "Chrome", "Chrome", "Chrome" },
    { Needs::ClassAndTitle, "Luminar AI", "Luminar AI", "Luminar AI" },
    { Needs::ClassAndTitle, "Luminar 4", "Luminar 4", "Luminar 4" },
    { Needs::ClassAndTitle, "Luminar", "Luminar", "Luminar" },
    { Needs::ClassOrTitle, "Lightroom", "Lightroom", "Lightroom" },
    { Needs::Class, "illustrator", nullptr, "Illustrator" },
    { Needs::Class, "AE_", nullptr, "After Effects" },
    { Needs::Class, "PSPMainFrame", nullptr, "Corel Paintshop" },
    { Needs::ClassOrTitle, "Photoshop", "Photoshop", "Photoshop" },
    { Needs::ClassOrTitle, "Resolve", "Resolve", "DaVinci Resolve" },
    { Needs::Title, nullptr, "ON1", "ON1" },
    { Needs::Title, nullptr, "DxO PureRAW", "DxO PureRAW" },
    { Needs::Title, nullptr, "DxO PhotoLab", "DxO PhotoLab" },
    { Needs::Title, nullptr, "Capture One", "Capture One" },
    { Needs::Class, ".Gimp", nullptr, "GIMP" },
    { Needs::Class, ".Darktable", nullptr, "darktable" },
    { Needs::Class, ".Rawtherapee", nullptr, "RawTherapee" },
    { Needs::Class, ".krita", nullptr, "Krita" },
    { Needs::Class, ".Inkscape", nullptr, "Inkscape" },
    { Needs::Class, ".digikam", nullptr, "digiKam" },
    { Needs::Class, ".kdenlive", nullptr, "Kdenlive" },
    { Needs::Class, ".Shotcut", nullptr, "Shotcut" },
    { Needs::Class, ".Blender", nullptr, "Blender" },
    { Needs::Class, ".resolve", nullptr, "DaVinci Resolve" },
    { Needs::Class, ".firefox", nullptr, "Firefox" },
    { Needs::Class, ".Google-chrome", nullptr, "Chrome" },
    { Needs::Class, ".Chromium", nullptr, "Chromium" },
} };

bool has(const std::string& text, const char* literal)
{
    return text.find(literal) != std::string::npos;
}

bool holds(const BuiltinRule& rule, const std::string& windowClass, const std::string& title)
{
    switch (rule.needs) {
    case Needs::ClassAndTitle:
        return has(windowClass, rule.classText) && has(title, rule.titleText);
    case Needs::ClassOrTitle:
        return has(windowClass, rule.classText) || has(title, rule.titleText);
    case Needs::Class:
        return has(windowClass, rule.classText);
    case Needs::Title:
        return has(title, rule.titleText);
    }
    return false;
}

// A window text decoded on first use, then kept for the remaining rules.
class DecodedText {
public:
    explicit DecodedText(const std::string& bytes)
        : bytes(bytes)
    {
    }

    bool contains(const QString& field)
    {
        if (!text)
            text = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
        return text->contains(field, Qt::CaseSensitive);
    }

private:
    const std::string& bytes;
    std::optional<QString> text;
};

bool fieldFails(const QString& field, DecodedText& text)
{
    return !field.isEmpty() && !text.contains(field);
}

} // namespace

void copyNarrowText(const std::string& text, std::size_t maxBytes, std::string& buffer)
{
    std::size_t length = text.find('\0');
    if (length == std::string::npos)
        length = text.size();
    if (length > maxBytes) {
        length = maxBytes;
        // Step back over continuation bytes (10xxxxxx) so the cut falls
        // before the lead byte of the character that does not fit; a UTF-8
        // character has at most three of them.
        const std::size_t limit = maxBytes >= 3 ? maxBytes - 3 : 0;
        while (length > limit && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    buffer.assign(text, 0, length);
}

const char* builtinApplicationName(const std::string& windowClass, const std::string& title)
{
    for (const BuiltinRule& rule : kBuiltinRules) {
        if (holds(rule, windowClass, title))
            return rule.name;
    }
    return nullptr;
}

const AppProfile* matchingProfile(const QList<AppProfile>& profiles, const std::string& windowClass,
    const std::string& title, const std::string& executable)
{
    DecodedText classText(windowClass);
    DecodedText titleText(title);
    DecodedText executableText(executable);
    for (const AppProfile& profile : profiles) {
        if (fieldFails(profile.windowClass, classText) || fieldFails(profile.windowTitle, titleText)
            || fieldFails(profile.executable, executableText))
            continue;
        return &profile;
    }
    return nullptr;
}

QString executableFileName(const std::string& path)
{
    QString name = QString::fromUtf8(path.data(), static_cast<int>(path.size()));
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 ? name.mid(slash + 1) : name;
}
