#pragma once

#include "apps/AppProfile.h"

#include <QList>
#include <QString>

#include <cstddef>
#include <string>

// What recognition keeps of the foreground window, in bytes without the
// terminator of the narrow buffers the program was designed around: title
// and class fit 1024-byte buffers, the executable path a 2048-byte one.
constexpr std::size_t kMaxTitleBytes = 1023;
constexpr std::size_t kMaxClassBytes = 1023;
constexpr std::size_t kMaxExecutableBytes = 2047;

// The region selection window's title begins so; while it is in front the
// application name must not change.
constexpr const char* kRegionWindowTitle = "Select region to capture";

// The settings dialog's title; while it is in front its labels keep showing
// the window that was in front before it.
constexpr const char* kSettingsWindowTitle = "Huelens Settings";

// Copies `text` into `buffer` as a narrow buffer would hold it: up to the
// first zero byte and at most `maxBytes` bytes, cut before a UTF-8 sequence
// that would not fit whole. Reuses the buffer's memory.
void copyNarrowText(const std::string& text, std::size_t maxBytes, std::string& buffer);

// The built-in application whose window has this class and title, or
// nullptr. The rules compare bytes, case-sensitive, and the first that
// holds wins, so the more specific Luminar names come before "Luminar".
const char* builtinApplicationName(const std::string& windowClass, const std::string& title);

// The first rule whose non-empty fields are all contained in the window's
// texts (decoded as UTF-8, case-sensitive), or nullptr. A text is decoded
// only when a rule tests it.
const AppProfile* matchingProfile(const QList<AppProfile>& profiles, const std::string& windowClass,
    const std::string& title, const std::string& executable);

// The file name of an executable path with "/" or "\" separators; a path
// without a separator is returned whole.
QString executableFileName(const std::string& path);
