// The fast scope paths held to the plain arithmetic, byte for byte: every
// colour a pixel can have, the brightening of every wheel byte under cells
// across the whole range of values, OpenCV's smoothing and stretching
// repeated bit for bit, and whole pictures of photographs, noise and
// frames holding every byte value at the smallest, the default and the
// largest window size. Every code path this processor runs is checked
// (512-bit, 256-bit and plain).

#include "scopes/FloatReplicas.h"
#include "scopes/FrameSum.h"
#include "scopes/StillScope.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/VectorscopePlot.h"
#include "scopes/WaveformMath.h"

#include <QFileInfo>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cfloat>
#include <cstring>

namespace {

const QString kPhotoFolder = QStringLiteral("/usr/share/doc/opencv-doc/examples/data");

QStringList photographs()
{
    QStringList found;
    for (const char* name : { "baboon.jpg", "fruits.jpg", "HappyFish.jpg", "orange.jpg", "building.jpg" }) {
        const QString path = kPhotoFolder + QLatin1Char('/') + QLatin1String(name);
        if (QFileInfo::exists(path))
            found << path;
    }
    return found;
}

double radiusOf(int size)
{
    return (size / 2) * 0.75;
}

// What the plain arithmetic does with one pixel of H, S, V: its cell, or -1.
int plainCell(const cv::Vec3f& hsv, int size)
{
    if (!scopes::countsOnScope(hsv[1], hsv[2]))
        return -1;
    const cv::Point p = scopes::plotPoint(size / 2, hsv[0] * scopes::kDegreesToRadians, hsv[1] * radiusOf(size));
    if (p.x < 0 || p.y < 0 || p.x >= size || p.y >= size)
        return -1;
    return p.y * size + p.x;
}

// Flat patches over noise, with a dark band around the counting thresholds.
cv::Mat patchyFrame(int cols, int rows, uint64 seed)
{
    cv::RNG rng(seed);
    cv::Mat frame(rows, cols, CV_8UC4);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    for (int i = 0; i < 12; ++i) {
        const cv::Rect patch(
            rng.uniform(0, cols - 10), rng.uniform(0, rows - 10), rng.uniform(5, 80), rng.uniform(5, 60));
        frame(patch & cv::Rect(0, 0, cols, rows))
            .setTo(cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256), 255));
    }
    rng.fill(frame(cv::Rect(0, rows - 8, cols, 8)), cv::RNG::UNIFORM, 0, 30);
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    return frame;
}

// Each channel runs through all 256 values in every row and column, in
// different orders, so every byte value meets many others.
cv::Mat everyByteFrame(int cols, int rows)
{
    cv::Mat frame(rows, cols, CV_8UC4);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            frame.at<cv::Vec4b>(y, x) = cv::Vec4b(
                static_cast<uchar>(x + y), static_cast<uchar>(3 * x + 7 * y), static_cast<uchar>(x * y + 11 * x), 255);
    return frame;
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// A source frame by name: a photograph's path, or one of the made ones.
cv::Mat sourceFrame(const QString& source, int size)
{
    if (source == QLatin1String("noise"))
        return patchyFrame(size, size * 9 / 16 + 1, 7);
    if (source == QLatin1String("every byte"))
        return everyByteFrame(size, 256);
    if (source == QLatin1String("black"))
        return cv::Mat(90, size, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    if (source == QLatin1String("grey"))
        return cv::Mat(90, size, CV_8UC4, cv::Scalar(128, 128, 128, 255));
    if (source == QLatin1String("red"))
        return cv::Mat(90, size, CV_8UC4, cv::Scalar(0, 0, 255, 255));
    if (source == QLatin1String("dark"))
        return cv::Mat(100, size, CV_8UC4, cv::Scalar(2, 1, 3, 255)) + patchyFrame(size, 100, 3) / 12;
    return scopes::frameFromImage(cv::imread(source.toStdString()), size);
}

void addSources(const QList<int>& sizes)
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("size");
    QStringList sources = photographs();
    sources << QStringLiteral("noise") << QStringLiteral("every byte") << QStringLiteral("black")
            << QStringLiteral("grey") << QStringLiteral("red") << QStringLiteral("dark");
    for (const QString& source : sources)
        for (int size : sizes)
            QTest::addRow("%s %d", qPrintable(QFileInfo(source).fileName()), size) << source << size;
}

} // namespace

class TestFastScopes : public QObject {
    Q_OBJECT

private slots:
    void placementAgreesWithThePlainWayForEveryColour_data();
    void placementAgreesWithThePlainWayForEveryColour();
    void brighteningAgreesWithThePlainWayOverTheWholeRange();
    void smoothingRepeatsOpenCvBitForBit_data();
    void smoothingRepeatsOpenCvBitForBit();
    void stretchingAndNormalisingRepeatOpenCv();
    void onePixelsColourIsTheWholeFramesColour();
    void vectorscopeEqualsThePlainPlot_data();
    void vectorscopeEqualsThePlainPlot();
    void waveformAndParadeEqualThePlainPictures_data();
    void waveformAndParadeEqualThePlainPictures();
    void byteSumWrapsAsA32BitAccumulator();
};

void TestFastScopes::placementAgreesWithThePlainWayForEveryColour_data()
{
    QTest::addColumn<int>("size");
    // The smallest window, the default, and the largest, whose radius makes
    // the largest errors.
    QTest::newRow("150") << 150;
    QTest::newRow("400") << 400;
    QTest::newRow("600") << 600;
}

void TestFastScopes::placementAgreesWithThePlainWayForEveryColour()
{
    // Every one of the 2^24 colours, in both of OpenCV's conversion paths: its
    // vector code (rows of 16) and its scalar code (rows of 1), which can
    // differ in a hue's last bit. A placed pixel must land on the plain cell
    // in both; "unsure" sends it the exact way, which is the plain way.
    QFETCH(int, size);
    constexpr int kChunk = 1 << 20;
    std::vector<std::uint32_t> pixels(kChunk);
    std::vector<int> cells(kChunk);
    cv::Mat rgbBytes, rgbFloat, hsvVector, hsvScalar;
    long unsure = 0;
    for (int chunk = 0; chunk < (1 << 24) / kChunk; ++chunk) {
        for (int i = 0; i < kChunk; ++i)
            pixels[i] = 0xff000000u | static_cast<std::uint32_t>(chunk * kChunk + i);
        const cv::Mat frame(kChunk / 16, 16, CV_8UC4, pixels.data());
        scopes::frameToHsv(frame, rgbBytes, rgbFloat, hsvVector);
        scopes::frameToHsv(frame.reshape(4, kChunk), rgbBytes, rgbFloat, hsvScalar);
        const auto* vectorHsv = hsvVector.ptr<cv::Vec3f>();
        const auto* scalarHsv = hsvScalar.ptr<cv::Vec3f>();
        std::vector<int> plainVector(kChunk), plainScalar(kChunk);
        for (int i = 0; i < kChunk; ++i) {
            plainVector[i] = plainCell(vectorHsv[i], size);
            plainScalar[i] = vectorHsv[i] == scalarHsv[i] ? plainVector[i] : plainCell(scalarHsv[i], size);
        }
        for (int width : scopes::vectorWidths()) {
            scopes::placeColours(pixels.data(), kChunk, size, radiusOf(size), cells.data(), width);
            for (int i = 0; i < kChunk; ++i) {
                if (cells[i] == -2) {
                    ++unsure;
                    continue;
                }
                if (cells[i] != plainVector[i] || cells[i] != plainScalar[i])
                    QFAIL(qPrintable(QStringLiteral("colour #%1 (code path %2): cell %3, plain %4 / %5")
                                         .arg(pixels[i] & 0xffffff, 6, 16, QLatin1Char('0'))
                                         .arg(width)
                                         .arg(cells[i])
                                         .arg(plainVector[i])
                                         .arg(plainScalar[i])));
            }
        }
    }
    // The guard sends only the colours near a cell's edge the exact way, not everything.
    QVERIFY2(unsure < (1L << 24) * static_cast<long>(scopes::vectorWidths().size()) / 50,
        qPrintable(QString::number(unsure)));
}

void TestFastScopes::brighteningAgreesWithThePlainWayOverTheWholeRange()
{
    // Cells from 0 through 1, every 2048th float among them, and every float
    // around a = 2 c^0.3 = 1, where bytes turn white; under each, every wheel
    // byte value. The plain way: a = 2 powf(c, 0.3f), k = max(0, 1 - a) in
    // double, byte = trunc(255 - (255 - v) k).
    std::vector<float> values { 0.0f, FLT_TRUE_MIN, 1e-30f, 4e-11f, 5e-11f, 6e-11f, 1.0f, 1.0000001f };
    std::uint32_t bits;
    float f = 1e-12f;
    std::memcpy(&bits, &f, 4);
    for (; f <= 1.0f; bits += 2048, std::memcpy(&f, &bits, 4))
        values.push_back(f);
    const float white = std::pow(0.5f, 1.0f / 0.3f);
    for (f = white * 0.999f; f < white * 1.001f; f = std::nextafter(f, 2.0f))
        values.push_back(f);

    constexpr int kCells = 86; // 258 bytes: every value 0 .. 255 under each cell value
    std::vector<uchar> wheel(kCells * 3), out(kCells * 3);
    for (int i = 0; i < kCells * 3; ++i)
        wheel[i] = static_cast<uchar>(i);
    std::vector<float> cells(kCells);
    std::vector<uchar> plain(256);
    for (float c : values) {
        const float a = 2.0f * std::pow(c, 0.3f);
        const double k = std::max(0.0, 1.0 - static_cast<double>(a));
        for (int v = 0; v < 256; ++v)
            plain[v] = static_cast<uchar>(static_cast<int>(255.0 - (255 - v) * k));
        std::fill(cells.begin(), cells.end(), c);
        for (int width : scopes::vectorWidths()) {
            scopes::liftRow(cells.data(), wheel.data(), out.data(), kCells, width);
            for (int i = 0; i < kCells * 3; ++i)
                if (out[i] != plain[wheel[i]])
                    QFAIL(qPrintable(QStringLiteral("cell %1, wheel byte %2, code path %3: %4, plain %5")
                                         .arg(static_cast<double>(c), 0, 'g', 9)
                                         .arg(wheel[i])
                                         .arg(width)
                                         .arg(out[i])
                                         .arg(plain[wheel[i]])));
        }
    }
}

void TestFastScopes::smoothingRepeatsOpenCvBitForBit_data()
{
    QTest::addColumn<int>("taps");
    QTest::addColumn<int>("width");
    // Vectorscope plots (3 taps) and Waveform and Parade traces (3 and 5),
    // with widths whose ends fall on and off OpenCV's vector lengths.
    for (int taps : { 3, 5 })
        for (int width : { 50, 133, 150, 151, 199, 200, 266, 400, 437, 599, 600 })
            QTest::addRow("%d taps, %d wide", taps, width) << taps << width;
}

void TestFastScopes::smoothingRepeatsOpenCvBitForBit()
{
    QFETCH(int, taps);
    QFETCH(int, width);
    const scopes::SmoothingOrder& order = scopes::gaussianOrder(taps, width);
    if (!order.known)
        QSKIP("this OpenCV orders its sums in a way the fast path does not repeat; it calls OpenCV itself");
    cv::RNG rng(static_cast<uint64>(taps * 1000 + width));
    for (int round = 0; round < 3; ++round) {
        cv::Mat picture(97, width, CV_32F);
        rng.fill(picture, cv::RNG::UNIFORM, 0.0, round == 0 ? 1.0 : 300.0);
        if (round == 2) // sparse, as plots are
            for (int y = 0; y < picture.rows; ++y)
                for (int x = 0; x < width; ++x)
                    if (rng.uniform(0, 5) != 0)
                        picture.at<float>(y, x) = 0.0f;
        cv::Mat expected, smoothed, rowPass;
        std::vector<float> padded;
        cv::GaussianBlur(picture, expected, cv::Size(taps, taps), 1.0, 0, cv::BORDER_DEFAULT);
        scopes::smoothPicture(order, picture, smoothed, rowPass, padded);
        QCOMPARE(cv::countNonZero(smoothed != expected), 0);
    }
}

void TestFastScopes::stretchingAndNormalisingRepeatOpenCv()
{
    // The level counts of a photograph, stretched from 128 rows to every
    // picture height the window sizes give, then normalised.
    const cv::Mat frame = sourceFrame(photographs().value(0, QStringLiteral("noise")), 400);
    cv::Mat rgbBytes, rgbFloat;
    scopes::frameToRgbFloat(frame, rgbBytes, rgbFloat);
    for (int size : { 150, 151, 300, 400, 599, 600 }) {
        for (bool parade : { false, true }) {
            const int width = scopes::traceWidth(size, parade);
            const int height = scopes::waveformHeight(size);
            scopes::ChannelMats counts;
            scopes::accumulateLevels(rgbFloat, width, counts);
            const std::vector<scopes::RowBlend>* blends = scopes::linearRowBlends(width, scopes::kLevels, height);
            if (!blends)
                QSKIP("this OpenCV stretches in a way the fast path does not repeat; it calls OpenCV itself");
            cv::Mat expected;
            cv::resize(counts[scopes::Red], expected, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
            cv::Mat stretched(height, width, CV_32F);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const scopes::RowBlend& b = (*blends)[y];
                    stretched.at<float>(y, x) = counts[scopes::Red].at<float>(b.from0, x) * b.b0
                        + counts[scopes::Red].at<float>(b.from1, x) * b.b1;
                }
            QCOMPARE(cv::countNonZero(stretched != expected), 0);

            QVERIFY(scopes::normalizeScalesOnly());
            cv::Mat normalised;
            cv::normalize(expected, normalised, 0, 1, cv::NORM_MINMAX);
            double largest = 0;
            cv::minMaxLoc(expected, nullptr, &largest);
            const float scale = scopes::normalizeScale(static_cast<float>(largest));
            QCOMPARE(cv::countNonZero(expected * scale != normalised), 0);
        }
    }
}

void TestFastScopes::onePixelsColourIsTheWholeFramesColour()
{
    // The pointer marker reads one pixel's hue and saturation without
    // converting the frame; OpenCV converts a row's last (width mod 8 or 16)
    // pixels with other code, so every column of odd widths is checked.
    for (int width : { 150, 151, 157, 400, 437, 600 }) {
        const cv::Mat frame = patchyFrame(width, 12, static_cast<uint64>(width));
        cv::Mat rgbBytes, rgbFloat, hsv;
        scopes::frameToHsv(frame, rgbBytes, rgbFloat, hsv);
        for (int y = 0; y < frame.rows; ++y)
            for (int x = 0; x < width; ++x)
                if (scopes::hsvOfPixel(frame, x, y) != hsv.at<cv::Vec3f>(y, x))
                    QFAIL(qPrintable(QStringLiteral("width %1, pixel (%2, %3)").arg(width).arg(x).arg(y)));
    }
}

void TestFastScopes::vectorscopeEqualsThePlainPlot_data()
{
    addSources({ 150, 151, 400, 599, 600 });
}

void TestFastScopes::vectorscopeEqualsThePlainPlot()
{
    QFETCH(QString, source);
    QFETCH(int, size);
    const cv::Mat frame = sourceFrame(source, size);
    const double radius = radiusOf(size);
    cv::Mat wheel;
    scopes::renderColorWheel(wheel, size, size, radius);
    scopes::VectorscopePlotter plotter;
    cv::Mat scope;
    // Through buffers that served another frame of another size first.
    plotter.plot(patchyFrame(size + 3, 40, 1), wheel, radius, scope);
    plotter.plot(frame, wheel, radius, scope);
    QVERIFY2(!plotter.usedPlainPath(), "the fast path was not taken");
    cv::Mat hsv;
    QVERIFY(samePicture(scope, scopes::reference::vectorscopePlot(frame, wheel, radius, hsv)));
}

void TestFastScopes::waveformAndParadeEqualThePlainPictures_data()
{
    addSources({ 150, 151, 400, 599, 600 });
}

void TestFastScopes::waveformAndParadeEqualThePlainPictures()
{
    QFETCH(QString, source);
    QFETCH(int, size);
    const cv::Mat frame = sourceFrame(source, size);
    scopes::WaveformRenderer renderer;
    cv::Mat scope;
    for (bool parade : { false, true }) {
        renderer.render(patchyFrame(size - 1, 30, 2), size - 1, !parade, scope);
        renderer.render(frame, size, parade, scope);
        QVERIFY2(!renderer.usedPlainPath(), "the fast path was not taken");
        QVERIFY2(samePicture(scope, scopes::reference::waveformPicture(frame, size, parade)),
            parade ? "parade" : "waveform");
    }
}

void TestFastScopes::byteSumWrapsAsA32BitAccumulator()
{
    // Every byte value four times: 4 x (0 + 1 + ... + 255) = 130560.
    cv::Mat frame(16, 16, CV_8UC4);
    for (int i = 0; i < 256 * 4; ++i)
        frame.data[i] = static_cast<uchar>(i / 4);
    QCOMPARE(scopes::frameByteSum(frame), 130560u);
    // 4210753 white pixels: 255 x 16843012 = 4294968060, which wraps to 764.
    const cv::Mat white(1, 4210753, CV_8UC4, cv::Scalar::all(255));
    QCOMPARE(scopes::frameByteSum(white), 764u);
    // A region of a larger picture sums its own bytes only: 3 x 5 pixels of 4 x 9.
    cv::Mat picture(9, 20, CV_8UC4, cv::Scalar::all(100));
    picture(cv::Rect(2, 3, 5, 3)).setTo(cv::Scalar::all(9));
    QCOMPARE(scopes::frameByteSum(picture(cv::Rect(2, 3, 5, 3))), 15u * 4u * 9u);

    // The cycle copies the capture and sums the copy in one pass: the same
    // copy and the same sums, into a buffer of another size first.
    cv::Mat copy(3, 3, CV_8UC4);
    QCOMPARE(scopes::copyFrameAndSum(white, copy), 764u);
    QVERIFY(copy.size() == white.size() && cv::norm(copy, white, cv::NORM_INF) == 0);
    QCOMPARE(scopes::copyFrameAndSum(frame, copy), 130560u);
    QCOMPARE(scopes::copyFrameAndSum(picture(cv::Rect(2, 3, 5, 3)), copy), 15u * 4u * 9u);
    QCOMPARE(copy.size(), cv::Size(5, 3));
}

QTEST_GUILESS_MAIN(TestFastScopes)
#include "test_fast_scopes.moc"
