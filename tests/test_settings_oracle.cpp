// The settings store held to QSettings as the oracle, on a few thousand
// generated config.ini files full of hostile keys (slashes, strict and loose
// "%" escapes, odd section names, one key in several sections), values
// (quotes, escapes, lists, every "@" form with right and wrong arguments,
// continued lines), comments and line ends, each followed by edits and a
// save. A fixed seed makes every run try the same cases.
//
// After reading, our allKeys() and value() must be QSettings' on the same
// file; after the same edits, the same again; after a save, QSettings must
// read our file as it read the edited settings before it saved them, and the
// keys no call reaches must still be there. Where we differ from QSettings it
// is one of the differences the README lists, each named where it is allowed
// below; anything else fails with the smallest file and edits that show it.
#include "apps/SettingsFile.h"
#include "support/TestSupport.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QSize>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

namespace {

// HUELENS_ORACLE_CASES and HUELENS_ORACLE_SEED try more, or other, cases.
const int kCases
    = qEnvironmentVariableIsSet("HUELENS_ORACLE_CASES") ? qEnvironmentVariableIntValue("HUELENS_ORACLE_CASES") : 3000;
const quint32 kSeed = qEnvironmentVariableIsSet("HUELENS_ORACLE_SEED")
    ? quint32(qEnvironmentVariableIntValue("HUELENS_ORACLE_SEED"))
    : 28;
const QByteArray kByteOrderMark = "\xef\xbb\xbf";

struct Edit {
    bool remove = false;
    QString key;
    QVariant value;
};

struct Case {
    QByteArray text;
    QVector<Edit> edits;
};

// ---------------------------------------------------------------- the cases

// "@Variant(...)" is decoded by QSettings through QDataStream, and a hostile
// one ends it (that is why the store never decodes them): the files offer it
// only these, an empty one and a small size, which it reads as invalid and
// as QSize(3, 4).
QByteArray variantOfSize()
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << QVariant(QSize(3, 4));
    QByteArray escaped = "@Variant(";
    for (const char c : bytes)
        escaped += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
    return escaped + ')';
}

// The decoded texts of the typed values above, and of one "@DateTime" too
// short to hold anything.
bool safeForQSettings(const QString& text)
{
    static const QSettings::SettingsMap safe = readSettingsText("a=@Variant()\nb=" + variantOfSize() + "\n");
    if (!text.startsWith(QLatin1String("@Variant(")) && !text.startsWith(QLatin1String("@DateTime(")))
        return true;
    for (const QVariant& value : safe)
        if (value.value<StoredText>().parts.value(0) == text)
            return true;
    return text == QLatin1String("@DateTime(ab)");
}

// Whether QSettings may be given the file: every typed value in it, as we read it, is one of the safe ones.
bool safeForQSettings(const QByteArray& text)
{
    const QSettings::SettingsMap map = readSettingsText(text);
    for (const QVariant& value : map) {
        if (value.userType() != qMetaTypeId<StoredText>())
            continue;
        for (const QString& part : value.value<StoredText>().parts)
            if (!safeForQSettings(part))
                return false;
    }
    return true;
}

class Generator {
public:
    explicit Generator(quint32 seed)
        : random(seed)
    {
    }

    Case next()
    {
        Case c;
        do
            c.text = file();
        while (!safeForQSettings(c.text));
        c.edits = edits(readSettingsText(c.text).keys());
        return c;
    }

private:
    std::mt19937 random;

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T, size_t N> const T& pick(const T (&pool)[N]) { return pool[below(int(N))]; }

    QByteArray lineEnd() { return pick({ "\n", "\n", "\n", "\r\n", "\r", "\n\r", "\n\n" }); }

    // A few names, spelled many ways, so that keys meet: in two sections,
    // through strict and loose escapes, with slashes doubled or leading.
    QByteArray name()
    {
        static const char* const names[]
            = { "a", "a", "b", "apps", "k", "%61", "%U0061", "%U0x61", "%U+061", "%U 061", "%U061 ", "A", "%41" };
        static const char* const hostile[] = { "x y", "Caf\xe9", "%2f", "%5C", "%U00E9", "%U263A", "%20", "%3D", "%3B",
            "%22", "%+a", "% a", "%a ", "%-1", "%U+fff", "%U 0x4", "%4", "%", "%zz", "%U", "%U12", "%0", " ", "\t", ";",
            "\"", "[", "General", "%General", "\x01", "\xff", "=" };
        QByteArray part = chance(75) ? pick(names) : pick(hostile);
        if (chance(2))
            part += '\0';
        return part;
    }

    QByteArray slash() { return pick({ "/", "\\", "%2F", "%U002F", "%U0x2f", "//", "\\\\", "/\\" }); }

    QByteArray key()
    {
        QByteArray key = chance(10) ? slash() : QByteArray();
        for (int n = below(3); n >= 0; --n) {
            key += name();
            if (n > 0)
                key += slash();
        }
        if (chance(8))
            key += slash();
        return chance(4) ? QByteArray() : key;
    }

    QByteArray section()
    {
        static const char* const names[]
            = { "General", "general", "GENERAL", "%General", "%general", "", "/", "%2F", "a", "a", "b", "a/b", "a%2Fb",
                  "a\\b", "%61", "%U0x61", " a ", "a/", "//", "%+a", "% a", "apps", "[x", "x;y", "\"q\"" };
        QByteArray line = pick({ "[", "[", "[", "  [" }) + QByteArray(pick(names));
        if (chance(20))
            line += pick(names);
        return line + pick({ "]", "]", "]", "] ; note", "]junk", "" });
    }

    QByteArray valuePart()
    {
        static const char* const parts[] = { "Gimp:gimp", "300", "true", "x", " spaced ", "x y", "\"a;b\"", "\"a,b\"",
            "\" lead\"", "\"q\\\"q\"", "\"open", "\\x41", "\\x4", "\\x263a", "\\101", "\\n", "\\t", "\\r", "\\\\",
            "\\\"", "\\q", "\\x", "\\0", "\\xe9", "\\", "\t", " ", ",", ", ", " ,", ";", "=", "\xc3\xa9", "\xe9",
            "\xff", "\xe2\x98", "@", "@@x", "@foo", "\\\n", "\\\r\n", "\"\n\"", "\\777777", "\\x1234567", "\\u00e9",
            "\\x0041", "\\08" };
        return pick(parts);
    }

    QByteArray typedValue()
    {
        static const QByteArray sized = variantOfSize();
        static const char* const forms[] = { "@Rect(1 2 3 4)", "@Rect()", "@Rect(1)2 3 4)", "@Rect(1  2 3)",
            "@Rect(a b c d)", "@Rect(1 2 3 4", "@Size(1)", "@Size(1 2)", "@Size(1 2 )", "@Point(1,2,3)", "@Point(1 2)",
            "@Point(1 2 3)", "@Point()", "@ByteArray(abc)", "@ByteArray()", "@ByteArray(\\xe9\\x263a)", "@Variant()",
            "@DateTime(ab)", "@Invalid()", "@Invalid", "@String(x\\0y)", "@String()", "@String(a", "@@Rect(1 2 3 4)",
            "\"@Rect(1 2 3 4)\"", "\\x40Rect(1 2 3 4)", "x, @Rect(1 2 3 4)", "@@x, y", "@foo, b", "@String(a), b",
            "@Variant(), x", "@Size(1 2), @Size(1)", "", "" };
        const QByteArray form = pick(forms);
        return form.isEmpty() ? sized : form;
    }

    QByteArray value()
    {
        const int kind = below(100);
        if (kind < 20)
            return typedValue();
        if (kind < 25)
            return QByteArray();
        QByteArray value;
        for (int n = below(4); n >= 0; --n)
            value += valuePart();
        return value;
    }

    // The key "a/b" from "[a]" and from "[General]" (or "a/b/c" from "[a/b]"
    // and "[a]"), spelled in many ways, in either order.
    QByteArray oneKeyInTwoSections()
    {
        const auto a = [&] { return QByteArray(pick({ "a", "a", "%61", "%U0x61", "%U 061" })); };
        const auto b = [&] { return QByteArray(pick({ "b", "b", "%62", "%U+062" })); };
        const auto end = [&] { return lineEnd(); };
        QByteArray first, second;
        if (chance(50)) {
            first = "[" + a() + "]" + end() + b() + "=" + value() + end();
            second = QByteArray(pick({ "[General]", "[general]", "[%General]" })) + end() + a() + slash() + b() + "="
                + value() + end();
        } else {
            first = "[" + a() + pick({ "%2F", "\\", "/" }) + b() + "]" + end() + "c=" + value() + end();
            second = "[" + a() + "]" + end() + b() + slash() + "c=" + value() + end();
        }
        return chance(50) ? first + second : second + first;
    }

    QByteArray file()
    {
        QByteArray text = chance(8) ? kByteOrderMark : QByteArray();
        for (int n = below(12); n > 0; --n) {
            const int kind = below(100);
            if (kind < 18) {
                text += section();
            } else if (kind < 24) {
                text += oneKeyInTwoSections();
            } else if (kind < 30) {
                static const char* const others[] = { "; comment", ";", "  ; indented = comment", "junk", "=", "==", "",
                    "  ", "\"quoted = \n line\"", "k \\\n = v" };
                text += pick(others);
            } else {
                text += key() + pick({ "", "", " ", "\t" }) + "=" + pick({ "", "", " ", "\t" }) + value();
                if (chance(8))
                    text += pick({ " ; note", ";x", "\t;" });
            }
            if (n > 1 || chance(80))
                text += lineEnd();
        }
        return text;
    }

    QVector<Edit> edits(QStringList keys)
    {
        static const char* const more[] = { "apps", "window_size", "preview_enabled", "a", "a/b", "a/b/c", "General/x",
            "general/y", "GENERAL/z", "/apps", "x//y/", "b/", "k", "A", "%", "sp ace", "semi;colon", "Caf\xc3\xa9",
            "\xe2\x98\xba", "[", "a/=b", "q\"uote" };
        for (const char* k : more)
            keys.append(QString::fromUtf8(k));
        static const QVariant values[] = { QString(), QStringLiteral("Gimp:gimp"), QStringLiteral(" blanks "),
            QStringLiteral("a;b,c=d\"e\\f"), QStringLiteral("@Rect(1 2 3 4)"), QStringLiteral("@Variant(x)"),
            QStringLiteral("@@x"), QStringLiteral("@"), QString::fromUtf16(u"a\0b", 3),
            QString::fromUtf8("\xc3\xa9\xe2\x98\xba"), QStringLiteral("line\nfeed"),
            QStringLiteral("\x01"
                           "ctl\x7f"),
            QStringLiteral("\\x41"), QStringLiteral("\U0001F3A8 \u00e9"), QStringList { "a", "b" },
            QStringList { "@x", " y ", "" }, QStringList { "a,b", "@Rect(1 2 3 4)" }, 5, -1, 300, true };
        QVector<Edit> edits;
        for (int n = below(5); n > 0; --n) {
            Edit edit;
            edit.remove = chance(35);
            edit.key = keys.at(below(keys.size()));
            if (edit.remove && chance(30))
                edit.key = edit.key.section(QLatin1Char('/'), 0, 0); // a whole group
            if (!edit.remove)
                edit.value = pick(values);
            if (!normalisedSettingsKey(edit.key).isEmpty())
                edits.append(edit);
        }
        return edits;
    }
};

// ---------------------------------------------------------------- readings

// How one key reads, as far as the two readers can be held to each other:
// text, a list of texts, or a typed value (QSettings' decoded value; ours
// keeps the text and decodes nothing).
struct Reading {
    enum Kind { Absent, Text, List, Typed } kind = Absent;
    QStringList texts;
    QVariant typed; // what QSettings decoded
    bool keptAsText = false; // ours
};

Reading readingOf(bool present, const QVariant& value)
{
    Reading r;
    if (!present)
        return r;
    switch (value.userType()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::Bool:
        r.kind = Reading::Text;
        r.texts = QStringList { value.toString() };
        return r;
    case QMetaType::QStringList:
        r.kind = Reading::List;
        r.texts = value.toStringList();
        return r;
    case QMetaType::QVariantList:
        r.kind = Reading::List;
        for (const QVariant& item : value.toList()) {
            if (item.userType() != QMetaType::QString)
                r.kind = Reading::Typed; // QSettings decoded a typed item
            r.texts.append(item.toString());
        }
        if (r.kind == Reading::List)
            return r;
        break;
    default:
        r.kind = Reading::Typed;
    }
    r.keptAsText = value.userType() == qMetaTypeId<StoredText>();
    if (!r.keptAsText)
        r.typed = value;
    return r;
}

// Text as a C string literal would spell it, so that no key or value
// garbles the report.
QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar qc : text) {
        const ushort c = qc.unicode();
        if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\t')
            out += QLatin1String("\\t");
        else if (c == '\\' || c == '"')
            out += QLatin1String("\\") + qc;
        else if (c < 0x20 || c == 0x7f)
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        else if (c > 0x7f)
            out += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
        else
            out += qc;
    }
    return out + QLatin1Char('"');
}

QString quoted(const QStringList& texts)
{
    QStringList items;
    for (const QString& text : texts)
        items.append(quoted(text));
    return QLatin1Char('{') + items.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString describe(const Reading& r)
{
    switch (r.kind) {
    case Reading::Absent:
        return QStringLiteral("absent");
    case Reading::Text:
        return QStringLiteral("text ") + quoted(r.texts.value(0));
    case Reading::List:
        return QStringLiteral("list ") + quoted(r.texts);
    case Reading::Typed:
        break;
    }
    if (r.keptAsText)
        return QStringLiteral("typed, kept as text");
    return QStringLiteral("typed ") + QLatin1String(r.typed.isValid() ? r.typed.typeName() : "(invalid)");
}

// All a reader shows of a file: allKeys(), and for each key value() and contains().
struct View {
    QStringList keys;
    QMap<QString, Reading> readings;
};

template <typename Store> View viewOf(Store& store)
{
    View view;
    view.keys = store.allKeys();
    for (const QString& key : qAsConst(view.keys)) {
        // value("/apps") is value("apps"); a key of slashes alone is none.
        if (!normalisedSettingsKey(key).isEmpty())
            view.readings.insert(key, readingOf(store.contains(key), store.value(key)));
    }
    return view;
}

enum class Readers {
    // Where QSettings decodes a typed value, ours keeps its text undecoded (a
    // difference we keep: it reads as empty text, and is saved as it was).
    OursAndQSettings,
    QSettingsTwice, // typed values decoded the same
};

QString difference(const View& a, const View& b, Readers readers)
{
    if (a.keys != b.keys)
        return QStringLiteral("allKeys() %1 against %2").arg(quoted(a.keys), quoted(b.keys));
    for (auto it = a.readings.cbegin(); it != a.readings.cend(); ++it) {
        const Reading& x = it.value();
        const Reading& y = b.readings.value(it.key());
        bool same = x.kind == y.kind;
        if (same && x.kind == Reading::Typed)
            same = readers == Readers::OursAndQSettings || x.typed == y.typed;
        else if (same)
            same = x.texts == y.texts;
        if (!same)
            return QStringLiteral("key %1: %2 against %3").arg(quoted(it.key()), describe(x), describe(y));
    }
    return QString();
}

// A value as the file holds it, to compare values we do not decode.
QByteArray written(const QVariant& value)
{
    return writeSettingsText({ { QStringLiteral("k"), value } });
}

QString printable(const Case& c)
{
    QString text = QStringLiteral("file ") + quoted(QString::fromLatin1(c.text));
    for (const Edit& edit : c.edits) {
        text += edit.remove
            ? QStringLiteral("\n  remove %1").arg(quoted(edit.key))
            : QStringLiteral("\n  set %1 = %2").arg(quoted(edit.key), describe(readingOf(true, edit.value)));
    }
    return text;
}

// ---------------------------------------------------------------- one case

class Oracle {
public:
    Oracle()
        : dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/huelens-oracle-XXXXXX")
                                                        : QDir::tempPath() + QStringLiteral("/huelens-oracle-XXXXXX"))
    {
    }
    bool isValid() const { return dir.isValid(); }

    // Empty when we read, edit and save `c` as QSettings does, but for the
    // differences we keep; else the first difference.
    QString difference(const Case& c)
    {
        const Files files(*this);
        // QSettings on a copy of `bytes`. A byte-order mark is a mark (the
        // first difference we keep): QSettings makes it part of a first key
        // written before any section header, so it reads the file without the
        // mark, with UTF-8 values as the mark says.
        const auto qsettings = [&](const QByteArray& bytes) {
            const bool mark = bytes.startsWith(kByteOrderMark);
            auto settings = std::make_unique<QSettings>(
                files.write(mark ? bytes.mid(kByteOrderMark.size()) : bytes), QSettings::IniFormat);
            if (mark)
                settings->setIniCodec("UTF-8");
            settings->allKeys(); // every section read, as a save reads them
            return settings;
        };

        const QString oursPath = files.write(c.text);
        SettingsFile ours(oursPath);
        QString d = ::difference(viewOf(ours), viewOf(*qsettings(c.text)), Readers::OursAndQSettings);
        if (!d.isEmpty())
            return QStringLiteral("reading: ") + d;

        const auto theirs = qsettings(c.text);
        QVector<QString> removed;
        for (const Edit& edit : c.edits) {
            if (edit.remove) {
                ours.remove(edit.key);
                theirs->remove(edit.key);
                removed.append(normalisedSettingsKey(edit.key));
            } else {
                ours.setValue(edit.key, edit.value);
                theirs->setValue(edit.key, edit.value);
            }
        }
        const View edited = viewOf(*theirs);
        d = ::difference(viewOf(ours), edited, Readers::OursAndQSettings);
        if (!d.isEmpty())
            return QStringLiteral("after the edits: ") + d;

        if (!ours.sync())
            return QStringLiteral("our save failed: ") + ours.saveError();
        theirs->sync();
        // QSettings reads our file as it had the settings before its own save:
        // typed values kept, so decoded the same.
        const QByteArray saved = files.read(oursPath); // as it was, with no change to write
        d = ::difference(viewOf(*qsettings(saved)), edited, Readers::QSettingsTwice);
        if (!d.isEmpty())
            return QStringLiteral("QSettings reading our save: ") + d;
        // Keys no call reaches are kept, with their values, unless removed.
        const QSettings::SettingsMap before = readSettingsText(c.text), after = readSettingsText(saved);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            const QString& key = it.key();
            if (key == normalisedSettingsKey(key) && !key.isEmpty())
                continue;
            const auto isUnder = [&](const QString& r) { return key == r || key.startsWith(r + QLatin1Char('/')); };
            if (std::any_of(removed.cbegin(), removed.cend(), isUnder))
                continue;
            if (!after.contains(key) || written(after.value(key)) != written(it.value()))
                return QStringLiteral("our save lost the key %1 that no call reaches").arg(quoted(key));
        }

        // Its own save: where QSettings reads it as it had read the settings,
        // it reads ours the same (both are `edited`). Where it does not, its
        // save moved or dropped what it had read, in one of the ways its
        // writer is known to, and ours is the save that kept it.
        const View qtSaved = viewOf(*qsettings(files.read(theirs->fileName())));
        const QString qtChange = ::difference(qtSaved, edited, Readers::QSettingsTwice);
        if (qtChange.isEmpty())
            return QString();
        const QString fault = qtSaveFault(edited, c.text.startsWith(kByteOrderMark));
        if (fault.isEmpty())
            return QStringLiteral("QSettings' own save changed the settings in a way not known: ") + qtChange;
        ++qtSaveFaults[fault];
        return QString();
    }

    // Cases in which QSettings' own save did not read back as QSettings had
    // read the settings, by what its writer did.
    QMap<QString, int> qtSaveFaults;

private:
    // What QSettings' writer does to these settings, if anything: it puts a
    // key into the section named before its first "/", so one beginning with
    // "/" lands in [General] without it (in place of the key of that name, or
    // under it); it writes a "/" at the end of a key as a backslash, which
    // escapes the "=" and loses the line; it names a section "general" in
    // any spelling "[%General]"; and after a byte-order mark it writes UTF-8
    // values without one, which it then reads as Latin-1.
    static QString qtSaveFault(const View& settings, bool mark)
    {
        for (const QString& key : settings.keys) {
            const int slash = key.indexOf(QLatin1Char('/'));
            if (slash == 0)
                return QStringLiteral("a key beginning with \"/\" moved into [General]");
            if (slash > 0 && key.endsWith(QLatin1Char('/')) && key.size() > slash + 1)
                return QStringLiteral("a key ending with \"/\" dropped");
            if (slash > 0 && key.left(slash).compare(QLatin1String("general"), Qt::CaseInsensitive) == 0
                && key.left(slash) != QLatin1String("General"))
                return QStringLiteral("a section \"general\" renamed \"General\"");
        }
        return mark ? QStringLiteral("UTF-8 values written without the mark") : QString();
    }

    QTemporaryDir dir;
    int serial = 0;

    // Every file of a case under a name never used before: QSettings objects
    // on one path share what was read, and may not notice a new file of the
    // same size and time.
    class Files {
    public:
        explicit Files(Oracle& oracle)
            : oracle(oracle)
        {
        }
        ~Files()
        {
            for (const QString& path : qAsConst(paths))
                QFile::remove(path);
        }
        QString write(const QByteArray& bytes) const
        {
            const QString path = oracle.dir.filePath(QStringLiteral("%1.ini").arg(++oracle.serial));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(bytes);
            paths.append(path);
            return path;
        }
        QByteArray read(const QString& path) const
        {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }

    private:
        Oracle& oracle;
        mutable QStringList paths;
    };
};

// The smallest case that still fails: edits, lines and then bytes left out
// one at a time while the difference stays (any difference: a smaller file
// may show the same fault another way).
Case smallest(Case c, const std::function<bool(const Case&)>& fails)
{
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (int i = c.edits.size() - 1; i >= 0; --i) {
            Case t = c;
            t.edits.remove(i);
            if (fails(t)) {
                c = t;
                smaller = true;
            }
        }
        for (int pass = 0; pass < 2; ++pass) {
            // Lines first, then single bytes.
            for (int at = c.text.size() - 1; at >= 0; --at) {
                int from = at;
                if (pass == 0) {
                    if (c.text[at] != '\n' && at != c.text.size() - 1)
                        continue;
                    from = at > 0 ? c.text.lastIndexOf('\n', at - 1) + 1 : 0;
                }
                Case t = c;
                t.text.remove(from, at - from + 1);
                if (safeForQSettings(t.text) && fails(t)) {
                    c = t;
                    smaller = true;
                    at = std::min(from, c.text.size());
                }
            }
        }
    }
    return c;
}

} // namespace

class SettingsOracleTest : public QObject {
    Q_OBJECT
private slots:
    void readsEditsAndSavesAsQSettings()
    {
        Oracle oracle;
        QVERIFY(oracle.isValid());
        Generator generate(kSeed);
        for (int n = 0; n < kCases; ++n) {
            const Case c = generate.next();
            const QString d = oracle.difference(c);
            if (d.isEmpty())
                continue;
            const Case small = smallest(c, [&](const Case& t) { return !oracle.difference(t).isEmpty(); });
            QFAIL(qPrintable(QStringLiteral("case %1 differs from QSettings; the smallest case that still does:\n  "
                                            "%2\n  %3\n(the case as generated: %4)")
                                 .arg(n)
                                 .arg(printable(small), oracle.difference(small), d)));
        }
        for (auto it = oracle.qtSaveFaults.cbegin(); it != oracle.qtSaveFaults.cend(); ++it)
            qInfo("QSettings' own save, %d of %d cases: %s", it.value(), kCases, qPrintable(it.key()));
    }
};

QTEST_GUILESS_MAIN(SettingsOracleTest)
#include "test_settings_oracle.moc"
