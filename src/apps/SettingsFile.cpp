#include "apps/SettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QSaveFile>
#include <QTextCodec>
#include <QVariant>

#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// ---------------------------------------------------------------- reading

bool isLineSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// One logical line: a value may go on over several physical lines inside
// quotes or after a backslash. `equals` is the first "=" outside quotes, or -1.
struct Line {
    int start = 0;
    int length = 0;
    int equals = -1;
};

// Finds the line that starts at or after `pos` and moves `pos` past it.
// Comments (";" at the start of a line, up to a line feed or a carriage
// return) are skipped with the blanks after them; a ";" later on, outside
// quotes, ends the line. False at the end of the text.
bool nextLine(const QByteArray& data, int& pos, Line& line)
{
    const int size = data.size();
    line.equals = -1;
    int start = pos;
    while (start < size && isLineSpace(data[start]))
        ++start;

    bool inQuotes = false;
    int i = start;
    while (i < size) {
        const char ch = data[i++];
        switch (ch) {
        case '=':
            if (!inQuotes && line.equals == -1)
                line.equals = i - 1;
            break;
        case '\n':
        case '\r':
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
            break;
        case '\\':
            if (i < size) {
                const char escaped = data[i++];
                if (i < size) {
                    const char next = data[i];
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
            }
            break;
        case '"':
            inQuotes = !inQuotes;
            break;
        case ';':
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isLineSpace(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
            break;
        default:
            break;
        }
    }
done:
    pos = i;
    line.start = start;
    line.length = i - start;
    return line.length > 0;
}

// Keys: "%XX" and "%UXXXX" are characters, a backslash is a "/". The two or
// four characters after "%" or "%U" are read as QSettings reads them, with
// QByteArray::toInt(16): blanks around the digits, a sign and "0x" are
// allowed ("%+a", "% a", "%U0x41"), a NUL ends them, a negative value keeps
// its low 16 bits. Read strictly, such a key was saved as another key.
QString unescapedKey(const QByteArray& data, int from, int to)
{
    QString key;
    key.reserve(to - from);
    int i = from;
    while (i < to) {
        const char ch = data[i];
        if (ch == '\\') {
            key += QLatin1Char('/');
            ++i;
            continue;
        }
        if (ch != '%' || i == to - 1) {
            key += QLatin1Char(ch);
            ++i;
            continue;
        }
        int digits = 2;
        int first = i + 1;
        if (data[i + 1] == 'U') {
            ++first;
            digits = 4;
        }
        bool ok = false;
        int code = 0;
        if (first + digits <= to)
            code = QByteArray(data.constData() + first, digits).toInt(&ok, 16);
        if (!ok) {
            key += QLatin1Char('%');
            ++i;
            continue;
        }
        key += QChar(static_cast<ushort>(code & 0xffff));
        i = first + digits;
    }
    return key;
}

// Unquoted blanks at the end of a value are dropped, but not those that an
// escape wrote: only characters after `limit` go.
void chopTrailingBlanks(QString& text, int limit)
{
    int n = text.size();
    while (n > limit && (text[n - 1] == QLatin1Char(' ') || text[n - 1] == QLatin1Char('\t')))
        --n;
    text.truncate(n);
}

// A value: quotes group, backslash escapes as in C (\xHH.., octal, \n, ...),
// bytes are Latin-1 (UTF-8 with `utf8`, run by run between escapes, quotes
// and commas), and a comma outside quotes makes a list. Blanks around
// unquoted items are dropped. Returns whether it was a list.
bool unescapedValue(
    const QByteArray& data, int from, int to, QTextCodec* utf8, QString& single, QStringList& list)
{
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    bool chopAtEnd = true; // a value that ends inside an escape keeps its blanks
    int i = from;
    int chopLimit = 0;
    auto skipBlanks = [&] {
        while (i < to && (data[i] == ' ' || data[i] == '\t'))
            ++i;
        chopLimit = single.size();
    };

    skipBlanks();
    while (i < to) {
        const char ch = data[i];
        if (ch == '\\') {
            if (++i >= to) {
                chopAtEnd = false;
                break;
            }
            const char escaped = data[i++];
            switch (escaped) {
            case 'a':
                single += QLatin1Char('\a');
                break;
            case 'b':
                single += QLatin1Char('\b');
                break;
            case 'f':
                single += QLatin1Char('\f');
                break;
            case 'n':
                single += QLatin1Char('\n');
                break;
            case 'r':
                single += QLatin1Char('\r');
                break;
            case 't':
                single += QLatin1Char('\t');
                break;
            case 'v':
                single += QLatin1Char('\v');
                break;
            case '"':
            case '?':
            case '\'':
            case '\\':
                single += QLatin1Char(escaped);
                break;
            case 'x':
                if (i >= to) {
                    chopAtEnd = false;
                } else if (isHexDigit(data[i])) {
                    // Any number of digits; a character keeps the low 16 bits.
                    unsigned code = 0;
                    while (i < to && isHexDigit(data[i]))
                        code = ((code << 4) | unsigned(hexValue(data[i++]))) & 0xffffu;
                    single += QChar(static_cast<ushort>(code));
                    chopAtEnd = i < to;
                }
                break;
            case '\n':
            case '\r':
                // A line continued on the next one.
                if (i < to && (data[i] == '\n' || data[i] == '\r') && data[i] != escaped)
                    ++i;
                break;
            default:
                if (escaped >= '0' && escaped <= '7') {
                    unsigned code = unsigned(escaped - '0');
                    while (i < to && data[i] >= '0' && data[i] <= '7')
                        code = ((code << 3) | unsigned(data[i++] - '0')) & 0xffffu;
                    single += QChar(static_cast<ushort>(code));
                    chopAtEnd = i < to;
                }
                // Any other escaped character is dropped.
                break;
            }
            chopLimit = single.size();
            if (!chopAtEnd)
                break;
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingBlanks(single, chopLimit);
            isList = true;
            list.append(single);
            single.clear();
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            int j = i + 1;
            while (j < to && data[j] != '\\' && data[j] != '"' && data[j] != ',')
                ++j;
            if (utf8)
                single += utf8->toUnicode(data.constData() + i, j - i);
            else
                single += QLatin1String(data.constData() + i, j - i);
            i = j;
        }
    }
    if (!quoted && chopAtEnd)
        chopTrailingBlanks(single, chopLimit);
    if (isList)
        list.append(single);
    return isList;
}

// How many arguments QSettings finds in "@Rect(...)" and its kin: it splits
// what follows the "(" at every blank and ends an argument at every ")".
int typedFormArguments(const QString& text, int open)
{
    int count = 0;
    for (int i = open + 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char(')'))
            ++count;
    }
    return count;
}

// The forms Qt turns into other types, some through QDataStream; we keep them
// as text. A rectangle, size or point with another number of arguments is
// plain text to QSettings ("@Rect()", "@Size(1)").
bool isTypedForm(const QString& text)
{
    if (!text.startsWith(QLatin1Char('@')) || !text.endsWith(QLatin1Char(')')))
        return false;
    static const char* const forms[] = { "@ByteArray(", "@Variant(", "@DateTime(" };
    for (const char* form : forms) {
        if (text.startsWith(QLatin1String(form)))
            return true;
    }
    static const struct {
        const char* form;
        int arguments;
    } geometry[] = { { "@Rect(", 4 }, { "@Size(", 2 }, { "@Point(", 2 } };
    for (const auto& g : geometry) {
        const QLatin1String form(g.form);
        if (text.startsWith(form))
            return typedFormArguments(text, form.size() - 1) == g.arguments;
    }
    return text == QLatin1String("@Invalid()");
}

// "@@..." is text that begins with one "@"; "@String(...)" is text that
// holds a NUL character, which is how Qt writes such text.
QString plainText(const QString& text)
{
    if (text.startsWith(QLatin1String("@String(")) && text.endsWith(QLatin1Char(')')))
        return text.mid(8, text.size() - 9);
    return text.startsWith(QLatin1String("@@")) ? text.mid(1) : text;
}

QVariant valueOf(bool isList, const QString& single, QStringList& list)
{
    if (!isList) {
        if (isTypedForm(single))
            return QVariant::fromValue(StoredText { QStringList { single }, false });
        return QVariant(plainText(single));
    }
    for (const QString& item : qAsConst(list)) {
        if (isTypedForm(item))
            return QVariant::fromValue(StoredText { list, true });
    }
    for (QString& item : list)
        item = plainText(item);
    return QVariant(list);
}

// ---------------------------------------------------------------- writing

const char hexDigits[] = "0123456789ABCDEF";

void appendEscapedKey(const QString& key, QByteArray& out)
{
    for (int i = 0; i < key.size(); ++i) {
        ushort ch = key[i].unicode();
        // A backslash just before the "=" would escape it, and the line
        // would hold no key at all: a "/" at the end is written "%2F".
        if (ch == '/' && i + 1 < key.size()) {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'
            || ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xff) {
            out += '%';
            out += hexDigits[ch / 16];
            out += hexDigits[ch % 16];
        } else {
            out += "%U";
            char code[4];
            for (int k = 3; k >= 0; --k, ch >>= 4)
                code[k] = hexDigits[ch % 16];
            out.append(code, 4);
        }
    }
}

void appendEscapedText(const QString& text, QByteArray& out)
{
    const int start = out.size();
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar qc : text) {
        const ushort ch = qc.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        // "\x4" followed by "1" would read as "\x41".
        if (escapeNextIfDigit && ch < 0x80 && isHexDigit(char(ch))) {
            out += "\\x";
            out += QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1f || ch >= 0x7f) {
                out += "\\x";
                out += QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else {
                out += char(ch);
            }
        }
    }
    // Unquoted, blanks at either end would be dropped when read back
    // (an escaped tab at the end too).
    const bool blankEnd = !text.isEmpty()
        && (text.endsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char('\t')) || text.startsWith(QLatin1Char(' ')));
    if (needsQuotes || blankEnd) {
        out.insert(start, '"');
        out += '"';
    }
}

QString textOf(const QVariant& value)
{
    const QString text = value.toString();
    if (text.contains(QChar::Null))
        return QStringLiteral("@String(") + text + QLatin1Char(')');
    return text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
}

void appendList(const QStringList& items, bool plain, QByteArray& out)
{
    if (items.isEmpty()) {
        out += "@Invalid()";
        return;
    }
    for (int k = 0; k < items.size(); ++k) {
        if (k != 0)
            out += ", ";
        appendEscapedText(plain ? textOf(items[k]) : items[k], out);
    }
}

void appendValue(const QVariant& value, QByteArray& out)
{
    if (value.userType() == qMetaTypeId<StoredText>()) {
        const StoredText stored = value.value<StoredText>();
        if (stored.list)
            appendList(stored.parts, false, out);
        else
            appendEscapedText(stored.parts.value(0), out);
        return;
    }
    switch (value.userType()) {
    case QMetaType::UnknownType:
        out += "@Invalid()";
        return;
    case QMetaType::QStringList:
        appendList(value.toStringList(), true, out);
        return;
    case QMetaType::QVariantList: {
        const QVariantList items = value.toList();
        if (items.size() != 1) {
            QStringList texts;
            for (const QVariant& item : items)
                texts.append(item.toString());
            appendList(texts, true, out);
            return;
        }
        appendEscapedText(textOf(items.first()), out);
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        appendEscapedText(QLatin1String("@ByteArray(") + QString::fromLatin1(bytes) + QLatin1Char(')'), out);
        return;
    }
    default:
        appendEscapedText(textOf(value), out);
    }
}

} // namespace

QString normalisedSettingsKey(const QString& key)
{
    QString result;
    result.reserve(key.size());
    for (const QChar c : key) {
        if (c == QLatin1Char('/') && (result.isEmpty() || result.endsWith(QLatin1Char('/'))))
            continue;
        result += c;
    }
    if (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

QSettings::SettingsMap readSettingsText(const QByteArray& text)
{
    // The lines of each section, in file order (a section named twice is one
    // section). QSettings reads [General] ("") first and then the others in
    // the order of their names, so of one key spelled in two sections
    // ("[a]" "b=2" and "[General]" "a\b=1") the one later in that order wins.
    std::map<QString, std::vector<Line>> sections;
    std::vector<Line>* lines = &sections[QString()];
    int pos = 0;
    // A byte-order mark, as Windows editors write one, makes the values UTF-8.
    QTextCodec* utf8 = nullptr;
    if (text.startsWith("\xef\xbb\xbf")) {
        utf8 = QTextCodec::codecForMib(106);
        pos = 3;
    }
    Line line;
    while (nextLine(text, pos, line)) {
        if (text[line.start] == '[') {
            // Only this line: a file of "[" lines without "]" must not cost quadratic time.
            const char* found
                = static_cast<const char*>(std::memchr(text.constData() + line.start, ']', size_t(line.length)));
            const int close = found ? int(found - text.constData()) : line.start + line.length;
            const QByteArray name = text.mid(line.start + 1, close - line.start - 1).trimmed();
            QString section; // "" or "name/"
            if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
            else if (name.compare("general", Qt::CaseInsensitive) != 0)
                section = unescapedKey(name, 0, name.size()) + QLatin1Char('/');
            lines = &sections[section];
        } else if (line.equals != -1) {
            lines->push_back(line);
        }
    }

    QSettings::SettingsMap map;
    QStringList list;
    for (const auto& [section, sectionLines] : sections) {
        for (const Line& entry : sectionLines) {
            int keyEnd = entry.equals;
            while (keyEnd > entry.start && (text[keyEnd - 1] == ' ' || text[keyEnd - 1] == '\t'))
                --keyEnd;
            // Kept as spelled: "/apps" (after a "[]" header) is not "apps", and
            // no call reaches it, but a save keeps it.
            const QString key = section + unescapedKey(text, entry.start, keyEnd);
            QString single;
            list.clear();
            const bool isList = unescapedValue(text, entry.equals + 1, entry.start + entry.length, utf8, single, list);
            map.insert(key, valueOf(isList, single, list));
        }
    }
    return map;
}

QByteArray writeSettingsText(const QSettings::SettingsMap& map)
{
    // One block per section, the [General] section ("") first. A key goes
    // into the section named before its first "/"; one that begins with a
    // "/" (no call reaches it) stays in [General] with that "/", so it reads
    // back as itself and not as the key after the "/".
    QMap<QString, QByteArray> blocks;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        const bool inSection = slash > 0;
        const QString section = inSection ? it.key().left(slash) : QString();
        QByteArray& block = blocks[section];
        appendEscapedKey(inSection ? it.key().mid(slash + 1) : it.key(), block);
        block += '=';
        appendValue(it.value(), block);
        block += '\n';
    }
    QByteArray out;
    for (auto it = blocks.cbegin(); it != blocks.cend(); ++it) {
        QByteArray header;
        appendEscapedKey(it.key(), header);
        if (header.isEmpty())
            header = "[General]";
        else if (header.compare("general", Qt::CaseInsensitive) == 0)
            header = "[%" + header + ']'; // a section of that name, not the top level
        else
            header = '[' + header + ']';
        if (!out.isEmpty())
            out += '\n';
        out += header + '\n' + it.value();
    }
    return out;
}

// ---------------------------------------------------------------- the file

namespace {

// Long enough for another instance to finish its write, short enough that
// the window does not seem to hang when the lock is never given up.
constexpr int kLockWaitMilliseconds = 500;

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Opens `path` for reading only when it is a regular file. On Unix the open
// cannot block (a FIFO put there after any check would wait for a writer),
// and what was opened is checked, not what was there a moment before.
bool openRegularFile(const QString& path, QFile& file, bool& missing, QString& reason)
{
    missing = false;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        reason = QStringLiteral("cannot read %1: %2").arg(fileNameOf(path), qt_error_string(errno));
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        reason = QStringLiteral("%1 is not a regular file").arg(fileNameOf(path));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        reason = QStringLiteral("cannot read %1: %2").arg(fileNameOf(path), file.errorString());
        return false;
    }
    return true;
#else
    const QFileInfo info(path);
    missing = !info.exists();
    if (!missing && !info.isFile()) {
        reason = QStringLiteral("%1 is not a regular file").arg(fileNameOf(path));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("cannot read %1: %2").arg(fileNameOf(path), file.errorString());
        return false;
    }
    return true;
#endif
}

// The new text must be on the disk before it replaces the old one.
bool flushToDisk(QFileDevice& file, QString& reason)
{
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        reason = qt_error_string(errno);
        return false;
    }
#else
    Q_UNUSED(file)
    Q_UNUSED(reason) // QSaveFile::commit flushes the file's buffers itself
#endif
    return true;
}

// So that the rename itself survives a power cut. Best effort. The folder is
// the one the new file was renamed in: when config.ini is a symbolic link,
// QSaveFile replaces the file it points to, beside that file.
void flushFolder(const QString& path)
{
#ifdef Q_OS_UNIX
    const QString file = QFileInfo(path).canonicalFilePath();
    const QString folder = QFileInfo(file.isEmpty() ? path : file).absolutePath();
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path)
#endif
}

// `key` itself or a key in its group.
bool isUnder(const QString& key, const QString& removedKey)
{
    return key.startsWith(removedKey)
        && (key.size() == removedKey.size() || key.at(removedKey.size()) == QLatin1Char('/'));
}

} // namespace

SettingsFile::SettingsFile(const QString& path, QObject* parent)
    : QObject(parent)
    , path(path)
{
    QString reason;
    if (reread(reason) == ReadResult::Failed) {
        // A file that could not be read is never written: its keys would be lost.
        memoryOnly = true;
        memoryOnlyReason = reason;
    }
}

SettingsFile::~SettingsFile()
{
    // One last try for changes an earlier write could not save.
    if (!memoryOnly && (!changed.isEmpty() || !removed.isEmpty())) {
        blockSignals(true);
        sync();
    }
}

QVariant SettingsFile::value(const QString& key, const QVariant& defaultValue) const
{
    const QString k = normalisedSettingsKey(key);
    if (k.isEmpty())
        return defaultValue;
    const auto found = changed.constFind(k);
    if (found != changed.cend())
        return found.value();
    for (const QString& gone : removed) {
        if (isUnder(k, gone))
            return defaultValue;
    }
    return onDisk.value(k, defaultValue);
}

void SettingsFile::setValue(const QString& key, const QVariant& value)
{
    const QString k = normalisedSettingsKey(key);
    if (!k.isEmpty())
        changed.insert(k, value);
}

void SettingsFile::remove(const QString& key)
{
    const QString k = normalisedSettingsKey(key);
    if (k.isEmpty())
        return;
    for (auto it = changed.begin(); it != changed.end();)
        it = isUnder(it.key(), k) ? changed.erase(it) : std::next(it);
    removed.insert(k);
}

bool SettingsFile::contains(const QString& key) const
{
    const QString k = normalisedSettingsKey(key);
    if (k.isEmpty())
        return false;
    if (changed.contains(k))
        return true;
    for (const QString& gone : removed) {
        if (isUnder(k, gone))
            return false;
    }
    return onDisk.contains(k);
}

QStringList SettingsFile::allKeys() const
{
    QSettings::SettingsMap all = onDisk;
    for (const QString& gone : removed) {
        for (auto it = all.begin(); it != all.end();)
            it = isUnder(it.key(), gone) ? all.erase(it) : std::next(it);
    }
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        all.insert(it.key(), it.value());
    return all.keys();
}

bool SettingsFile::sync()
{
    const bool pending = !changed.isEmpty() || !removed.isEmpty();
    if (memoryOnly)
        return pending ? fail(memoryOnlyReason) : true;

    if (!pending) {
        // Another instance may have written meanwhile; what cannot be read
        // now leaves what was read before.
        QString reason;
        reread(reason);
        return true;
    }

    const QString name = fileNameOf(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("%1 is not a regular file").arg(name));

    // QLockFile waits for good on a lock that is a folder or a dangling link,
    // and opening a FIFO there to see who holds it blocks: none of them is a
    // lock any instance made.
    const QString lockPath = path + QStringLiteral(".lock");
    const QFileInfo lockInfo(lockPath);
    if (lockInfo.isSymLink() || (lockInfo.exists() && !lockInfo.isFile()))
        return fail(QStringLiteral("%1.lock is not a lock file").arg(name));
    QLockFile lock(lockPath);
    if (!lock.tryLock(kLockWaitMilliseconds)) {
        return fail(lock.error() == QLockFile::LockFailedError
                ? QStringLiteral("%1.lock is held by another program").arg(name)
                : QStringLiteral("cannot create %1.lock").arg(name));
    }

    // What another instance wrote meanwhile is kept.
    QString reason;
    if (reread(reason) == ReadResult::Failed)
        return fail(reason);
    QSettings::SettingsMap merged = onDisk;
    for (const QString& gone : qAsConst(removed)) {
        for (auto it = merged.begin(); it != merged.end();)
            it = isUnder(it.key(), gone) ? merged.erase(it) : std::next(it);
    }
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        merged.insert(it.key(), it.value());

    const QByteArray text = writeSettingsText(merged);
    if (!writeFile(text, reason))
        return fail(QStringLiteral("cannot write %1: %2").arg(name, reason));
    onDisk = merged;
    diskText = text;
    changed.clear();
    removed.clear();
    if (!lastError.isEmpty()) {
        lastError.clear();
        emit saveRecovered();
    }
    return true;
}

// Another instance's write is noticed by what the file holds: its size and
// modification time stay the same for a write of the same size within one
// tick of the clock that stamps files (a few milliseconds on tmpfs and ext4),
// and the inode of a file just replaced may be given to the next one. A file of
// a few kilobytes is read in microseconds, and only at a sync.
SettingsFile::ReadResult SettingsFile::reread(QString& reason)
{
    QByteArray text;
    const ReadResult result = readFile(text, reason);
    if (result == ReadResult::Failed)
        return result;
    if (text != diskText) { // a missing file reads as an empty one
        onDisk = readSettingsText(text);
        diskText = text;
    }
    return result;
}

SettingsFile::ReadResult SettingsFile::readFile(QByteArray& text, QString& reason)
{
    text.clear();
    QFile file;
    bool missing = false;
    if (!openRegularFile(path, file, missing, reason))
        return missing ? ReadResult::Missing : ReadResult::Failed;
    const qint64 size = file.size();
    if (size > kLargestSettingsFile) {
        reason = QStringLiteral("%1 is too large to read").arg(fileNameOf(path));
        return ReadResult::Failed;
    }
    try {
        text.resize(int(size));
    } catch (const std::bad_alloc&) {
        reason = QStringLiteral("%1 is too large to read").arg(fileNameOf(path));
        return ReadResult::Failed;
    }
    // Only as much as it held when opened: a file that grows meanwhile is read next time.
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(text.data() + done, size - done);
        if (n < 0) {
            reason = QStringLiteral("cannot read %1: %2").arg(fileNameOf(path), file.errorString());
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        done += n;
    }
    text.truncate(int(done));
    return ReadResult::Read;
}

bool SettingsFile::writeFile(const QByteArray& text, QString& reason)
{
    // Unbuffered, so that every write reports its own failure: with
    // QSaveFile's buffer the last write fails unnoticed at commit, and a
    // cut or empty file replaced the old one.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        reason = file.errorString();
        return false;
    }
    for (qint64 done = 0; done < text.size();) {
        const qint64 n = file.write(text.constData() + done, text.size() - done);
        if (n <= 0) {
            reason = file.error() == QFileDevice::NoError ? QStringLiteral("write failed") : file.errorString();
            return false; // QSaveFile removes the temporary file
        }
        done += n;
    }
    if (!flushToDisk(file, reason))
        return false;
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    flushFolder(path);
    return true;
}

bool SettingsFile::fail(const QString& reason)
{
    lastError = reason;
    emit saveFailed(reason);
    return false;
}

SettingsFile* openSettingsFile(const QString& path)
{
    return new SettingsFile(path);
}
