#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

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

// The program's settings: what config.ini holds, kept in memory, and
// written to the file after changes. value(), setValue(), remove() and
// contains() take keys as QSettings does ("/a//b/" is "a/b"), case counts,
// and the [General] section holds the keys without a "/". The file may also
// hold keys that no such call reaches ("/apps", after a "[]" header); they
// are listed by allKeys() as QSettings lists them, never read in place of
// another key, and written back as they were.
//
// The file is never left worse than it was:
// - it is replaced only once the whole new text is on the disk (every write
//   and the flush checked, synced before the rename); a write that fails
//   leaves the old file byte for byte and removes the temporary;
// - whatever is at the path is checked before every read and every write,
//   and nothing there can block: a folder, a FIFO or a device at the path is
//   left alone, and so is a file too large to read;
// - the lock other instances share, config.ini.lock, is waited for only a
//   short, bounded time; a lock that is not a file is never waited for.
// A change that cannot be written stays in memory: value() returns it, and
// every later sync() tries again (and the last one at destruction).
class SettingsFile : public QObject {
    Q_OBJECT
public:
    // Reads the file. When something other than a regular file is at the
    // path, or a file that cannot be read whole, the settings live in memory
    // for the run and the path is never written.
    explicit SettingsFile(const QString& path, QObject* parent = nullptr);
    ~SettingsFile() override;

    QString fileName() const { return path; }
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    bool contains(const QString& key) const;
    QStringList allKeys() const;

    // Reads the file again and writes the changes made since the last write
    // over it, so what another instance wrote meanwhile is kept; with no
    // changes, only reads. True when the file holds every change.
    bool sync();

    // Empty while every change is on the disk; else why the last write failed.
    QString saveError() const { return lastError; }

signals:
    // A write failed; the changes stay in memory. `reason` says why in a few words.
    void saveFailed(const QString& reason);
    // A write succeeded after one had failed.
    void saveRecovered();

private:
    enum class ReadResult { Read, Missing, Failed };
    ReadResult readFile(QByteArray& text, QString& reason);
    ReadResult reread(QString& reason); // onDisk from the file, when its bytes changed
    bool writeFile(const QByteArray& text, QString& reason);
    bool fail(const QString& reason);

    QString path;
    bool memoryOnly = false;       // the path was not a readable regular file at start
    QString memoryOnlyReason;
    QSettings::SettingsMap onDisk; // as last read or written, from or as diskText
    QByteArray diskText;
    QSettings::SettingsMap changed;
    QSet<QString> removed;
    QString lastError;
};

// Opens the settings file at `path` (see SettingsFile).
SettingsFile* openSettingsFile(const QString& path);

// A key as QSettings spells it: "a//b/" and "/a/b" are "a/b". Empty when
// nothing but slashes is left; no such key can be stored.
QString normalisedSettingsKey(const QString& key);

// The largest config.ini that is read. A larger file is left as it is, and
// the settings live in memory for the run.
constexpr qint64 kLargestSettingsFile = qint64(256) * 1024 * 1024;

// The two halves of the format, on bytes. Reading never fails: lines that
// are not "key=value" are skipped. Values come back as QString, QStringList
// or StoredText; keys as "key" (the [General] section) or "section/key",
// spelled as the file spells them, so some are keys no call reaches ("",
// "a/", "/a", "a//b"). Writing keeps every such key as it is.
// A UTF-8 byte-order mark at the start makes values UTF-8; keys, section
// names and values without one are Latin-1.
QSettings::SettingsMap readSettingsText(const QByteArray& text);
QByteArray writeSettingsText(const QSettings::SettingsMap& map);
