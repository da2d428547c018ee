// huelens-render run as a user runs it: the pictures it writes and how it fails.

#include "scopes/StillScope.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>

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
        errorOutput = process.readAllStandardError();
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
        std::ofstream(path("frames.raw").toStdString()).write(stream.ptr<char>(), stream.total() * 4);
        std::ofstream(path("short.raw").toStdString())
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
        QTest::newRow("raw picture of none") << "--raw 84 none 150 frames.raw scope.png" << 2 << -1;
        QTest::newRow("raw ends inside a frame") << "--raw 84 waveform 150 short.raw scope.png" << 1 << -1;
        QTest::newRow("raw missing") << "--raw 84 waveform 150 missing.raw scope.png" << 1 << -1;
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
        const cv::Mat frame
            = arguments.startsWith("--raw") ? rawFrames()[1] : scopes::frameFromImage(testImage(), size);
        const cv::Mat expected = scopes::renderStillScope(frame, mode, size);
        QCOMPARE(written.size(), expected.size());
        QCOMPARE(cv::norm(written, expected, cv::NORM_INF), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestHuelensRender)
#include "test_huelens_render.moc"
