// huelens-render run as a user runs it: the pictures it writes and how it fails.

#include "scopes/StillScope.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray errorOutput;
};

Run render(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(HUELENS_RENDER), arguments);
    process.waitForFinished(120000);
    return Run { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardError() };
}

// A small picture with a colourful left half and grey steps on the right. B, G, R.
cv::Mat testImage()
{
    cv::Mat image(90, 160, CV_8UC3);
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x)
            image.at<cv::Vec3b>(y, x)
                = x < 80 ? cv::Vec3b(x * 3, y * 2, 255 - x * 3) : cv::Vec3b::all(static_cast<uchar>((x / 10) * 16));
    return image;
}

} // namespace

class TestHuelensRender : public QObject {
    Q_OBJECT

private slots:
    void init();
    void writesThePictureTheWindowShows_data();
    void writesThePictureTheWindowShows();
    void refusesMalformedCommandLines_data();
    void refusesMalformedCommandLines();
    void reportsInputsItCannotRead();
    void reportsOutputsItCannotWrite();

private:
    QStringList entries() const
    {
        return QDir(folder->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }
    QString path(const char* name) const { return folder->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> folder;
    QString input;
};

void TestHuelensRender::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    input = path("picture.png");
    QVERIFY(cv::imwrite(input.toStdString(), testImage()));
}

void TestHuelensRender::writesThePictureTheWindowShows_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("displayMode");
    QTest::addColumn<int>("size");
    QTest::newRow("vectorscope 400") << "vectorscope" << 0 << 400;
    QTest::newRow("waveform 150") << "waveform" << 1 << 150;
    QTest::newRow("parade 600") << "parade" << 2 << 600;
}

void TestHuelensRender::writesThePictureTheWindowShows()
{
    QFETCH(QString, mode);
    QFETCH(int, displayMode);
    QFETCH(int, size);
    const QString output = path("scope.png");
    const Run run = render({ mode, QString::number(size), input, output });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.errorOutput.isEmpty());

    cv::Mat written = cv::imread(output.toStdString(), cv::IMREAD_COLOR);
    QVERIFY(!written.empty());
    cv::cvtColor(written, written, cv::COLOR_BGR2RGB);
    // 160 x 90 scaled to `size` columns keeps the shape: 400 -> 225 rows.
    const cv::Mat frame = scopes::frameFromImage(testImage(), size);
    QCOMPARE(frame.cols, size);
    const cv::Mat expected = scopes::renderStillScope(frame, displayMode, size);
    QCOMPARE(written.size(), expected.size());
    QCOMPARE(cv::norm(written, expected, cv::NORM_INF), 0.0);
    QCOMPARE(entries(), QStringList({ QStringLiteral("picture.png"), QStringLiteral("scope.png") }));
}

void TestHuelensRender::refusesMalformedCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("unknown mode") << QStringList { "histogram", "400", "IN", "OUT" };
    QTest::newRow("size too small") << QStringList { "vectorscope", "149", "IN", "OUT" };
    QTest::newRow("size too large") << QStringList { "vectorscope", "601", "IN", "OUT" };
    QTest::newRow("size not a number") << QStringList { "waveform", "40x", "IN", "OUT" };
    QTest::newRow("size empty") << QStringList { "waveform", "", "IN", "OUT" };
    QTest::newRow("one argument too many") << QStringList { "parade", "400", "IN", "OUT", "more" };
}

void TestHuelensRender::refusesMalformedCommandLines()
{
    QFETCH(QStringList, arguments);
    arguments.replaceInStrings(QStringLiteral("IN"), input);
    arguments.replaceInStrings(QStringLiteral("OUT"), path("scope.png"));
    const Run run = render(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.errorOutput.startsWith("huelens-render: "));
    QCOMPARE(run.errorOutput.count('\n'), 1);
    QCOMPARE(entries(), QStringList { QStringLiteral("picture.png") });
}

void TestHuelensRender::reportsInputsItCannotRead()
{
    QFile text(path("notes.png"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a picture\n");
    text.close();

    // An output from an earlier run is left as it was.
    QFile earlier(path("scope.png"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();

    for (const QString& source : { path("missing.png"), path("notes.png"), folder->path() }) {
        const Run run = render({ QStringLiteral("vectorscope"), QStringLiteral("400"), source, path("scope.png") });
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errorOutput.startsWith("huelens-render: "));
        QCOMPARE(run.errorOutput.count('\n'), 1);
    }
    QFile kept(path("scope.png"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("earlier"));
    QCOMPARE(entries().size(), 3);
}

void TestHuelensRender::reportsOutputsItCannotWrite()
{
    QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("taken.png")));
    for (const QString& target : { path("no-such-folder/scope.png"), path("taken.png") }) {
        const Run run = render({ QStringLiteral("parade"), QStringLiteral("300"), input, target });
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errorOutput.startsWith("huelens-render: "));
        QCOMPARE(run.errorOutput.count('\n'), 1);
    }
    // Nothing written, no temporary file left over.
    QCOMPARE(entries(), QStringList({ QStringLiteral("picture.png"), QStringLiteral("taken.png") }));
    QVERIFY(QDir(path("taken.png")).isEmpty());
}

QTEST_GUILESS_MAIN(TestHuelensRender)
#include "test_huelens_render.moc"
