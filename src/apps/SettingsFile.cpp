#include "apps/SettingsFile.h"

#include <QFileInfo>
#include <QIODevice>
#include <QMap>
#include <QTextCodec>
#include <QVariant>

#include <cstring>

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

// Keys: "%XX" and "%UXXXX" are characters, a backslash is a "/".
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
        bool ok = first + digits <= to;
        int code = 0;
        for (int k = first; ok && k < first + digits; ++k) {
            ok = isHexDigit(data[k]);
            if (ok)
                code = code * 16 + hexValue(data[k]);
        }
        if (!ok) {
            key += QLatin1Char('%');
            ++i;
            continue;
        }
        key += QChar(static_cast<ushort>(code));
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

// The forms Qt turns into other types, some through QDataStream; we keep them as text.
bool isTypedForm(const QString& text)
{
    if (!text.startsWith(QLatin1Char('@')) || !text.endsWith(QLatin1Char(')')))
        return false;
    static const char* const forms[] = { "@ByteArray(", "@Variant(", "@Rect(", "@Size(", "@Point(", "@DateTime(" };
    for (const char* form : forms) {
        if (text.startsWith(QLatin1String(form)))
            return true;
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

// "a//b/" and "/a/b" are the key "a/b", as QSettings spells keys.
QString normalisedKey(const QString& key)
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

// ---------------------------------------------------------------- writing

const char hexDigits[] = "0123456789ABCDEF";

void appendEscapedKey(const QString& key, QByteArray& out)
{
    for (const QChar qc : key) {
        ushort ch = qc.unicode();
        if (ch == '/') {
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

bool readDevice(QIODevice& device, QSettings::SettingsMap& map)
{
    map = readSettingsText(device.readAll());
    return true;
}

bool writeDevice(QIODevice& device, const QSettings::SettingsMap& map)
{
    const QByteArray text = writeSettingsText(map);
    return device.write(text) == text.size();
}

} // namespace

QSettings::SettingsMap readSettingsText(const QByteArray& text)
{
    QSettings::SettingsMap map;
    QString section; // "" or "name/"
    int pos = 0;
    // A byte-order mark, as Windows editors write one, makes the values UTF-8.
    QTextCodec* utf8 = nullptr;
    if (text.startsWith("\xef\xbb\xbf")) {
        utf8 = QTextCodec::codecForMib(106);
        pos = 3;
    }
    Line line;
    QStringList list;
    while (nextLine(text, pos, line)) {
        const int end = line.start + line.length;
        if (text[line.start] == '[') {
            // Only this line: a file of "[" lines without "]" must not cost quadratic time.
            const char* found
                = static_cast<const char*>(std::memchr(text.constData() + line.start, ']', size_t(line.length)));
            const int close = found ? int(found - text.constData()) : end;
            const QByteArray name = text.mid(line.start + 1, close - line.start - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
            else
                section = unescapedKey(name, 0, name.size()) + QLatin1Char('/');
            continue;
        }
        if (line.equals == -1)
            continue;
        int keyEnd = line.equals;
        while (keyEnd > line.start && (text[keyEnd - 1] == ' ' || text[keyEnd - 1] == '\t'))
            --keyEnd;
        // A key without a name ("=x", or "a/=x" in a section) is one no
        // QSettings call can reach.
        const QString name = unescapedKey(text, line.start, keyEnd);
        if (name.isEmpty() || name.endsWith(QLatin1Char('/')))
            continue;
        const QString key = normalisedKey(section + name);
        if (key.isEmpty())
            continue;
        QString single;
        list.clear();
        const bool isList = unescapedValue(text, line.equals + 1, end, utf8, single, list);
        map.insert(key, valueOf(isList, single, list));
    }
    return map;
}

QByteArray writeSettingsText(const QSettings::SettingsMap& map)
{
    // One block per section, the [General] section ("") first.
    QMap<QString, QByteArray> blocks;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash == -1 ? QString() : it.key().left(slash);
        QByteArray& block = blocks[section];
        appendEscapedKey(slash == -1 ? it.key() : it.key().mid(slash + 1), block);
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

QSettings::Format settingsFileFormat()
{
    static const QSettings::Format format = QSettings::registerFormat(QStringLiteral("ini"), readDevice, writeDevice);
    return format;
}

QSettings* openSettingsFile(const QString& path)
{
    // Only a regular file is used. Opening a FIFO for reading waits for a
    // writer, for ever; a directory or a device is no settings file either.
    // The settings then live in memory for this run, as when the file cannot
    // be written, and whatever is at the path stays untouched.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return new QSettings(QString(), settingsFileFormat());
    return new QSettings(path, settingsFileFormat());
}
