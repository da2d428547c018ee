// The fast scope paths held to the plain arithmetic and to OpenCV, byte for
// byte, on every code path this processor runs (512-bit, 256-bit and plain).

#include "cycle/FrameSum.h"
#include "scopes/FloatReplicas.h"
#include "scopes/FusedMultiplyAdd.h"
#include "scopes/StillScope.h"
#include "scopes/WaveformTrace.h"

#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <immintrin.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

Q_DECLARE_METATYPE(cv::Mat)

namespace {

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Flat patches over noise, with a dark band around the counting thresholds.
cv::Mat patchyFrame(int cols, int rows, uint64 seed)
{
    cv::RNG rng(seed);
    cv::Mat frame(rows, cols, CV_8UC4);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    for (int i = 0; i < 12; ++i) {
        const cv::Rect patch(
            rng.uniform(0, std::max(1, cols - 10)), rng.uniform(0, std::max(1, rows - 10)), rng.uniform(5, 80), rng.uniform(5, 60));
        frame(patch & cv::Rect(0, 0, cols, rows))
            .setTo(cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256), 255));
    }
    rng.fill(frame(cv::Rect(0, rows - 8, cols, 8)), cv::RNG::UNIFORM, 0, 30);
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    return frame;
}

// Rows of every hue (a degree apart, repeated) at saturations from 0.7 to
// 1.3 times the one a plot magnified `zoom` times draws on its rim, full
// saturation among them: the rim's cells and the ones beyond it.
cv::Mat rimColours(int cols, int zoom)
{
    cv::Mat frame(13, cols, CV_8UC4);
    for (int y = 0; y < frame.rows; ++y) {
        const double saturation = std::min(1.0, (0.7 + 0.05 * y) / zoom);
        for (int x = 0; x < cols; ++x) {
            // H, S, V with value 1 as bytes: hue in OpenCV's 8-bit form (degrees / 2).
            cv::Mat hsv(1, 1, CV_8UC3,
                cv::Scalar((x % 360) / 2, std::min(255.0, std::round(saturation * 255)), 255 - (x % 7) * 20));
            cv::Mat bgr;
            cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
            const cv::Vec3b c = bgr.at<cv::Vec3b>(0, 0);
            frame.at<cv::Vec4b>(y, x) = cv::Vec4b(c[0], c[1], c[2], 255);
        }
    }
    return frame;
}

// OpenCV's sample photographs, as frames `size` wide.
std::vector<std::pair<QString, cv::Mat>> photographs(int size)
{
    std::vector<std::pair<QString, cv::Mat>> found;
    for (const char* name : { "baboon.jpg", "fruits.jpg", "HappyFish.jpg", "orange.jpg", "building.jpg" }) {
        const cv::Mat image = cv::imread(std::string("/usr/share/doc/opencv-doc/examples/data/") + name);
        if (!image.empty())
            found.emplace_back(QLatin1String(name), scopes::frameFromImage(image, size));
    }
    return found;
}

// Up to 64 colours whose place on a plot `size` wide lies too close to a
// cell's edge for the fast placement to be sure: they go the exact way.
std::vector<std::uint32_t> unsureColours(int size, double radius)
{
    cv::RNG rng(17);
    std::vector<std::uint32_t> colours(1 << 16), unsure;
    std::vector<int> cells(colours.size());
    for (std::uint32_t& c : colours)
        c = 0xff000000u | (rng.next() & 0xffffffu);
    scopes::placeColours(
        colours.data(), static_cast<int>(colours.size()), size, radius, cells.data(), scopes::ScopePath::Avx2);
    for (size_t i = 0; i < colours.size() && unsure.size() < 64; ++i)
        if (cells[i] == -2)
            unsure.push_back(colours[i]);
    return unsure;
}

// GaussianBlur as the fast paths repeat it, a whole picture: a horizontal
// pass over rows with reflected margins, then a vertical one.
cv::Mat smoothPicture(const scopes::SmoothingOrder& order, const cv::Mat& src)
{
    const int r = order.taps / 2;
    cv::Mat padded, across(src.size(), CV_32F), out(src.size(), CV_32F);
    cv::copyMakeBorder(src, padded, 0, 0, r, r, cv::BORDER_REFLECT_101);
    for (int y = 0; y < src.rows; ++y)
        scopes::smoothAcross(order, padded.ptr<float>(y), across.ptr<float>(y), 0, src.cols);
    for (int y = 0; y < src.rows; ++y) {
        const float* rows[5];
        for (int k = 0; k < order.taps; ++k)
            rows[k] = across.ptr<float>(scopes::reflect101(y - r + k, src.rows));
        scopes::smoothDown(order, rows, out.ptr<float>(y), 0, src.cols);
    }
    return out;
}

// smoothPicture with the 3- and the 5-tap kernel, the horizontal passes together.
std::pair<cv::Mat, cv::Mat> smoothPictureBothWays(
    const scopes::SmoothingOrder& order3, const scopes::SmoothingOrder& order5, const cv::Mat& src)
{
    cv::Mat padded, across3(src.size(), CV_32F), across5(src.size(), CV_32F);
    cv::Mat out3(src.size(), CV_32F), out5(src.size(), CV_32F);
    cv::copyMakeBorder(src, padded, 0, 0, 2, 2, cv::BORDER_REFLECT_101);
    for (int y = 0; y < src.rows; ++y)
        scopes::smoothAcrossBoth(order3, order5, padded.ptr<float>(y), across3.ptr<float>(y), across5.ptr<float>(y),
            src.cols);
    for (int y = 0; y < src.rows; ++y) {
        const float* rows[5];
        for (int k = 0; k < 3; ++k)
            rows[k] = across3.ptr<float>(scopes::reflect101(y - 1 + k, src.rows));
        scopes::smoothDown(order3, rows, out3.ptr<float>(y), 0, src.cols);
        for (int k = 0; k < 5; ++k)
            rows[k] = across5.ptr<float>(scopes::reflect101(y - 2 + k, src.rows));
        scopes::smoothDown(order5, rows, out5.ptr<float>(y), 0, src.cols);
    }
    return { out3, out5 };
}

// The vector paths this processor runs: the plain path has no kernels of its own.
std::vector<scopes::ScopePath> vectorPaths()
{
    std::vector<scopes::ScopePath> paths = scopes::runnableScopePaths();
    paths.pop_back();
    return paths;
}

__attribute__((target("fma"))) float fusedByTheProcessor(float a, float b, float c)
{
    return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(a), _mm_set_ss(b), _mm_set_ss(c)));
}

bool sameFloat(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

float floatOfBits(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Runs the scopes on one code path while it lives.
class PathForced {
public:
    explicit PathForced(scopes::ScopePath path) { scopes::setScopePath(path); }
    ~PathForced() { scopes::setScopePath(scopes::runnableScopePaths().front()); }
    PathForced(const PathForced&) = delete;
    PathForced& operator=(const PathForced&) = delete;
};

} // namespace

class TestFastScopes : public QObject {
    Q_OBJECT

private slots:

    void placementAgreesWithThePlainWayForEveryColour()
    {
        // All 2^24 colours through OpenCV's vector code (rows of 16) and scalar
        // code (rows of 1), which can differ in a hue's last bit: a placed pixel
        // lands on the plain cell of both; "unsure" (-2) takes the plain way.
        constexpr int kChunk = 1 << 20;
        std::vector<std::uint32_t> pixels(kChunk);
        std::vector<int> cells(kChunk), plainVector(kChunk), plainScalar(kChunk);
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
            // Every size at 1x; magnified, on the largest plot, where errors are largest.
            for (const auto& [size, zoom] : { std::pair { 150, 1 }, { 400, 1 }, { 600, 1 }, { 600, 2 }, { 600, 4 } }) {
                const double radius = (size / 2) * 0.75;
                const auto plainCell = [&, size = size, zoom = zoom](const cv::Vec3f& hsv) {
                    const cv::Point p = scopes::plotPoint(size / 2, hsv[0] * scopes::kDegreesToRadians,
                        scopes::plottedSaturation(hsv[1], zoom) * radius);
                    const bool inside = p.x >= 0 && p.y >= 0 && p.x < size && p.y < size;
                    return scopes::countsOnScope(hsv[1], hsv[2]) && inside ? p.y * size + p.x : -1;
                };
                for (int i = 0; i < kChunk; ++i) {
                    plainVector[i] = plainCell(vectorHsv[i]);
                    plainScalar[i] = vectorHsv[i] == scalarHsv[i] ? plainVector[i] : plainCell(scalarHsv[i]);
                }
                for (const scopes::ScopePath path : vectorPaths()) {
                    scopes::placeColours(pixels.data(), kChunk, size, radius, cells.data(), path, zoom);
                    for (int i = 0; i < kChunk; ++i) {
                        if (cells[i] == -2)
                            ++unsure;
                        else if (cells[i] != plainVector[i] || cells[i] != plainScalar[i])
                            QFAIL(qPrintable(QString::asprintf("size %d at %dx, #%06x, %s: cell %d, plain %d / %d",
                                size, zoom, pixels[i] & 0xffffffu, scopes::scopePathName(path), cells[i],
                                plainVector[i], plainScalar[i])));
                    }
                }
            }
        }
        // The guard sends only the colours near a cell's edge the exact way, not everything.
        QVERIFY2(unsure < 5 * (1L << 24) * static_cast<long>(vectorPaths().size()) / 50,
            qPrintable(QString::number(unsure)));
    }

    void traceBytesAgreeWithThePlainWayAtEveryWholeNumber()
    {
        // The fast paths take v x 255 in single precision, whose whole part
        // must be the exact product's: the floats next to every k / 255, where
        // a product could round up onto k, then every 4096th float of 0 .. 1.1
        // (above 1 the byte is 255).
        std::vector<float> values;
        for (int k = 1; k <= 255; ++k) {
            float v = static_cast<float>(k / 255.0);
            for (int i = 0; i < 8; ++i)
                v = std::nextafter(v, 0.0f);
            for (int i = 0; i < 16; ++i, v = std::nextafter(v, 2.0f))
                values.push_back(v);
        }
        std::uint32_t bits;
        for (float v = 1e-6f; v < 1.1f; bits += 4096, std::memcpy(&v, &bits, 4)) {
            std::memcpy(&bits, &v, 4);
            values.push_back(v);
        }
        constexpr int kRow = 37; // not a whole number of vectors
        values.resize((values.size() + kRow - 1) / kRow * kRow, 0.5f);
        const float gain = 1.0f;
        std::vector<float> t(kRow), b3(kRow), b5(kRow, 0.0f);
        std::vector<uchar> out(kRow);
        for (size_t row = 0; row < values.size(); row += kRow) {
            // v = (2 t + 1.5 b3) + b5 with b3 = 0: exactly v.
            for (int i = 0; i < kRow; ++i) {
                t[i] = values[row + i] / 2;
                b3[i] = 0.0f;
            }
            scopes::traceBytes(t.data(), b3.data(), b5.data(), gain, out.data(), kRow);
            for (int i = 0; i < kRow; ++i) {
                const float v = ((t[i] * 2.0f + b3[i] * 1.5f) + b5[i]) * gain;
                const int plain = static_cast<int>(std::min(1.0, static_cast<double>(v)) * 255);
                if (out[i] != plain)
                    QFAIL(qPrintable(
                        QString::asprintf("v %.9g: %d, plain %d", static_cast<double>(v), out[i], plain)));
            }
        }
    }

    void brighteningAgreesWithThePlainWayOverTheWholeRange()
    {
        // Every 2048th float in 0 .. 1 and every float around a = 2 c^0.3 = 1,
        // where bytes turn white, under every wheel byte value.
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
        std::vector<uchar> wheel(kCells * 3), out(kCells * 3), plain(256);
        for (int i = 0; i < kCells * 3; ++i)
            wheel[i] = static_cast<uchar>(i);
        std::vector<float> cells(kCells);
        for (float c : values) {
            const double k = std::max(0.0, 1.0 - static_cast<double>(2.0f * std::pow(c, 0.3f)));
            for (int v = 0; v < 256; ++v)
                plain[v] = static_cast<uchar>(static_cast<int>(255.0 - (255 - v) * k));
            std::fill(cells.begin(), cells.end(), c);
            for (const scopes::ScopePath path : vectorPaths()) {
                // The whole row, and its first five cells alone (shorter than a vector).
                for (const int n : { kCells, 5 }) {
                    scopes::liftRow(cells.data(), wheel.data(), out.data(), n, path);
                    for (int i = 0; i < n * 3; ++i)
                        if (out[i] != plain[wheel[i]])
                            QFAIL(qPrintable(QString::asprintf("cell %.9g, wheel byte %d, %s: %d, plain %d",
                                static_cast<double>(c), wheel[i], scopes::scopePathName(path), out[i],
                                plain[wheel[i]])));
                }
            }
        }
    }

    void smoothingRepeatsOpenCvBitForBit()
    {
        // Widths ending on and off OpenCV's vector lengths; values small, large
        // and sparse; each kernel alone and both horizontal passes together.
        for (int width : { 50, 133, 150, 151, 199, 200, 266, 400, 437, 599, 600 }) {
            const scopes::SmoothingOrder& order3 = scopes::gaussianOrder(3, width, 97);
            const scopes::SmoothingOrder& order5 = scopes::gaussianOrder(5, width, 97);
            if (!order3.known || !order5.known) {
                qWarning("%d wide: OpenCV's order is not repeated; OpenCV is called", width);
                continue;
            }
            cv::RNG rng(static_cast<uint64>(width));
            for (int round = 0; round < 3; ++round) {
                cv::Mat picture(97, width, CV_32F);
                rng.fill(picture, cv::RNG::UNIFORM, 0.0, round == 0 ? 1.0 : 300.0);
                if (round == 2)
                    for (float& v : cv::Mat_<float>(picture))
                        v = rng.uniform(0, 5) == 0 ? v : 0.0f;
                cv::Mat expected3, expected5;
                cv::GaussianBlur(picture, expected3, cv::Size(3, 3), 1.0, 0, cv::BORDER_DEFAULT);
                cv::GaussianBlur(picture, expected5, cv::Size(5, 5), 1.0, 0, cv::BORDER_DEFAULT);
                const auto [together3, together5] = smoothPictureBothWays(order3, order5, picture);
                const QString where = QStringLiteral("%1 wide, round %2").arg(width).arg(round);
                QVERIFY2(cv::countNonZero(smoothPicture(order3, picture) != expected3) == 0, qPrintable(where));
                QVERIFY2(cv::countNonZero(smoothPicture(order5, picture) != expected5) == 0, qPrintable(where));
                QVERIFY2(cv::countNonZero(together3 != expected3) == 0, qPrintable(where + QStringLiteral(", 3 taps")));
                QVERIFY2(cv::countNonZero(together5 != expected5) == 0, qPrintable(where + QStringLiteral(", 5 taps")));
            }
        }
    }

    void traceRowsKeepEachColumnsOwnSmoothingForm()
    {
        // This OpenCV smooths every column of a trace down in one form, but
        // another may not: columns of another form, first, inside and last,
        // take theirs.
        constexpr int kWidth = 37;
        scopes::SmoothingOrder order3 = scopes::gaussianOrder(3, kWidth, 40);
        scopes::SmoothingOrder order5 = scopes::gaussianOrder(5, kWidth, 40);
        QVERIFY(order3.known && order5.known);
        const auto makeOdd = [](scopes::SmoothingOrder& order, std::initializer_list<int> columns) {
            for (int x : columns) {
                order.down[x] = order.mainDown == scopes::SumForm::Unfused ? scopes::SumForm::CentreFirstFused
                                                                            : scopes::SumForm::Unfused;
                order.oddDown.push_back(x);
            }
        };
        makeOdd(order3, { 0, 13 });
        makeOdd(order5, { 5, 36 });
        const float gain = 1.7f;
        const auto byteOf = [&](const float* v3, const float* v5, float t, scopes::SumForm f3, scopes::SumForm f5) {
            const float b3 = scopes::smoothedValue(order3, f3, v3);
            const float b5 = scopes::smoothedValue(order5, f5, v5);
            const float v = ((t * 2.0f + b3 * 1.5f) + b5) * gain;
            return static_cast<int>(std::min(1.0, static_cast<double>(v)) * 255);
        };
        // Forms differ in a last bit only; in the odd columns, values where
        // that bit changes the byte.
        cv::RNG rng(37);
        cv::Mat rows(9, kWidth, CV_32F); // three 3-tap rows, five 5-tap rows, the trace row
        rng.fill(rows, cv::RNG::UNIFORM, 0.0, 0.4);
        for (int x = 0; x < kWidth; ++x) {
            const scopes::SumForm f3 = order3.down[x], f5 = order5.down[x];
            if (f3 == order3.mainDown && f5 == order5.mainDown)
                continue;
            float v[9];
            do {
                for (float& value : v)
                    value = rng.uniform(0.0f, 0.4f);
            } while (byteOf(v, v + 3, v[8], f3, f5) == byteOf(v, v + 3, v[8], order3.mainDown, order5.mainDown));
            for (int k = 0; k < 9; ++k)
                rows.at<float>(k, x) = v[k];
        }
        const float* rows3[3] = { rows.ptr<float>(0), rows.ptr<float>(1), rows.ptr<float>(2) };
        const float* rows5[5] = { rows.ptr<float>(3), rows.ptr<float>(4), rows.ptr<float>(5), rows.ptr<float>(6),
            rows.ptr<float>(7) };
        const float* trace = rows.ptr<float>(8);
        std::vector<uchar> out(kWidth);
        scopes::smoothedTraceBytes(order3, order5, rows3, rows5, trace, gain, out.data(), kWidth);
        for (int x = 0; x < kWidth; ++x) {
            float v3[3], v5[5];
            for (int k = 0; k < 3; ++k)
                v3[k] = rows3[k][x];
            for (int k = 0; k < 5; ++k)
                v5[k] = rows5[k][x];
            QCOMPARE(static_cast<int>(out[x]), byteOf(v3, v5, trace[x], order3.down[x], order5.down[x]));
        }
    }

    void stretchingAndNormalisingRepeatOpenCv()
    {
        // A photograph's level counts stretched from 128 rows to each height, then normalised.
        const std::vector<std::pair<QString, cv::Mat>> photograph = photographs(400);
        const cv::Mat frame = photograph.empty() ? patchyFrame(400, 300, 7) : photograph[0].second;
        cv::Mat rgbBytes, rgbFloat;
        scopes::frameToRgbFloat(frame, rgbBytes, rgbFloat);
        for (int size : { 150, 151, 300, 400, 599, 600 }) {
            for (bool parade : { false, true }) {
                const int width = scopes::traceWidth(size, parade), height = scopes::waveformHeight(size);
                scopes::ChannelMats counts;
                scopes::accumulateLevels(rgbFloat, width, counts);
                const cv::Mat& red = counts[scopes::Red];
                const std::vector<scopes::RowBlend>* blends = scopes::linearRowBlends(width, scopes::kLevels, height);
                if (!blends)
                    QSKIP("this OpenCV stretches in a way the fast path does not repeat; it calls OpenCV itself");
                cv::Mat expected, stretched(height, width, CV_32F), normalised;
                cv::resize(red, expected, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
                stretched.forEach<float>([&](float& v, const int* at) {
                    const scopes::RowBlend& b = (*blends)[at[0]];
                    v = red.at<float>(b.from0, at[1]) * b.b0 + red.at<float>(b.from1, at[1]) * b.b1;
                });
                QCOMPARE(cv::countNonZero(stretched != expected), 0);

                cv::normalize(expected, normalised, 0, 1, cv::NORM_MINMAX);
                double largest = 0;
                cv::minMaxLoc(expected, nullptr, &largest);
                QCOMPARE(
                    cv::countNonZero(expected * scopes::normalizeScale(static_cast<float>(largest)) != normalised), 0);
            }
        }
    }

    void picturesEqualThePlainPictures_data()
    {
        // In "every byte" each channel runs through all 256 values in every row and column.
        QTest::addColumn<cv::Mat>("frame");
        for (const int size : { 150, 151, 400, 599, 600 }) {
            for (const auto& photograph : photographs(size))
                QTest::addRow("%s %d", qPrintable(photograph.first), size) << photograph.second;
            cv::Mat everyByte(256, size, CV_8UC4);
            everyByte.forEach<cv::Vec4b>([](cv::Vec4b& p, const int* at) {
                p = cv::Vec4b(
                    uchar(at[1] + at[0]), uchar(3 * at[1] + 7 * at[0]), uchar(at[1] * at[0] + 11 * at[1]), 255);
            });
            QTest::addRow("noise %d", size) << patchyFrame(size, size * 9 / 16 + 1, 7);
            QTest::addRow("every byte %d", size) << everyByte;
            // Flat areas of colours that go the exact way, as a test
            // pattern's bars: one colour in many rows of a column and in
            // many columns, several colours in one column.
            const std::vector<std::uint32_t> unsure = unsureColours(size, (size / 2) * 0.75);
            if (!unsure.empty()) {
                cv::Mat bars(120, size, CV_8UC4);
                for (int y = 0; y < bars.rows; ++y)
                    for (int x = 0; x < size; ++x) {
                        const int bar = y < 60 ? x / 7 : y / 3 + x / 50;
                        bars.at<std::uint32_t>(y, x) = unsure[static_cast<size_t>(bar) % unsure.size()];
                    }
                QTest::addRow("flat colours the exact way %d", size) << bars;
            }
            QTest::addRow("black %d", size) << cv::Mat(90, size, CV_8UC4, cv::Scalar(0, 0, 0, 255));
            QTest::addRow("grey %d", size) << cv::Mat(90, size, CV_8UC4, cv::Scalar(128, 128, 128, 255));
            QTest::addRow("red %d", size) << cv::Mat(90, size, CV_8UC4, cv::Scalar(0, 0, 255, 255));
            QTest::addRow("dark %d", size)
                << cv::Mat(cv::Mat(100, size, CV_8UC4, cv::Scalar(2, 1, 3, 255)) + patchyFrame(size, 100, 3) / 12);
        }
        for (const int size : { 157, 437 }) // more row ends for reading one pixel alone
            QTest::addRow("noise %d", size) << patchyFrame(size, 12, static_cast<uint64>(size));
    }

    void picturesEqualThePlainPictures()
    {
        QFETCH(cv::Mat, frame);
        const int size = frame.cols;
        const double radius = (size / 2) * 0.75;
        cv::Mat wheel, scope, hsv;
        scopes::renderColorWheel(wheel, size, size, radius);
        QVERIFY2(samePicture(wheel, scopes::reference::colorWheel(size, size, radius)), "colour wheel");
        const cv::Mat plainPlot = scopes::reference::vectorscopePlot(frame, wheel, radius, hsv);
        const cv::Mat plainTraces[2]
            = { scopes::reference::waveformPicture(frame, size, false), scopes::reference::waveformPicture(frame, size, true) };
        // The pointer marker reads one pixel alone; OpenCV converts a row's last
        // (width mod 8 or 16) pixels with other code.
        scopes::VectorscopePlotter pointer;
        for (int y = 0; y < frame.rows; ++y)
            for (int x = 0; x < size; ++x)
                if (pointer.hsvOfPixel(frame, x, y) != hsv.at<cv::Vec3f>(y, x))
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2)").arg(x).arg(y)));

        // Every code path this processor runs, each as if the program had been told to.
        for (const scopes::ScopePath path : scopes::runnableScopePaths()) {
            const PathForced forced(path);
            const bool fast = path != scopes::ScopePath::Plain;
            const auto what = [&](const char* picture) {
                return qPrintable(QStringLiteral("%1 on the %2 path").arg(picture, scopes::scopePathName(path)));
            };
            // Every buffer first served another frame of another size and mode: none may carry it over.
            scopes::VectorscopePlotter plotter;
            plotter.plot(patchyFrame(size + 3, 40, 1), wheel, radius);
            scope = plotter.plot(frame, wheel, radius);
            QVERIFY2(plotter.usedPlainPath() != fast, what("the vectorscope took the wrong path"));
            QVERIFY2(samePicture(scope, plainPlot), what("vectorscope"));
            // A stream of frames: each picture is rewritten only where its plot or
            // the skin-tone line differs from the one before, and shows no trace of it.
            scopes::FrameScope stream(0, size);
            stream.render(patchyFrame(size, 30, 2));
            QVERIFY2(samePicture(stream.render(frame), scopes::renderStillScope(frame, 0, size)), what("stream"));

            scopes::WaveformRenderer renderer;
            for (bool parade : { false, true }) {
                renderer.render(patchyFrame(size - 1, 30, 2), size - 1, !parade, scope);
                renderer.render(frame, size, parade, scope);
                QVERIFY2(renderer.usedPlainPath() != fast, what("the waveform took the wrong path"));
                QVERIFY2(samePicture(scope, plainTraces[parade]), what(parade ? "parade" : "waveform"));
            }
        }
    }

    void magnifiedPlotsEqualThePlainOnes_data()
    {
        // The magnified geometry's hard places: colours just inside and just
        // beyond the magnified rim (drawn on the rim, where the smoothing
        // reaches past the circle), every hue at full saturation, the
        // smallest plot (its rim nearest the plot's edge) and odd sizes.
        QTest::addColumn<cv::Mat>("frame");
        QTest::addColumn<int>("zoom");
        for (const int zoom : { 2, 4 }) {
            for (const int size : { 150, 151, 400, 599, 600 }) {
                for (const auto& photograph : photographs(size))
                    QTest::addRow("%s %d at %dx", qPrintable(photograph.first), size, zoom)
                        << photograph.second << zoom;
                QTest::addRow("noise %d at %dx", size, zoom) << patchyFrame(size, size * 9 / 16 + 1, 7) << zoom;
                QTest::addRow("around the rim %d at %dx", size, zoom) << rimColours(size, zoom) << zoom;
                QTest::addRow("dark %d at %dx", size, zoom)
                    << cv::Mat(cv::Mat(60, size, CV_8UC4, cv::Scalar(2, 1, 3, 255)) + patchyFrame(size, 60, 3) / 12)
                    << zoom;
                QTest::addRow("grey %d at %dx", size, zoom)
                    << cv::Mat(40, size, CV_8UC4, cv::Scalar(90, 90, 90, 255)) << zoom;
            }
        }
    }

    void magnifiedPlotsEqualThePlainOnes()
    {
        // At 2x and 4x every vector path plots what the plain path plots at
        // that zoom, and what the plain arithmetic written out plots, and
        // does not fall back to the plain path; a plotter that drew the same
        // frame at 1x first, or on a plot one pixel wider or narrower with
        // the same radius (the same places, other cell numbers), keeps
        // nothing of it.
        QFETCH(cv::Mat, frame);
        QFETCH(int, zoom);
        const int size = frame.cols;
        const double radius = (size / 2) * 0.75;
        cv::Mat wheel, hsv;
        scopes::renderColorWheel(wheel, size, size, radius, zoom);
        const cv::Mat written = scopes::reference::vectorscopePlot(frame, wheel, radius, hsv, zoom);
        cv::Mat plain;
        {
            const PathForced forced(scopes::ScopePath::Plain);
            scopes::VectorscopePlotter plotter;
            plain = plotter.plot(frame, wheel, radius, {}, zoom).clone();
        }
        QVERIFY2(samePicture(plain, written), "the plain path");
        for (const scopes::ScopePath path : vectorPaths()) {
            const PathForced forced(path);
            scopes::VectorscopePlotter plotter;
            plotter.plot(frame, wheel, radius);
            QVERIFY2(samePicture(plotter.plot(frame, wheel, radius, {}, zoom), plain), scopes::scopePathName(path));
            QVERIFY2(!plotter.usedPlainPath(), scopes::scopePathName(path));
            cv::Mat neighbour;
            scopes::renderColorWheel(neighbour, size ^ 1, size ^ 1, radius, zoom);
            plotter.plot(frame, neighbour, radius, {}, zoom);
            QVERIFY2(samePicture(plotter.plot(frame, wheel, radius, {}, zoom), plain),
                qPrintable(QStringLiteral("%1, after a plot %2 wide").arg(scopes::scopePathName(path)).arg(size ^ 1)));
            // The stream the window and the renderer draw: the skin-tone line
            // painted over each picture goes back to the wheel.
            scopes::FrameScope stream(0, size, zoom);
            stream.render(patchyFrame(size, 30, 2));
            QVERIFY2(samePicture(stream.render(frame), scopes::renderStillScope(frame, 0, size, zoom)),
                scopes::scopePathName(path));
        }
    }

    void framesChangedInAFewRowsPlotAsAfresh()
    {
        // A stream whose frames change in a few rows, as under a brush or a
        // moving window, plotted by one plotter: every picture equals a fresh
        // plotter's, and a copy kept up to date by the changed spans alone
        // equals it too. The steps move pixels between cells, onto cells
        // where no pixel was (past cells lit two frames before), off the
        // plot's fullest cell (its sum shrinks and the scale changes) and
        // back, to colours that go the exact way, to black (nowhere), in the
        // row-end columns, onto the magnified rim and off it, and in too
        // many rows to follow; at 1x, 2x and 4x. A small change
        // rewrites a small part of the picture.
        const int size = 400;
        const double radius = (size / 2) * 0.75;
        const std::vector<std::pair<QString, cv::Mat>> photograph = photographs(size);
        cv::Mat grey(225, size, CV_8UC4);
        cv::RNG(3).fill(grey, cv::RNG::UNIFORM, 122, 135);
        const cv::Mat starts[]
            = { photograph.empty() ? patchyFrame(size, 225, 5) : photograph[0].second.clone(), grey };
        for (const cv::Mat& start : starts) {
            // A flat patch: the fullest cell, by far.
            start(cv::Rect(40, 60, 60, 40)).setTo(cv::Scalar(100, 140, 120, 255));
            // Red rows, whose cell lies far from the plot row of the greens below.
            start(cv::Rect(0, 7, size, 3)).setTo(cv::Scalar(0, 0, 200, 255));
        }

        const std::vector<std::uint32_t> unsure = unsureColours(size, radius);
        QVERIFY(unsure.size() >= 8);
        struct Step {
            const char* name;
            std::function<void(cv::Mat& frame, const cv::Mat& start)> change;
            bool small;
        };
        // Hues 90 and 270 degrees at half and at full saturation: the same
        // plot row, on either side of the centre.
        const cv::Scalar halfGreen(100, 200, 150, 255), fullGreen(0, 200, 100, 255);
        const cv::Scalar halfViolet(200, 100, 150, 255), fullViolet(200, 0, 100, 255);
        const auto paintRow = [](cv::Mat& f, int y, const cv::Scalar& left, const cv::Scalar& right) {
            f(cv::Rect(0, y, size / 2, 1)).setTo(left);
            f(cv::Rect(size / 2, y, size / 2, 1)).setTo(right);
        };
        const std::vector<Step> steps = {
            { "square",
                [](cv::Mat& f, const cv::Mat&) { f(cv::Rect(200, 100, 6, 6)).setTo(cv::Scalar(250, 30, 30, 255)); },
                true },
            { "square moved",
                [](cv::Mat& f, const cv::Mat& start) {
                    start(cv::Rect(200, 100, 6, 6)).copyTo(f(cv::Rect(200, 100, 6, 6)));
                    f(cv::Rect(203, 102, 6, 6)).setTo(cv::Scalar(250, 30, 30, 255));
                },
                true },
            { "a colour where none was", [&](cv::Mat& f, const cv::Mat&) { paintRow(f, 5, halfGreen, halfViolet); },
                false },
            { "many rows",
                [](cv::Mat& f, const cv::Mat& start) {
                    const cv::Rect top(0, 0, size, f.rows / 2);
                    cv::Mat(start(top) + cv::Scalar(1, 0, 0, 0)).copyTo(f(top));
                },
                false },
            // One side at a time: each widens the row's lit span on its side only.
            { "past cells lit before, right",
                [&](cv::Mat& f, const cv::Mat&) { paintRow(f, 7, fullViolet, fullViolet); }, false },
            { "past cells lit before, left", [&](cv::Mat& f, const cv::Mat&) { paintRow(f, 9, fullGreen, fullGreen); },
                false },
            { "fullest cell emptied",
                [](cv::Mat& f, const cv::Mat&) { f(cv::Rect(40, 60, 60, 40)).setTo(cv::Scalar(0, 0, 0, 255)); },
                false },
            { "fullest cell back",
                [](cv::Mat& f, const cv::Mat& start) {
                    start(cv::Rect(40, 60, 60, 40)).copyTo(f(cv::Rect(40, 60, 60, 40)));
                },
                false },
            { "exact way",
                [&](cv::Mat& f, const cv::Mat&) {
                    for (int x = 0; x < size; ++x)
                        f.at<std::uint32_t>(150 + x % 2, x) = unsure[static_cast<size_t>(x) % unsure.size()];
                },
                false },
            // At 2x and 4x: colours that go onto the magnified rim and
            // beyond it (all drawn on the rim), and back off it.
            { "around the magnified rim",
                [&](cv::Mat& f, const cv::Mat&) {
                    const cv::Mat rim = rimColours(size, 2);
                    rim(cv::Rect(0, 0, size, 6)).copyTo(f(cv::Rect(0, 120, size, 6)));
                    rimColours(size, 4)(cv::Rect(0, 7, size, 6)).copyTo(f(cv::Rect(0, 126, size, 6)));
                },
                false },
            { "off the magnified rim",
                [](cv::Mat& f, const cv::Mat& start) {
                    start(cv::Rect(0, 120, size, 12)).copyTo(f(cv::Rect(0, 120, size, 12)));
                },
                false },
            { "row ends",
                [&](cv::Mat& f, const cv::Mat&) {
                    for (int x = size - 20; x < size; ++x)
                        f.at<std::uint32_t>(f.rows - 1, x) = unsure[static_cast<size_t>(x) % unsure.size()];
                },
                false },
        };
        for (const scopes::ScopePath path : vectorPaths()) {
            const PathForced forced(path);
            for (const cv::Mat& start : starts) {
                for (const int zoom : { 1, 2, 4 }) {
                    cv::Mat wheel;
                    scopes::renderColorWheel(wheel, size, size, radius, zoom);
                    cv::Mat frame = start.clone();
                    scopes::VectorscopePlotter follower;
                    cv::Mat shown = follower.plot(frame, wheel, radius, {}, zoom).clone();
                    for (const Step& step : steps) {
                        step.change(frame, start);
                        const cv::Mat followed = follower.plot(frame, wheel, radius, {}, zoom);
                        scopes::VectorscopePlotter fresh;
                        const QString what = QStringLiteral("%1 at %2x, %3 (%4)")
                                                 .arg(QLatin1String(step.name))
                                                 .arg(zoom)
                                                 .arg(scopes::scopePathName(path))
                                                 .arg(&start == &starts[0] ? "photograph" : "grey");
                        QVERIFY2(samePicture(followed, fresh.plot(frame, wheel, radius, {}, zoom)), qPrintable(what));
                        int rewritten = 0;
                        const auto& spans = follower.changedSpans();
                        for (int y = 0; y < size; ++y) {
                            const auto span = spans[static_cast<size_t>(y)];
                            if (span.x0 > span.x1)
                                continue;
                            followed.row(y)
                                .colRange(span.x0, span.x1 + 1)
                                .copyTo(shown.row(y).colRange(span.x0, span.x1 + 1));
                            rewritten += span.x1 - span.x0 + 1;
                        }
                        QVERIFY2(samePicture(shown, followed), qPrintable(what + QStringLiteral(": changed spans")));
                        // A row's span reaches from its first to its last moved
                        // cell, and magnified, a few pixels' cells lie farther apart.
                        if (step.small)
                            QVERIFY2(rewritten < zoom * size * size / 100,
                                qPrintable(what + QStringLiteral(": %1 cells").arg(rewritten)));
                    }
                }
            }
            // The same stream with a line painted over each picture, as the
            // rendering tool draws the skin-tone line.
            scopes::FrameScope stream(0, size);
            cv::Mat frame = starts[0].clone();
            stream.render(frame);
            for (const Step& step : steps) {
                step.change(frame, starts[0]);
                QVERIFY2(samePicture(stream.render(frame), scopes::renderStillScope(frame, 0, size)), step.name);
            }
        }
    }

    void waveformFramesChangedInAFewRowsTraceAsAfresh()
    {
        // One renderer follows a stream whose frames change in a few rows;
        // every Waveform and Parade picture equals a fresh renderer's. The
        // steps move the trace's largest cell (the scale), the brightest
        // levels (the gain of a frame 225 rows high), turn pixels black and
        // leave pixels out and take them back, change many rows at once, and
        // switch between the Waveform and the Parade (another trace width).
        const int size = 400;
        const std::vector<std::pair<QString, cv::Mat>> photograph = photographs(size);
        cv::Mat start = photograph.empty() ? patchyFrame(size, 225, 5) : photograph[0].second.clone();
        start(cv::Rect(40, 60, 8, 120)).setTo(cv::Scalar(100, 140, 120, 255)); // the fullest cells, by far
        const cv::Rect leftOutArea(300, 150, 50, 30);
        const auto leftOutFor = [&](cv::Mat& f) {
            f(leftOutArea).setTo(cv::Scalar(0, 0, 0, 255));
            std::vector<std::uint32_t> perColumn(static_cast<size_t>(size), 0);
            for (int x = leftOutArea.x; x < leftOutArea.x + leftOutArea.width; ++x)
                perColumn[static_cast<size_t>(x)] = static_cast<std::uint32_t>(leftOutArea.height);
            return perColumn;
        };
        struct Step {
            const char* name;
            std::function<void(cv::Mat& frame)> change;
            bool parade;
            bool leavesOut;
        };
        const auto restore = [&](cv::Mat& f, const cv::Rect& r) { start(r).copyTo(f(r)); };
        const std::vector<Step> steps = {
            { "square", [](cv::Mat& f) { f(cv::Rect(200, 100, 6, 6)).setTo(cv::Scalar(250, 30, 30, 255)); }, false,
                false },
            { "square moved",
                [&](cv::Mat& f) {
                    restore(f, cv::Rect(200, 100, 6, 6));
                    f(cv::Rect(203, 102, 6, 6)).setTo(cv::Scalar(20, 230, 90, 255));
                },
                false, false },
            { "fullest cells emptied", [](cv::Mat& f) { f(cv::Rect(40, 60, 8, 40)).setTo(cv::Scalar(9, 9, 9, 255)); },
                false, false },
            { "fullest cells back", [&](cv::Mat& f) { restore(f, cv::Rect(40, 60, 8, 40)); }, false, false },
            { "white rows", [](cv::Mat& f) { f(cv::Rect(0, 20, size, 30)).setTo(cv::Scalar(255, 255, 255, 255)); },
                false, false },
            { "white rows gone", [&](cv::Mat& f) { restore(f, cv::Rect(0, 20, size, 30)); }, false, false },
            { "black in the last columns",
                [](cv::Mat& f) { f(cv::Rect(size - 9, 0, 9, 50)).setTo(cv::Scalar(0, 0, 0, 255)); }, false, false },
            { "left out", [](cv::Mat&) {}, false, true },
            { "left out, a square beside",
                [](cv::Mat& f) { f(cv::Rect(10, 200, 5, 5)).setTo(cv::Scalar(1, 2, 3, 255)); }, false, true },
            { "taken back", [&](cv::Mat& f) { restore(f, leftOutArea); }, false, false },
            { "parade", [](cv::Mat& f) { f(cv::Rect(100, 10, 4, 4)).setTo(cv::Scalar(60, 70, 80, 255)); }, true,
                false },
            { "parade, square", [](cv::Mat& f) { f(cv::Rect(130, 12, 4, 4)).setTo(cv::Scalar(200, 7, 80, 255)); }, true,
                false },
            { "many rows",
                [&](cv::Mat& f) {
                    const cv::Rect top(0, 0, size, f.rows / 2);
                    cv::Mat(start(top) + cv::Scalar(3, 2, 1, 0)).copyTo(f(top));
                },
                true, false },
            { "waveform again", [&](cv::Mat& f) { restore(f, cv::Rect(0, 0, size, 20)); }, false, false },
        };
        for (const scopes::ScopePath path : vectorPaths()) {
            const PathForced forced(path);
            cv::Mat frame = start.clone();
            scopes::WaveformRenderer follower;
            cv::Mat followed, afresh;
            follower.render(frame, size, false, followed);
            for (const Step& step : steps) {
                step.change(frame);
                std::vector<std::uint32_t> leftOut;
                if (step.leavesOut)
                    leftOut = leftOutFor(frame);
                const std::vector<std::uint32_t>* out = step.leavesOut ? &leftOut : nullptr;
                follower.render(frame, size, step.parade, followed, out);
                scopes::WaveformRenderer fresh;
                fresh.render(frame, size, step.parade, afresh, out);
                QVERIFY2(!follower.usedPlainPath(), step.name);
                QVERIFY2(samePicture(followed, afresh),
                    qPrintable(QStringLiteral("%1 (%2)").arg(QLatin1String(step.name), scopes::scopePathName(path))));
            }
        }
    }

    void framesNarrowerThanAVectorOnTheVectorscope()
    {
        // Rows shorter than a vector, and rows that end a vector or two past one.
        const int size = 150;
        const double radius = (size / 2) * 0.75;
        cv::Mat wheel, hsv;
        scopes::renderColorWheel(wheel, size, size, radius);
        for (const int cols : { 1, 5, 7, 9, 17, 31 }) {
            const cv::Mat frame = patchyFrame(cols, 40, static_cast<uint64>(cols));
            const cv::Mat plain = scopes::reference::vectorscopePlot(frame, wheel, radius, hsv);
            for (const scopes::ScopePath path : vectorPaths()) {
                const PathForced forced(path);
                scopes::VectorscopePlotter plotter;
                QVERIFY2(samePicture(plotter.plot(frame, wheel, radius), plain),
                    qPrintable(QStringLiteral("%1 columns, %2").arg(cols).arg(scopes::scopePathName(path))));
            }
        }
    }

    void aPlacementUnlikeOpenCvsTakesThePlainWay()
    {
        // An OpenCV whose hue arithmetic moved: the fast placement, nudged off
        // by a fifth of a cell at full saturation, fails its check when the
        // size is first used; that size takes the plain way with the same
        // picture and says so once. Undone, the fast path returns.
        const int size = 233;
        const double radius = (size / 2) * 0.75;
        const cv::Mat frame = patchyFrame(size, 131, 5);
        cv::Mat wheel, hsv;
        scopes::renderColorWheel(wheel, size, size, radius);
        const cv::Mat plain = scopes::reference::vectorscopePlot(frame, wheel, radius, hsv);
        for (const scopes::ScopePath path : vectorPaths()) {
            const PathForced forced(path);
            scopes::takeFallbackNotes();
            scopes::nudgePlacementForTests(1.0f + 0.2f / static_cast<float>(radius));
            scopes::VectorscopePlotter plotter;
            const cv::Mat nudged = plotter.plot(frame, wheel, radius).clone();
            scopes::nudgePlacementForTests(1.0f);
            QVERIFY2(samePicture(nudged, plain), scopes::scopePathName(path));
            QVERIFY2(plotter.usedPlainPath(), scopes::scopePathName(path));
            const QStringList notes = scopes::takeFallbackNotes();
            QCOMPARE(notes.size(), 1);
            QVERIFY2(notes[0].contains(QLatin1String("vectorscope 233")), qPrintable(notes[0]));

            QVERIFY(samePicture(plotter.plot(frame, wheel, radius), plain));
            QVERIFY2(!plotter.usedPlainPath(), scopes::scopePathName(path));
        }
    }

    void aSmoothingUnlikeOpenCvsTakesThePlainWay()
    {
        // A size first used while OpenCV's smoothing fits no known order (on
        // any path) is drawn by OpenCV's own calls, said once, and stays so.
        // 317 columns: a size no other test uses, so its order is found here.
        constexpr int kSize = 317;
        const cv::Mat frame = patchyFrame(kSize, 60, 11);
        const cv::Mat plain = scopes::reference::waveformPicture(frame, kSize, false);
        scopes::takeFallbackNotes();
        scopes::upsetSmoothingCheckForTests(true);
        scopes::WaveformRenderer renderer;
        cv::Mat scope;
        renderer.render(frame, kSize, false, scope);
        scopes::upsetSmoothingCheckForTests(false);
        QVERIFY(renderer.usedPlainPath());
        QVERIFY(samePicture(scope, plain));
        const QStringList notes = scopes::takeFallbackNotes();
        QVERIFY2(!notes.isEmpty() && notes[0].contains(QLatin1String("317 x 211 smoothing")), qPrintable(notes.join('|')));
        for (const scopes::ScopePath path : vectorPaths()) {
            const PathForced forced(path);
            renderer.render(frame, kSize, false, scope);
            QVERIFY2(renderer.usedPlainPath(), scopes::scopePathName(path));
            QVERIFY(samePicture(scope, plain));
        }
        QVERIFY(scopes::takeFallbackNotes().isEmpty());
    }

    // The fast paths repeat OpenCV's fused multiply-adds; the plain path and
    // the calibration must round them as the instruction does. (MinGW-w64's
    // fmaf rounds twice: with it every size on Windows took the plain path.)
    void fusedMultiplyAddRoundsAsTheInstruction()
    {
        if (!__builtin_cpu_supports("fma"))
            QSKIP("this processor has no fused multiply-add to compare with");
        std::mt19937 random(20261207);
        std::uniform_int_distribution<std::uint32_t> anyBits;
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        std::uniform_int_distribution<int> shift(1, 60);
        int differing = 0;
        QString first;
        auto check = [&](float a, float b, float c) {
            const float ours = scopes::fusedMultiplyAdd(a, b, c), theirs = fusedByTheProcessor(a, b, c);
            if (!sameFloat(ours, theirs) && differing++ == 0) {
                char text[200];
                std::snprintf(text, sizeof text, "%a * %a + %a: %a, the instruction gives %a", double(a), double(b),
                    double(c), double(ours), double(theirs));
                first = QString::fromLatin1(text);
            }
        };
        for (int i = 0; i < 1000000; ++i) {
            // Any bits: every exponent, subnormals, infinities and NaNs.
            check(floatOfBits(anyBits(random)), floatOfBits(anyBits(random)), floatOfBits(anyBits(random)));
            // Where rounding twice goes wrong: the product's rounding error
            // cancelled by an addend, or a tiny addend that moves the exact
            // sum just off a halfway point between two floats.
            const float a = unit(random), b = unit(random);
            const float rounded = a * b;
            check(a, b, -rounded);
            check(a, b, std::ldexp(unit(random), -shift(random)) * std::fabs(rounded));
            // The smoothing's own sums: weights times sums of neighbours.
            check(0.2740686f, unit(random) * 255.0f, unit(random) * 200.0f);
        }
        const float tiny = FLT_TRUE_MIN;
        for (const std::array<float, 3>& c : { std::array<float, 3> { tiny, 0.5f, 0.0f }, { tiny, 0.5f, -0.0f },
                 { FLT_MAX, 2.0f, -FLT_MAX }, { 0.0f, INFINITY, 1.0f }, { 1.0f + FLT_EPSILON, 1.0f - FLT_EPSILON, -1.0f },
                 { -0.0f, 0.0f, -0.0f }, { 1e-30f, 1e-30f, -1e-45f } })
            check(c[0], c[1], c[2]);
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 cases differ; the first: %2").arg(differing).arg(first)));
    }

    void byteSumWrapsAsA32BitAccumulator()
    {
        // The cycle copies the capture and sums the copy in one pass, into a
        // buffer of another size first. Every byte value four times: 4 x (0 + 1 +
        // ... + 255) = 130560. 6316130 white pixels: 1020 x 6316130 = 6442452600,
        // which wraps to 2147485304, above 2^31. A region of a larger picture: its own 5 x 3 pixels of 9.
        cv::Mat everyByte(16, 16, CV_8UC4), picture(9, 20, CV_8UC4, cv::Scalar::all(100)), copy(3, 3, CV_8UC4);
        for (int i = 0; i < 256 * 4; ++i)
            everyByte.data[i] = static_cast<uchar>(i / 4);
        picture(cv::Rect(2, 3, 5, 3)).setTo(cv::Scalar::all(9));
        const std::pair<cv::Mat, quint32> cases[]
            = { { everyByte, 130560u }, { cv::Mat(1, 6316130, CV_8UC4, cv::Scalar::all(255)), 2147485304u },
                  { picture(cv::Rect(2, 3, 5, 3)), 540u } };
        for (const auto& c : cases) {
            QCOMPARE(scopes::frameByteSum(c.first), c.second);
            QCOMPARE(scopes::copyFrameAndSum(c.first, copy), c.second);
            QVERIFY(samePicture(copy, c.first));
        }
    }
};

QTEST_GUILESS_MAIN(TestFastScopes)
#include "test_fast_scopes.moc"
