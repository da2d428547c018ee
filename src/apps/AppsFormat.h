#pragma once

#include "apps/AppProfile.h"

#include <QList>
#include <QMap>
#include <QString>

#include <array>

// Left, top, right, bottom in monitor pixels, relative to the monitor's
// top-left corner; a negative left means the whole monitor.
using CaptureRect = std::array<int, 4>;

// The "apps" setting: one rule per line, "name:class:title:executable".
// Fields keep their blanks; the third and fourth may be missing and any
// fifth field is ignored. Lines with an empty name, with fewer than two
// fields or with nothing to match are dropped.
QList<AppProfile> parseAppProfiles(const QString& text);

// A capture record is "adapter|left|top|right|bottom" in decimal. Only a
// record of exactly five fields sets the outputs; a field that is not a
// 32-bit decimal integer counts as 0, and the rectangle's fields are held to
// +-ScreenService::coordinateLimit. Returns whether the outputs were set.
bool parseCaptureRecord(const QString& record, int& adapter, CaptureRect& rect);
QString formatCaptureRecord(int adapter, const CaptureRect& rect);

// Adapter 0, no rectangle: the whole first monitor.
QString defaultCaptureRecord();

// The applications recognised without a rule: id -> display name. The
// display names are the names recognition gives them.
QMap<QString, QString> builtinApplications();

// Keys of config.ini that hold the program's own settings, in any spelling
// that reaches them ("/apps", "window_size/"). An application with such a
// name cannot keep its capture record in the file, or storing a region would
// overwrite the rules, the window size or the preview switch.
bool isReservedSettingsKey(const QString& key);
