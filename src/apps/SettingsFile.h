#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QSettings>
#include <QString>
#include <QStringList>

// config.ini is read and written in the INI text form Qt's own INI format
// uses (sections, %-escaped keys, backslash escapes, quoted values, comma
// lists), so files written by earlier versions read the same and files we
// write read the same with QSettings::IniFormat. One difference: Qt decodes
// values of the form "@Variant(...)" through QDataStream, and a damaged or
// hostile value there (a list claiming two billion entries) makes it throw
// std::bad_alloc and end the program at start-up, every time. We never decode
// such values: they come back as StoredText and are written back unchanged.

// A value this program does not interpret ("@Variant(...)", "@Rect(...)", a
// list with such items, ...): its unescaped text, kept so it is written back
// as it was. Reads as 0, false and an empty string.
struct StoredText {
    QStringList parts; // one item, or the items of a comma list
    bool list = false;
};
Q_DECLARE_METATYPE(StoredText)

// Opens the settings file at `path` in the format above. When something other
// than a regular file is there (a folder, a FIFO, a device), the settings
// live in memory only and the path is left alone.
QSettings* openSettingsFile(const QString& path);
QSettings::Format settingsFileFormat();

// The two halves of the format, on bytes. Reading never fails: lines that
// are not "key=value" are skipped. Values come back as QString, QStringList
// or StoredText; keys as "key" (the [General] section) or "section/key".
// A UTF-8 byte-order mark at the start makes values UTF-8; keys, section
// names and values without one are Latin-1.
QSettings::SettingsMap readSettingsText(const QByteArray& text);
QByteArray writeSettingsText(const QSettings::SettingsMap& map);
