// Text from outside the program, shown by the real widgets on the scripted
// desktop: window titles, classes and executable paths, rule names, profile
// descriptions and file names, the desktop's messages. Each is shown as it
// is, never taken for markup. Qt takes text that looks like markup for rich
// text, and its text layout opens the file an <img> names on the GUI thread:
// a FIFO froze the program for good (capture stopped), /dev/zero took it to
// 2 GB. A web page's title was enough.
#include "capture/QClickLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolTip>
#include <QWindow>
#include <QtTest>

#include <lcms2.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

struct PlainTextTag;
template <> struct MainWindowProbe<PlainTextTag> {
    static QMainWindow* settingsWindow(MainWindow& w) { return w.settingsWindow.data(); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static void settingsNotSaved(MainWindow& w, const QString& reason) { w.settingsNotSaved(reason); }
    static QLabel* settingsNotice(MainWindow& w) { return w.settingsNotice.data(); }
    static void sample(MainWindow& w) { w.startSampleColor(); }
    static QWidget* samplePicture(MainWindow& w) { return w.sampleLabel.get(); }
};
using Probe = MainWindowProbe<PlainTextTag>;

namespace {

using namespace std::chrono_literals;

// Relative, so that it also fits where only a file name is shown (the
// executable's); Qt resolves it against the current folder, the sandbox's,
// where the FIFO is.
const QString kHostile = QStringLiteral("<img src=\"fifo\">");

QString fifoPath()
{
    return QDir::current().absoluteFilePath(QStringLiteral("fifo"));
}

// Opening the FIFO for reading blocks until someone opens its other end.
// The watch tries to, every few milliseconds, without blocking: that
// succeeds only while the FIFO is open for reading, that is while a widget
// is stuck opening it. The open then ends (reading nothing), and the test
// says which widget it was instead of hanging.
class FifoWatch {
public:
    FifoWatch()
        : path(QFile::encodeName(fifoPath()))
        , thread([this] { run(); })
    {
    }
    ~FifoWatch()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    bool blocked()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return opened;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, 10ms, [this] { return stopping; })) {
#ifdef Q_OS_UNIX
            const int end = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
            if (end >= 0) {
                ::close(end);
                opened = true;
            }
#endif
        }
    }

    const QByteArray path;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool opened = false;
    std::thread thread; // last: it starts at once
};

platform::MemoryDesktop& desktop()
{
    return platform::memoryDesktop();
}

// The window in front, with its class, title and executable path.
void windowInFront(const std::string& windowClass, const std::string& title, const std::string& executable)
{
    desktop().windows[7] = { { windowClass, title }, executable };
    desktop().foregroundWindow = 7;
}

// Written as the settings store reads them (quotes, new lines and all).
void storeSetting(const QString& key, const QString& value)
{
    QSettings settings(testSandbox().configFile(), QSettings::IniFormat);
    settings.setValue(key, value);
}

QString storedSetting(const QString& key)
{
    return QSettings(testSandbox().configFile(), QSettings::IniFormat).value(key).toString();
}

// An sRGB profile whose description is `description`.
std::vector<std::uint8_t> profileDescribedAs(const char* description)
{
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// Shown, laid out and painted, as the user would see it.
bool shownAndPainted(QWidget* widget)
{
    if (!widget)
        return false;
    widget->show();
    const bool exposed = QTest::qWaitForWindowExposed(widget->window());
    QCoreApplication::processEvents();
    widget->sizeHint();
    widget->window()->grab();
    widget->grab();
    return exposed;
}

QMainWindow* openSettings(MainWindow& w)
{
    w.settingsTrigger();
    QMainWindow* dialog = Probe::settingsWindow(w);
    shownAndPainted(dialog);
    return dialog;
}

template <class T = QLabel> T* child(QWidget* parent, const char* name)
{
    return parent ? parent->findChild<T*>(QLatin1String(name)) : nullptr;
}

const char* blockedMessage(const char* widget)
{
    static QByteArray message;
    message = QByteArray(widget) + " blocked: its text was taken for markup, and the <img> in it opened the FIFO";
    return message.constData();
}

} // namespace

class PlainTextTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> w;

    void startWindow()
    {
        w = std::make_unique<MainWindow>(nullptr, false, 0);
        QVERIFY(shownAndPainted(w.get()));
    }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_UNIX
        QFile::remove(fifoPath());
        QCOMPARE(::mkfifo(QFile::encodeName(fifoPath()).constData(), 0600), 0);
#endif
    }

    void init()
    {
        QFile::remove(testSandbox().configFile());
        desktop().reset(400, 300, cv::Scalar(0, 0, 255));
        desktop().profiles.clear();
    }

    void cleanup()
    {
        QToolTip::hideText();
        w.reset();
    }

    void cleanupTestCase()
    {
        QFile::remove(fifoPath());
    }

    // The Settings dialog's lines of the window in front: its class, its
    // title and its executable's file name, one hostile at a time.
    void theWindowInFrontIsShownAsItIs_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("shown");
        const QString title = QStringLiteral("Draft ") + kHostile + QStringLiteral(" - Mozilla Firefox");
        const QString windowClass = kHostile + QStringLiteral(".Navigator");
        QTest::newRow("title") << "titleLabel" << title;
        QTest::newRow("class") << "classLabel" << windowClass;
        QTest::newRow("executable") << "executableLabel" << kHostile;
    }

    void theWindowInFrontIsShownAsItIs()
    {
        QFETCH(QString, line);
        QFETCH(QString, shown);
        const bool title = line == QLatin1String("titleLabel");
        const bool windowClass = line == QLatin1String("classLabel");
        windowInFront(windowClass ? shown.toStdString() : "Navigator.firefox",
            title ? shown.toStdString() : "Welcome - Mozilla Firefox",
            line == QLatin1String("executableLabel") ? "/opt/tools/" + kHostile.toStdString() : "/usr/bin/firefox");
        FifoWatch watch;
        startWindow();
        QMainWindow* dialog = openSettings(*w);
        w->updateApplicationData();
        QLabel* label = child(dialog, qPrintable(line));
        QVERIFY(shownAndPainted(label));
        QVERIFY2(!watch.blocked(), blockedMessage(qPrintable(line)));
        QCOMPARE(label->text(), shown);
    }

    // A rule whose name looks like markup, recognised with no dialog open:
    // the application label, the window titles (where "[*]" would otherwise
    // be taken for the placeholder of a modified-document mark), the region
    // window, and the rule in the Settings dialog's rules box.
    void aRuleNameIsShownAsItIs()
    {
        const QString name = QStringLiteral("Draft ") + kHostile + QStringLiteral(" [*]");
        const QString rules = name + QStringLiteral(":editorclass");
        storeSetting(QStringLiteral("apps"), rules);
        windowInFront("editorclass", "Untitled", "/usr/bin/editor");
        {
            FifoWatch watch;
            startWindow();
            QVERIFY2(!watch.blocked(), blockedMessage("appLabel"));
        }
        QCOMPARE(child(w.get(), "appLabel")->text(), name);
        QCOMPARE(w->windowHandle()->title(), QStringLiteral("Korvant Huelens 1.0: ") + name);
        {
            FifoWatch watch;
            w->selectRegion();
            QVERIFY(shownAndPainted(Probe::regionWindow(*w)));
            QVERIFY2(!watch.blocked(), blockedMessage("the region window"));
        }
        QCOMPARE(Probe::regionWindow(*w)->windowHandle()->title(),
            QStringLiteral("Select region to capture for application: ") + name);
        Probe::regionWindow(*w)->close();
        {
            FifoWatch watch;
            QTextEdit* box = child<QTextEdit>(openSettings(*w), "appsEdit");
            QVERIFY(shownAndPainted(box));
            QVERIFY2(!watch.blocked(), blockedMessage("appsEdit"));
            QCOMPARE(box->toPlainText(), rules);
        }
    }

    // The profile line of the Settings dialog names the profile by its
    // description, or the file the user chose by its name.
    void theProfileIsShownAsItIs_data()
    {
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("description") << false;
        QTest::newRow("file name") << true;
    }

    void theProfileIsShownAsItIs()
    {
        QFETCH(bool, fromFile);
        const QString file = QStringLiteral("/nowhere/") + kHostile + QStringLiteral(".icc");
        if (fromFile)
            storeSetting(QStringLiteral("readings_profile_file"), file);
        else
            desktop().profiles[0] = profileDescribedAs("<img src=\"fifo\">");
        FifoWatch watch;
        startWindow();
        QLabel* status = child(openSettings(*w), "profileStatusLabel");
        QVERIFY(shownAndPainted(status));
        QVERIFY2(!watch.blocked(), blockedMessage("profileStatusLabel"));
        const QString shown = fromFile ? file : QLatin1Char('"') + kHostile + QLatin1Char('"');
        QVERIFY2(status->text().contains(shown), qPrintable(status->text()));
    }

    // What the desktop's screen-sharing portal says may carry its own error
    // text; it goes to the info overlay.
    void theDesktopsMessageIsShownAsItIs()
    {
        const std::string message = "The screen-sharing portal failed: " + kHostile.toStdString();
        desktop().access = { false, false, message, "" };
        FifoWatch watch;
        startWindow();
        w->startOrStop();
        QVERIFY(desktop().accessChanged);
        desktop().accessChanged();
        QLabel* info = child(w.get(), "infoLabel");
        QVERIFY(shownAndPainted(info));
        QVERIFY2(!watch.blocked(), blockedMessage("infoLabel"));
        QCOMPARE(info->text(), QString::fromStdString(message));
    }

    // Tool-tips are rich text whenever Qt's guess says so, whatever the
    // widget: the notice of settings that could not be saved says why, and
    // the reason names the file.
    void aToolTipShowsTheReasonAsItIs()
    {
        startWindow();
        const QString reason = QStringLiteral("cannot write /home/") + kHostile + QStringLiteral("/config.ini & more");
        Probe::settingsNotSaved(*w, reason);
        QLabel* notice = Probe::settingsNotice(*w);
        QVERIFY(shownAndPainted(notice));
        FifoWatch watch;
        QToolTip::showText(notice->mapToGlobal(QPoint(2, 2)), notice->toolTip(), notice);
        QWidget* tip = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits("QTipLabel") && widget->isVisible())
                tip = widget;
        QVERIFY(shownAndPainted(tip));
        QVERIFY2(!watch.blocked(), blockedMessage("the settings notice's tool-tip"));
        QTextDocument shown;
        shown.setHtml(notice->toolTip());
        QCOMPARE(shown.toPlainText(), QStringLiteral("Kept until Huelens ends: ") + reason);
    }

    // Every label of every window the program opens is plain text, and the
    // rules box takes no rich text: the guard against a label added without
    // it (an <img> naming /dev/zero needs no FIFO to take the program to
    // gigabytes).
    void everyLabelIsPlainText()
    {
        startWindow();
        openSettings(*w);
        w->selectRegion();
        QVERIFY(shownAndPainted(Probe::regionWindow(*w)));
        Probe::settingsNotSaved(*w, QStringLiteral("a reason"));
        Probe::sample(*w);
        QWidget* picture = Probe::samplePicture(*w);
        QVERIFY(picture);

        QList<QLabel*> labels = w->findChildren<QLabel*>();
        labels += picture->findChildren<QLabel*>();
        if (auto* pictureLabel = qobject_cast<QLabel*>(picture))
            labels << pictureLabel;
        QVERIFY(labels.size() > 20);
        for (const QLabel* label : qAsConst(labels)) {
            const QString name = QString::fromLatin1(label->metaObject()->className()) + QLatin1Char(' ')
                + label->objectName() + QStringLiteral(" \"") + label->text() + QLatin1Char('"');
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(name));
        }
        const QList<QTextEdit*> edits = w->findChildren<QTextEdit*>();
        QCOMPARE(edits.size(), 1);
        QVERIFY(!edits.first()->acceptRichText());
    }

    // The rules box was a rich-text editor: rules that looked like markup
    // were shown formatted, and OK wrote back the text as shown, on one
    // line. These three rules became "Web:Navigator:draft GIMP2:gimp
    // Dark:darktable", one rule: two were lost.
    void okWritesBackTheRulesAsShown()
    {
        const QString rules = QStringLiteral("Web:Navigator:<b>draft</b>\nGIMP2:gimp\nDark:darktable");
        storeSetting(QStringLiteral("apps"), rules);
        startWindow();
        auto* box = child<QTextEdit>(openSettings(*w), "appsEdit");
        QCOMPARE(box->toPlainText(), rules);
        QTest::mousePress(child<QPushButton>(Probe::settingsWindow(*w), "okButton"), Qt::LeftButton);
        QCOMPARE(storedSetting(QStringLiteral("apps")), rules);
    }
};

QTEST_MAIN(PlainTextTest)
#include "test_plain_text.moc"
