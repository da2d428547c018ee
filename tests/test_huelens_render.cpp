// huelens-render run as a user runs it: the pictures it writes and how it fails.

#include "scopes/HeldReference.h"
#include "scopes/StillScope.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A small picture with a colourful left half and grey steps on the right. B, G, R.
cv::Mat testImage()
{
    cv::Mat image(90, 160, CV_8UC3);
    image.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* at) {
        const int y = at[0], x = at[1];
        p = x < 80 ? cv::Vec3b(x * 3, y * 2, 255 - x * 3) : cv::Vec3b::all(static_cast<uchar>((x / 10) * 16));
    });
    return image;
}

// Two captured frames of 150 x 84, back to back: the test image and its negative.
std::vector<cv::Mat> rawFrames()
{
    const cv::Mat frame = scopes::frameFromImage(testImage(), 150);
    return { frame, cv::Scalar(255, 255, 255, 510) - frame };
}

uint32_t crc32(const QByteArray& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(uint32_t value)
{
    const char bytes[] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
    return QByteArray(bytes, 4);
}

// A black PNG of one bit per pixel: a few kilobytes of file for any size.
QByteArray blackPng(uint32_t width, uint32_t height)
{
    const auto chunk = [](const char* type, const QByteArray& data) {
        const QByteArray typed = QByteArray(type) + data;
        return bigEndian(static_cast<uint32_t>(data.size())) + typed + bigEndian(crc32(typed));
    };
    const QByteArray header = bigEndian(width) + bigEndian(height) + QByteArray("\x01\x00\x00\x00\x00", 5);
    const QByteArray rows(static_cast<int>(height * (1 + (width + 7) / 8)), '\0'); // filter 0, black
    const QByteArray zlib = qCompress(rows, 9).mid(4); // without Qt's length prefix
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", zlib) + chunk("IEND", {});
}

#ifdef Q_OS_UNIX

// The renderer as a child held to 1 GiB of address space (it needs about
// 250 MB to start), so that a run that would take gigabytes ends with a
// failed allocation instead of taking the machine. AddressSanitizer reserves
// terabytes of address space: a sanitized build is held by its resident
// size instead.
class LimitedProcess : public QProcess {
public:
    static constexpr rlim_t kAddressSpace = rlim_t(1) << 30;

    LimitedProcess()
    {
#if defined(__SANITIZE_ADDRESS__)
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":hard_rss_limit_mb=1024"));
        setProcessEnvironment(environment);
#endif
    }

protected:
    void setupChildProcess() override
    {
#if !defined(__SANITIZE_ADDRESS__)
        struct rlimit limit = {};
        limit.rlim_cur = limit.rlim_max = kAddressSpace;
        setrlimit(RLIMIT_AS, &limit);
#endif
    }
};

#endif

} // namespace

class TestHuelensRender : public QObject {
    Q_OBJECT

private:
    QString path(const QString& name) const { return folder->filePath(name); }
    QStringList entries() const { return QDir(folder->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
    int render(const QString& arguments, QByteArray& errorOutput) const
    {
        QProcess process;
        process.setWorkingDirectory(folder->path());
        process.start(QStringLiteral(HUELENS_RENDER), arguments.isEmpty() ? QStringList() : arguments.split(' '));
        process.waitForFinished(120000);
        // Windows ends the lines of a text stream with CR LF.
        errorOutput = process.readAllStandardError().replace("\r\n", "\n");
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    std::unique_ptr<QTemporaryDir> folder;

private slots:

    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(cv::imwrite(path("picture.png").toStdString(), testImage()));
        cv::Mat stream;
        cv::vconcat(rawFrames(), stream);
        std::ofstream(path("frames.raw").toStdString(), std::ios::binary).write(stream.ptr<char>(), stream.total() * 4);
        std::ofstream(path("short.raw").toStdString(), std::ios::binary)
            .write(stream.ptr<char>(), 150 * 84 * 4 + 100); // a frame and a bit
        std::ofstream(path("notes.png").toStdString()) << "not a picture\n";
        QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("taken.png")));
    }

    void rendersOrFailsWithOneLine_data()
    {
        // Status 0 and the picture of display mode `mode` (-1: none); 2 for a
        // malformed command line, 1 for what cannot be read or written.
        QTest::addColumn<QString>("arguments"); // split at spaces
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("mode");
        QTest::newRow("vectorscope 400") << "vectorscope 400 picture.png scope.png" << 0 << 0;
        QTest::newRow("waveform 150") << "waveform 150 picture.png scope.png" << 0 << 1;
        QTest::newRow("parade 600") << "parade 600 picture.png scope.png" << 0 << 2;
        // A stream of frames: the picture of the last one.
        QTest::newRow("raw vectorscope") << "--raw 84 vectorscope 150 frames.raw scope.png" << 0 << 0;
        QTest::newRow("raw waveform") << "--raw 84 waveform 150 frames.raw scope.png" << 0 << 1;
        QTest::newRow("raw, reading only") << "--raw 84 none 150 frames.raw" << 0 << -1;
        QTest::newRow("nothing") << "" << 2 << -1;
        QTest::newRow("unknown mode") << "histogram 400 picture.png scope.png" << 2 << -1;
        QTest::newRow("size too small") << "vectorscope 149 picture.png scope.png" << 2 << -1;
        QTest::newRow("size too large") << "vectorscope 601 picture.png scope.png" << 2 << -1;
        QTest::newRow("size not a number") << "waveform 40x picture.png scope.png" << 2 << -1;
        QTest::newRow("one argument too many") << "parade 400 picture.png scope.png more" << 2 << -1;
        QTest::newRow("missing input") << "vectorscope 400 missing.png scope.png" << 1 << -1;
        QTest::newRow("text as input") << "vectorscope 400 notes.png scope.png" << 1 << -1;
        QTest::newRow("no such folder") << "parade 300 picture.png no-such-folder/scope.png" << 1 << -1;
        QTest::newRow("folder as output") << "parade 300 picture.png taken.png" << 1 << -1;
        QTest::newRow("raw rows out of range") << "--raw 0 parade 150 frames.raw scope.png" << 2 << -1;
        QTest::newRow("raw rows over 4 x size") << "--raw 601 parade 150 frames.raw scope.png" << 2 << -1;
        QTest::newRow("raw picture of none") << "--raw 84 none 150 frames.raw scope.png" << 2 << -1;
        QTest::newRow("raw ends inside a frame") << "--raw 84 waveform 150 short.raw scope.png" << 1 << -1;
        QTest::newRow("raw missing") << "--raw 84 waveform 150 missing.raw scope.png" << 1 << -1;
        // The vectorscope's scale, in front of either form.
        QTest::newRow("zoom 1") << "--zoom 1 vectorscope 400 picture.png scope.png" << 0 << 0;
        QTest::newRow("zoom 2") << "--zoom 2 vectorscope 400 picture.png scope.png" << 0 << 0;
        QTest::newRow("zoom 4 raw") << "--zoom 4 --raw 84 vectorscope 150 frames.raw scope.png" << 0 << 0;
        QTest::newRow("zoom 3") << "--zoom 3 vectorscope 400 picture.png scope.png" << 2 << -1;
        QTest::newRow("zoom without a scale") << "vectorscope 400 picture.png scope.png --zoom" << 2 << -1;
    }

    void rendersOrFailsWithOneLine()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(int, mode);
        // An output from an earlier run is replaced only by a new picture, and
        // no temporary file is left over.
        std::ofstream(path("scope.png").toStdString()) << "earlier";
        const QStringList before = entries();
        QByteArray errorOutput;
        QCOMPARE(render(arguments, errorOutput), status);
        QVERIFY2(status == 0 ? errorOutput.isEmpty()
                             : errorOutput.startsWith("huelens-render: ") && errorOutput.count('\n') == 1,
            errorOutput.constData());
        QCOMPARE(entries(), before);
        if (mode < 0) {
            QCOMPARE(QFileInfo(path("scope.png")).size(), qint64(7)); // still "earlier"
            return;
        }
        cv::Mat written = cv::imread(path("scope.png").toStdString(), cv::IMREAD_COLOR);
        cv::cvtColor(written, written, cv::COLOR_BGR2RGB);
        // The image is scaled to `size` columns keeping its shape, as a capture is.
        const int size = arguments.section(' ', -3, -3).toInt();
        const cv::Mat frame = arguments.contains("--raw") ? rawFrames()[1] : scopes::frameFromImage(testImage(), size);
        const int zoom = arguments.startsWith("--zoom") ? arguments.section(' ', 1, 1).toInt() : 1;
        const cv::Mat expected = scopes::renderStillScope(frame, mode, size, zoom);
        if (zoom != 1) // a magnified picture is another picture
            QVERIFY(cv::norm(expected, scopes::renderStillScope(frame, mode, size), cv::NORM_INF) > 0);
        QCOMPARE(written.size(), expected.size());
        QCOMPARE(cv::norm(written, expected, cv::NORM_INF), 0.0);
    }

#ifdef Q_OS_UNIX
    // --profile took whatever the path held: a folder aborted the renderer
    // (an uncaught std::ios_base::failure, status 134), a FIFO kept it
    // waiting for a writer for ever, /dev/zero and a sparse file of 2 GiB
    // were read until the memory ran out (past 4 GB), and so was
    // /proc/self/pagemap, a "regular" file that says it is empty. Now the
    // window's rules hold: a regular file of at most 64 MiB, opened without
    // waiting, never more than the limit and a byte read; anything else ends
    // the run with status 1, one line saying why, and no picture. The image
    // to draw ("input: ...") is read by the same rules: a FIFO there kept the
    // renderer waiting too.
    void profilesThatAreNoProfileFiles_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("why");
        QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("is not a file");
        QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("is not a file");
        QTest::newRow("/dev/zero") << QStringLiteral("/dev/zero") << QStringLiteral("is not a file");
        QTest::newRow("sparse 2 GiB") << QStringLiteral("huge.icc") << QStringLiteral("is larger than 64 MiB");
        QTest::newRow("just over the limit") << QStringLiteral("over.icc") << QStringLiteral("is larger than 64 MiB");
        QTest::newRow("/proc/self/pagemap")
            << QStringLiteral("/proc/self/pagemap") << QStringLiteral("is larger than 64 MiB");
        QTest::newRow("missing") << QStringLiteral("missing.icc")
                                 << QStringLiteral("cannot read the profile 'missing.icc'");
        for (const char* input : { "folder", "fifo", "/dev/zero", "huge.icc" })
            QTest::newRow(qPrintable(QStringLiteral("input: ") + QLatin1String(input)))
                << QString::fromLatin1(input) << QStringLiteral("cannot read an image from");
    }

    void profilesThatAreNoProfileFiles()
    {
        QFETCH(QString, profile);
        QFETCH(QString, why);
        QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("folder")));
        QCOMPARE(mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
        QFile huge(path("huge.icc"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(2) << 30));
        huge.close();
        QFile over(path("over.icc"));
        QVERIFY(over.open(QIODevice::WriteOnly) && over.resize((qint64(64) << 20) + 1));
        over.close();
        const QStringList before = entries();

        const bool asInput = QByteArray(QTest::currentDataTag()).startsWith("input: ");
        LimitedProcess process;
        process.setWorkingDirectory(folder->path());
        process.start(QStringLiteral(HUELENS_RENDER),
            asInput ? QStringList { QStringLiteral("vectorscope"), QStringLiteral("200"), profile,
                          QStringLiteral("scope.png") }
                    : QStringList { QStringLiteral("--profile"), profile, QStringLiteral("vectorscope"),
                          QStringLiteral("200"), QStringLiteral("picture.png"), QStringLiteral("scope.png") });
        QVERIFY(process.waitForStarted());
        if (!process.waitForFinished(30000)) {
            // Blocked on the FIFO: a writer lets the open go on, so the run ends.
            const int writer = ::open(QFile::encodeName(path("fifo")).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                (void)!::write(writer, "x", 1);
                ::close(writer);
            }
            process.waitForFinished(30000);
            QFAIL("the renderer waited for 30 s");
        }
        const QByteArray errorOutput = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(errorOutput.startsWith("huelens-render: ") && errorOutput.count('\n') == 1
                && errorOutput.contains(why.toUtf8()),
            errorOutput.constData());
        QCOMPARE(entries(), before);
    }
#endif

    // A 160-byte strip of 1 x 20000 pixels at size 600 asked for a frame of
    // 12 million rows and ended in an uncaught OpenCV exception (abort); a
    // picture claiming 144 million pixels was decoded whole (432 MB), and
    // one of 30000 x 30000 took 6 GB.
    void picturesBeyondTheLimits()
    {
        const cv::Mat strip(20000, 1, CV_8UC3, cv::Scalar(40, 200, 90));
        QVERIFY(cv::imwrite(path("strip.png").toStdString(), strip));
        QFile bomb(path("bomb.png"));
        QVERIFY(bomb.open(QIODevice::WriteOnly) && bomb.write(blackPng(12000, 12000)) > 0);
        bomb.close();

        QByteArray errorOutput;
        QCOMPARE(render("vectorscope 600 strip.png scope.png", errorOutput), 0);
        QVERIFY2(errorOutput.isEmpty(), errorOutput.constData());
        const cv::Mat frame = scopes::frameFromImage(strip, 600); // squeezed as a capture is
        QCOMPARE(frame.size(), cv::Size(600, 2400));
        cv::Mat written = cv::imread(path("scope.png").toStdString(), cv::IMREAD_COLOR);
        cv::cvtColor(written, written, cv::COLOR_BGR2RGB);
        QCOMPARE(cv::norm(written, scopes::renderStillScope(frame, 0, 600), cv::NORM_INF), 0.0);

        QCOMPARE(render("waveform 400 bomb.png bomb-scope.png", errorOutput), 1);
        QCOMPARE(errorOutput, QByteArray("huelens-render: cannot read an image from 'bomb.png'\n"));
        QVERIFY(!QFile::exists(path("bomb-scope.png")));
    }

    // --reference IMAGE: the input's scope with IMAGE's held under it, as
    // the window draws a held reference, at the same size and scale. A
    // reference that cannot be read ends the run with status 1, one line
    // saying why and no picture; a malformed option with status 2.
    void heldReference_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // the one line on failure
        QTest::newRow("vectorscope") << "--reference pale.png vectorscope 400 picture.png scope.png" << 0 << "";
        QTest::newRow("magnified") << "--zoom 2 vectorscope 300 picture.png scope.png --reference pale.png" << 0 << "";
        QTest::newRow("parade") << "parade 400 picture.png scope.png --reference pale.png" << 0 << "";
        QTest::newRow("missing")
            << "--reference missing.png vectorscope 400 picture.png scope.png" << 1
            << "huelens-render: cannot hold 'missing.png' as the reference: there is no file there\n";
        QTest::newRow("folder")
            << "--reference taken.png vectorscope 400 picture.png scope.png" << 1
            << "huelens-render: cannot hold 'taken.png' as the reference: it is not a file (a folder, a device or a "
               "pipe)\n";
        QTest::newRow("text") << "--reference notes.png waveform 400 picture.png scope.png" << 1
                              << "huelens-render: cannot hold 'notes.png' as the reference: it is not a picture that "
                                 "can be read\n";
        QTest::newRow("too many pixels")
            << "--reference bomb.png waveform 400 picture.png scope.png" << 1
            << "huelens-render: cannot hold 'bomb.png' as the reference: it holds more than 134 million pixels\n";
        QTest::newRow("no image") << "vectorscope 400 picture.png scope.png --reference" << 2
                                  << "huelens-render: --reference takes one IMAGE, once\n";
        QTest::newRow("twice") << "--reference pale.png --reference pale.png vectorscope 400 picture.png scope.png" << 2
                               << "huelens-render: --reference takes one IMAGE, once\n";
        QTest::newRow("with --raw") << "--reference pale.png --raw 84 vectorscope 150 frames.raw scope.png" << 2
                                    << "huelens-render: --reference draws one picture; it does not go with --raw\n";
    }

    void heldReference()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const cv::Mat pale(60, 80, CV_8UC3, cv::Scalar(200, 255, 200)); // a pale green
        QVERIFY(cv::imwrite(path("pale.png").toStdString(), pale));
        QFile bomb(path("bomb.png"));
        QVERIFY(bomb.open(QIODevice::WriteOnly) && bomb.write(blackPng(12000, 12000)) > 0);
        bomb.close();
        const QStringList before = entries();
        QByteArray errorOutput;
        QCOMPARE(render(arguments, errorOutput), status);
        QCOMPARE(QString::fromUtf8(errorOutput), message);
        if (status != 0) {
            QCOMPARE(entries(), before);
            return;
        }
        cv::Mat written = cv::imread(path("scope.png").toStdString(), cv::IMREAD_COLOR);
        cv::cvtColor(written, written, cv::COLOR_BGR2RGB);
        const QStringList words = arguments.split(' ');
        const int at = words.indexOf(QRegularExpression(QStringLiteral("vectorscope|parade")));
        const int mode = words[at] == QLatin1String("parade") ? 2 : 0;
        const int size = words[at + 1].toInt();
        const int zoom = words.contains(QStringLiteral("--zoom")) ? 2 : 1;
        cv::Mat expected = scopes::renderStillScope(scopes::frameFromImage(testImage(), size), mode, size, zoom);
        const cv::Mat plain = expected.clone();
        scopes::drawReference(expected, scopes::referenceLayer(scopes::frameFromImage(pale, size), mode, size, zoom));
        QVERIFY(cv::norm(expected, plain, cv::NORM_INF) > 0); // the reference shows
        QCOMPARE(written.size(), expected.size());
        QCOMPARE(cv::norm(written, expected, cv::NORM_INF), 0.0);
    }

};

QTEST_GUILESS_MAIN(TestHuelensRender)
#include "test_huelens_render.moc"
