// The scopes' image arithmetic on its own: geometry, colour wheel, plot,
// overlays, waveform and parade. Expected values are worked out by hand in
// the comments next to them.

#include "scopes/StillScope.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/WaveformMath.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <set>

namespace {

const QString kPhotoFolder = QStringLiteral("/usr/share/doc/opencv-doc/examples/data");

// A frame as captured: bytes B, G, R, 255.
cv::Mat solidFrame(int cols, int rows, int r, int g, int b)
{
    return cv::Mat(rows, cols, CV_8UC4, cv::Scalar(b, g, r, 255));
}

cv::Vec3b rgbAt(const cv::Mat& picture, int x, int y)
{
    return picture.at<cv::Vec3b>(y, x);
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Positions where two pictures of the same size differ.
std::vector<cv::Point> differences(const cv::Mat& a, const cv::Mat& b)
{
    std::vector<cv::Point> points;
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.cols; ++x)
            if (a.at<cv::Vec3b>(y, x) != b.at<cv::Vec3b>(y, x))
                points.emplace_back(x, y);
    return points;
}

struct Plot {
    cv::Mat wheel;
    cv::Mat colorImage;
    cv::Mat scope;
};

// Wheel and plot at window size 400: half 200, radius 150.
Plot plotAt400(const cv::Mat& frame)
{
    Plot plot;
    scopes::renderColorWheel(plot.wheel, 400, 400, 150.0);
    scopes::VectorscopeBuffers buffers;
    scopes::plotVectorscope(frame, plot.wheel, 150.0, buffers, plot.scope);
    cv::Mat rgbBytes, rgbFloat;
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, plot.colorImage);
    return plot;
}

// Captures are mostly flat areas with some noise: patches of one colour
// exercise the shortcut for repeated pixels, the noise everything else.
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
    // A dark band around the counting thresholds.
    cv::Mat band = frame(cv::Rect(0, rows - 8, cols, 8));
    rng.fill(band, cv::RNG::UNIFORM, 0, 30);
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    return frame;
}

QStringList photographs()
{
    QStringList found;
    for (const char* name : { "baboon.jpg", "fruits.jpg", "HappyFish.jpg", "orange.jpg" }) {
        const QString path = kPhotoFolder + QLatin1Char('/') + QLatin1String(name);
        if (QFileInfo::exists(path))
            found << path;
    }
    return found;
}

} // namespace

class TestScopes : public QObject {
    Q_OBJECT

private slots:
    void plotGeometryRoundsHalfAwayFromZero();
    void hsvToRgbCoversTheSextantsAndRounds();
    void colorWheelHasHuesWherePixelsArePlotted();
    void fastWheelEqualsPlainWheel();

    void primaryColoursLandInTheirDirections();
    void greyFrameLightsOnlyTheCentre();
    void blackFrameLeavesTheWheelUntouched();
    void countingThresholds();
    void fastPlotEqualsPlainPlot_data();
    void fastPlotEqualsPlainPlot();

    void pointerMarker();
    void dominantHueLines();
    void skinToneLine();
    void hoverHighlightInTheVectorscope();

    void levelsUseTheCeiling();
    void accumulationSpreadsColumnsOverPanels();
    void gainFollowsTheDensity();
    void blackFrameWaveform();
    void paradePanelsAt400();
    void graticuleBlendsTowardsGrey();
    void hoverHighlightInTheWaveform();
    void hoverHighlightInTheParade();
    void fastWaveformEqualsPlainWaveform_data();
    void fastWaveformEqualsPlainWaveform();

    void imageToFrame();
};

void TestScopes::plotGeometryRoundsHalfAwayFromZero()
{
    // Hue 0 straight up, 90 degrees left, 180 down, 270 right.
    QCOMPARE(scopes::plotPoint(200, 0.0, 150.0), cv::Point(200, 50));
    QCOMPARE(scopes::plotPoint(200, 90 * scopes::kDegreesToRadians, 150.0), cv::Point(50, 200));
    QCOMPARE(scopes::plotPoint(200, 180 * scopes::kDegreesToRadians, 150.0), cv::Point(200, 350));
    QCOMPARE(scopes::plotPoint(200, 270 * scopes::kDegreesToRadians, 150.0), cv::Point(350, 200));
    // sin(pi/2) * 0.5 = 0.5 rounds to 1 and -0.5 to -1 (banker's rounding would give 0 for both).
    QCOMPARE(scopes::plotPoint(200, CV_PI / 2, 0.5), cv::Point(199, 200));
    QCOMPARE(scopes::plotPoint(200, CV_PI / 2, -0.5), cv::Point(201, 200));
    QCOMPARE(scopes::roundHalfAway(2.5), 3);
    QCOMPARE(scopes::roundHalfAway(-2.5), -3);
    QCOMPARE(scopes::roundHalfAway(2.4999), 2);
}

void TestScopes::hsvToRgbCoversTheSextantsAndRounds()
{
    struct Case {
        double h, s, v, r, g, b;
    };
    const Case cases[] = {
        { 0.0, 1.0, 1.0, 255, 0, 0 }, // red
        { 1.0, 1.0, 1.0, 255, 0, 0 }, // a full turn is red again
        { 0.5, 1.0, 1.0, 0, 255, 255 }, // i = 3, f = 0: (p, q, v) = (0, 1, 1), cyan
        { 0.25, 1.0, 1.0, 128, 255, 0 }, // i = 1, f = 0.5: q = 0.5 -> 127.5 rounds up
        { 0.5, 0.5, 0.5, 64, 128, 128 }, // p = 0.25 -> 63.75, q = v = 0.5 -> 127.5
        { 0.75, 1.0, 0.2, 26, 0, 51 }, // i = 4, f = 0.5: t = 0.1 -> 25.5 rounds up
        { 0.9, 0.0, 1.0, 255, 255, 255 }, // no saturation: white whatever the hue
    };
    for (const Case& c : cases) {
        double r, g, b;
        scopes::hsvToRgb(c.h, c.s, c.v, r, g, b);
        QCOMPARE(r, c.r);
        QCOMPARE(g, c.g);
        QCOMPARE(b, c.b);
    }
}

void TestScopes::colorWheelHasHuesWherePixelsArePlotted()
{
    cv::Mat wheel;
    scopes::renderColorWheel(wheel, 400, 400, 150.0);
    QCOMPARE(wheel.type(), CV_8UC3);
    QCOMPARE(wheel.size(), cv::Size(400, 400));

    // Outside the radius everything is black.
    for (const cv::Point p : { cv::Point(0, 0), cv::Point(399, 399), cv::Point(200, 30), cv::Point(360, 200) })
        QCOMPARE(rgbAt(wheel, p.x, p.y), cv::Vec3b(0, 0, 0));
    // The centre is black before the blur; its eight neighbours are (1, 1, 1)
    // (value 1/300 x 255 = 0.85 rounds to 1, and so do p, q, t), so the 3x3
    // blur gives 0.75 there, which rounds to 1.
    QCOMPARE(rgbAt(wheel, 200, 200), cv::Vec3b(1, 1, 1));

    // Near the rim (d = 145/150, value 0.483 -> 123): red up, hue 90 left, cyan down.
    const cv::Vec3b up = rgbAt(wheel, 200, 55);
    QVERIFY2(up[0] > 110 && up[1] < 15 && up[2] < 15, "red at the top");
    const cv::Vec3b left = rgbAt(wheel, 55, 200);
    QVERIFY2(left[1] > 110 && std::abs(left[0] - left[1] / 2) < 8 && left[2] < 15, "hue 90 on the left");
    const cv::Vec3b down = rgbAt(wheel, 200, 345);
    QVERIFY2(down[0] < 15 && down[1] > 110 && down[2] > 110, "cyan at the bottom");
}

void TestScopes::fastWheelEqualsPlainWheel()
{
    for (const int size : { 150, 401, 600 }) {
        const double radius = (size / 2) * 0.75;
        cv::Mat wheel;
        scopes::renderColorWheel(wheel, size, size, radius);
        QVERIFY(samePicture(wheel, scopes::reference::colorWheel(size, size, radius)));
    }
}

void TestScopes::primaryColoursLandInTheirDirections()
{
    // Red: hue 0, S 1 -> (200 - round(0), 200 - round(150)) = (200, 50).
    // Green: hue 120 -> sin = 0.866, cos = -0.5 -> (200 - round(129.9), 200 + 75) = (70, 275).
    struct Case {
        int r, g, b;
        cv::Point cell;
    };
    for (const Case c : { Case { 255, 0, 0, { 200, 50 } }, Case { 0, 255, 0, { 70, 275 } } }) {
        const Plot plot = plotAt400(solidFrame(400, 300, c.r, c.g, c.b));
        const cv::Point p = c.cell;
        // All weight in one cell: it normalises to 1, a = 2, white. The four
        // side neighbours get 0.1238 / 1.2042 = 0.1028 of it after the
        // smoothing, a = 2 x 0.1028^0.3 = 1.011, white as well.
        QCOMPARE(rgbAt(plot.scope, p.x, p.y), cv::Vec3b(255, 255, 255));
        for (const cv::Point side : { cv::Point(1, 0), cv::Point(-1, 0), cv::Point(0, 1), cv::Point(0, -1) })
            QCOMPARE(rgbAt(plot.scope, p.x + side.x, p.y + side.y), cv::Vec3b(255, 255, 255));
        // Nothing else changes.
        for (const cv::Point d : differences(plot.scope, plot.wheel))
            QVERIFY(std::abs(d.x - p.x) <= 1 && std::abs(d.y - p.y) <= 1);
        QCOMPARE(rgbAt(plot.scope, 200, 200), rgbAt(plot.wheel, 200, 200));
    }
}

void TestScopes::greyFrameLightsOnlyTheCentre()
{
    const Plot plot = plotAt400(solidFrame(400, 300, 128, 128, 128));
    QCOMPARE(rgbAt(plot.scope, 200, 200), cv::Vec3b(255, 255, 255));
    const std::vector<cv::Point> changed = differences(plot.scope, plot.wheel);
    QVERIFY(changed.size() >= 5 && changed.size() <= 9);
    for (const cv::Point d : changed)
        QVERIFY(std::abs(d.x - 200) <= 1 && std::abs(d.y - 200) <= 1);
}

void TestScopes::blackFrameLeavesTheWheelUntouched()
{
    // V < 0.01 never counts: the cells stay 0, normalise to 0, and k = 1 keeps every byte.
    const Plot plot = plotAt400(solidFrame(400, 300, 0, 0, 0));
    QVERIFY(samePicture(plot.scope, plot.wheel));
    // Still a valid colour image for the pointer marker and the colour search.
    QCOMPARE(plot.colorImage.size(), cv::Size(400, 300));
    QCOMPARE(plot.colorImage.type(), CV_32FC3);
}

void TestScopes::countingThresholds()
{
    // One-pixel frames: weight 1000 / 1; the cells sum to 1000 when the pixel counts.
    struct Case {
        int r, g, b;
        bool counts;
        const char* why;
    };
    const Case cases[] = {
        { 26, 26, 26, true, "V = 0.102 > 0.1 counts even without colour" },
        { 25, 25, 25, false, "V = 0.098, S = 0: too dark for grey" },
        { 3, 0, 0, true, "V = 0.0118 >= 0.01 with S = 1" },
        { 2, 0, 0, false, "V = 0.0078 < 0.01 never counts" },
        { 20, 18, 18, true, "V = 0.078, S = 0.1 > 0.05" },
        { 20, 19, 19, false, "V = 0.078, S = 1/20 is not above 0.05" },
        { 200, 195, 195, true, "bright, nearly grey" },
    };
    cv::Mat rgbBytes, rgbFloat, colorImage, cells;
    for (const Case& c : cases) {
        scopes::frameToHsv(solidFrame(1, 1, c.r, c.g, c.b), rgbBytes, rgbFloat, colorImage);
        scopes::accumulateHsv(colorImage, 400, 150.0, scopes::pixelWeight(1), cells);
        QVERIFY2(cv::sum(cells)[0] == (c.counts ? 1000.0 : 0.0), c.why);
    }
    QCOMPARE(scopes::pixelWeight(400 * 300), 1000.0f / 120000.0f);
}

void TestScopes::fastPlotEqualsPlainPlot_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("size");
    QTest::newRow("random 400") << QString() << 400;
    QTest::newRow("random 151") << QString() << 151;
    for (const QString& photo : photographs())
        QTest::newRow(qPrintable(QFileInfo(photo).fileName())) << photo << 400;
}

void TestScopes::fastPlotEqualsPlainPlot()
{
    QFETCH(QString, source);
    QFETCH(int, size);
    const cv::Mat frame = source.isEmpty() ? patchyFrame(size, size * 3 / 4, 7)
                                           : scopes::frameFromImage(cv::imread(source.toStdString()), size);
    const double radius = (size / 2) * 0.75;
    cv::Mat wheel;
    scopes::renderColorWheel(wheel, size, size, radius);

    scopes::VectorscopeBuffers buffers;
    cv::Mat scope;
    // Twice through the same buffers: a reused buffer must not carry the last frame over.
    scopes::plotVectorscope(patchyFrame(size, size / 2, 99), wheel, radius, buffers, scope);
    scopes::plotVectorscope(frame, wheel, radius, buffers, scope);

    cv::Mat plainColorImage;
    const cv::Mat plain = scopes::reference::vectorscopePlot(frame, wheel, radius, plainColorImage);
    QVERIFY(samePicture(scope, plain));
}

void TestScopes::pointerMarker()
{
    cv::Mat frame = solidFrame(4, 2, 128, 128, 128);
    frame.at<cv::Vec4b>(1, 3) = cv::Vec4b(0, 0, 255, 255); // red at x 3, y 1
    frame.at<cv::Vec4b>(0, 1) = cv::Vec4b(0, 0, 0, 255); // black at x 1, y 0
    cv::Mat rgbBytes, rgbFloat, colorImage;
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, colorImage);
    const cv::Mat blank(400, 400, CV_8UC3, cv::Scalar(9, 9, 9));
    const cv::Vec3b red(255, 0, 0);

    // A grey pixel: S = 0 puts the plus sign on the centre, arms of 6 pixels.
    cv::Mat scope = blank.clone();
    scopes::drawPointerMarker(scope, colorImage, 0, 0, 150.0);
    for (int j = -6; j <= 6; ++j) {
        QCOMPARE(rgbAt(scope, 200, 200 + j), red);
        QCOMPARE(rgbAt(scope, 200 + j, 200), red);
    }
    QCOMPARE(differences(scope, blank).size(), size_t(25));
    QCOMPARE(rgbAt(scope, 200, 193), cv::Vec3b(9, 9, 9));
    QCOMPARE(rgbAt(scope, 207, 200), cv::Vec3b(9, 9, 9));

    // A black pixel has no brightness test here: the centre too.
    scope = blank.clone();
    scopes::drawPointerMarker(scope, colorImage, 1, 0, 150.0);
    QCOMPARE(rgbAt(scope, 200, 200), red);

    // The red pixel: (200, 50).
    scope = blank.clone();
    scopes::drawPointerMarker(scope, colorImage, 3, 1, 150.0);
    QCOMPARE(rgbAt(scope, 200, 44), red);
    QCOMPARE(rgbAt(scope, 194, 50), red);
    QCOMPARE(rgbAt(scope, 200, 43), cv::Vec3b(9, 9, 9));

    // A pointer outside the frame draws nothing.
    for (const cv::Point outside : { cv::Point(-1, 0), cv::Point(4, 0), cv::Point(0, 2), cv::Point(-100, -100) }) {
        scope = blank.clone();
        scopes::drawPointerMarker(scope, colorImage, outside.x, outside.y, 150.0);
        QVERIFY(samePicture(scope, blank));
    }
}

void TestScopes::dominantHueLines()
{
    const cv::Mat blank = cv::Mat::zeros(400, 400, CV_8UC3);
    cv::Mat scope = blank.clone();
    scopes::drawDominantHueLines(scope, {}, 0, 150.0);
    QVERIFY(samePicture(scope, blank));
    // A count beyond the list draws what the list holds and reads nothing past it.
    scopes::drawDominantHueLines(scope, {}, 4, 150.0);
    QVERIFY(samePicture(scope, blank));

    // Hue 0: a = 0.5, end (200 + round(sin(pi) L), 200 + round(cos(pi) L)) with
    // L = 150 x 1.1f = 165.0000036: (200, 35), straight up where red is plotted.
    // Hue 0.25 (90 degrees): a = 0.75, end (35, 200), to the left.
    // Antialiased: the pixels on the line get most of the blue (0, 0, 255), their neighbours a little.
    scopes::drawDominantHueLines(scope, { 0.0f, 0.25f }, 2, 150.0);
    const auto onLine = [&](int x, int y) {
        const cv::Vec3b p = rgbAt(scope, x, y);
        return p[0] == 0 && p[1] == 0 && p[2] > 200;
    };
    QVERIFY(onLine(200, 100));
    QVERIFY(onLine(200, 36));
    QVERIFY(onLine(100, 200));
    QVERIFY(!onLine(201, 100));
    QCOMPARE(rgbAt(scope, 200, 300), cv::Vec3b(0, 0, 0)); // not downwards
    QCOMPARE(rgbAt(scope, 300, 200), cv::Vec3b(0, 0, 0)); // not to the right
    QCOMPARE(rgbAt(scope, 200, 30), cv::Vec3b(0, 0, 0)); // ends at 35

    // Only the first `count` entries.
    scope = blank.clone();
    scopes::drawDominantHueLines(scope, { 0.0f, 0.25f }, 1, 150.0);
    QCOMPARE(rgbAt(scope, 100, 200), cv::Vec3b(0, 0, 0));
}

void TestScopes::skinToneLine()
{
    // End plotPoint(0.33161255787, 165.0000036): sin 0.32557, cos 0.94552 ->
    // (200 - round(53.72), 200 - round(156.01)) = (146, 44). Halfway, row 122, x = 173.
    cv::Mat scope = cv::Mat::zeros(400, 400, CV_8UC3);
    scopes::drawSkinToneLine(scope, 150.0);
    int brightest = 0;
    cv::Vec3b colour;
    for (int x = 170; x <= 176; ++x) {
        const cv::Vec3b p = rgbAt(scope, x, 122);
        if (p[0] > brightest) {
            brightest = p[0];
            colour = p;
        }
    }
    QVERIFY(brightest >= 200);
    // The colour (255, 200, 127), scaled by the pixel's coverage.
    QVERIFY(std::abs(colour[1] - colour[0] * 200 / 255) <= 2);
    QVERIFY(std::abs(colour[2] - colour[0] * 127 / 255) <= 2);
    QCOMPARE(rgbAt(scope, 200, 250), cv::Vec3b(0, 0, 0));
    QCOMPARE(rgbAt(scope, 146, 40), cv::Vec3b(0, 0, 0));
}

void TestScopes::hoverHighlightInTheVectorscope()
{
    // Row 0: dark red (hue 0, S 1); hue 10.1 (R 255, G 43); hue 12 (G 51); green.
    // Pointing at (200, 50) gives the direction 0.5 turns (red plus half a
    // turn) and saturation 1. For hue 0: h = -0.5, dh = min(1, 0) = 0, ds = 0.
    // Hue 10.1: dh = 0.0281, 0.00079 < 0.001. Hue 12: dh = 0.0333, 0.00111. Green: dh = 1/3.
    cv::Mat frame(1, 4, CV_8UC4);
    frame.at<cv::Vec4b>(0, 0) = cv::Vec4b(0, 0, 128, 255);
    frame.at<cv::Vec4b>(0, 1) = cv::Vec4b(0, 43, 255, 255);
    frame.at<cv::Vec4b>(0, 2) = cv::Vec4b(0, 51, 255, 255);
    frame.at<cv::Vec4b>(0, 3) = cv::Vec4b(0, 255, 0, 255);
    cv::Mat rgbBytes, rgbFloat, colorImage;
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, colorImage);
    const cv::Vec4b highlighted(0, 0, 255, 255);

    cv::Mat painted = frame.clone();
    scopes::highlightMatchingHues(painted, colorImage, 0.5f, 1.0);
    QCOMPARE(painted.at<cv::Vec4b>(0, 0), highlighted);
    QCOMPARE(painted.at<cv::Vec4b>(0, 1), highlighted);
    QCOMPARE(painted.at<cv::Vec4b>(0, 2), frame.at<cv::Vec4b>(0, 2));
    QCOMPARE(painted.at<cv::Vec4b>(0, 3), frame.at<cv::Vec4b>(0, 3));

    // Saturation: ds = -0.03 gives 0.0009 (in), -0.04 gives 0.0016 (out).
    painted = frame.clone();
    scopes::highlightMatchingHues(painted, colorImage, 0.5f, 1.03);
    QCOMPARE(painted.at<cv::Vec4b>(0, 0), highlighted);
    painted = frame.clone();
    scopes::highlightMatchingHues(painted, colorImage, 0.5f, 1.04);
    QCOMPARE(painted.at<cv::Vec4b>(0, 0), frame.at<cv::Vec4b>(0, 0));

    // The green pixel from its own direction: hue 120 plus half a turn = 0.8333.
    painted = frame.clone();
    scopes::highlightMatchingHues(painted, colorImage, 0.8333333f, 1.0);
    QCOMPARE(painted.at<cv::Vec4b>(0, 3), highlighted);
    QCOMPARE(painted.at<cv::Vec4b>(0, 0), frame.at<cv::Vec4b>(0, 0));

    // Fault guarded: a colour image left from a smaller frame was walked in
    // step with the larger frame, reading past its end. Now nothing happens.
    cv::Mat larger = solidFrame(4, 3, 128, 0, 0);
    const cv::Mat before = larger.clone();
    scopes::highlightMatchingHues(larger, colorImage, 0.5f, 1.0);
    QCOMPARE(cv::norm(larger, before, cv::NORM_INF), 0.0);
}

void TestScopes::levelsUseTheCeiling()
{
    // Byte 1: 1/255 x 127 = 0.498, ceiling 1 (rounding would give 0).
    cv::Mat rgbBytes, rgbFloat;
    scopes::frameToRgbFloat(solidFrame(1, 1, 1, 0, 255), rgbBytes, rgbFloat);
    const cv::Vec3f v = rgbFloat.at<cv::Vec3f>(0, 0);
    QCOMPARE(scopes::levelOf(v[0]), 1);
    QCOMPARE(scopes::levelOf(v[1]), 0);
    QCOMPARE(scopes::levelOf(v[2]), 127);
    QCOMPARE(scopes::levelOf(0.5f), 64); // 63.5 -> 64
    QCOMPARE(scopes::levelOf(2.0f / 127.0f), 2);
}

void TestScopes::accumulationSpreadsColumnsOverPanels()
{
    // 400 frame columns over 133 panel columns: sx = 0.3325, column 3 -> 0.9975 -> 0,
    // column 4 -> 1.33 -> 1, column 399 -> 132.67 -> 132.
    cv::Mat frame = solidFrame(400, 2, 0, 0, 0);
    frame.at<cv::Vec4b>(0, 3) = cv::Vec4b(255, 0, 1, 255); // B 255, R 1
    frame.at<cv::Vec4b>(1, 4) = cv::Vec4b(0, 128, 0, 255); // G 128: 0.502 x 127 = 63.75 -> 64
    frame.at<cv::Vec4b>(1, 399) = cv::Vec4b(0, 0, 255, 255);
    cv::Mat rgbBytes, rgbFloat;
    scopes::frameToRgbFloat(frame, rgbBytes, rgbFloat);
    scopes::ChannelMats counts;
    scopes::accumulateLevels(rgbFloat, 133, counts);
    for (const cv::Mat& c : counts) {
        QCOMPARE(c.size(), cv::Size(133, 128));
        QCOMPARE(cv::sum(c)[0], 800.0); // every pixel once per channel
    }
    QCOMPARE(counts[scopes::Blue].at<float>(0, 0), 1.0f); // level 127 is row 0
    QCOMPARE(counts[scopes::Red].at<float>(126, 0), 1.0f); // level 1 is row 126
    QCOMPARE(counts[scopes::Green].at<float>(63, 1), 1.0f); // level 64 is row 63
    QCOMPARE(counts[scopes::Red].at<float>(0, 132), 1.0f);
    // Columns 0..3 fall on panel column 0: 8 pixels, one of them blue at level 127.
    QCOMPARE(counts[scopes::Blue].at<float>(127, 0), 7.0f);
}

void TestScopes::gainFollowsTheDensity()
{
    // A black 400 x 225 frame in the Waveform: 90000 counts in row 127 over
    // 128 x 400 cells: density 1.7578125, g = 1.2421875, gain 1.24219^2.5 = 1.71976.
    scopes::ChannelMats counts;
    cv::Mat rgbBytes, rgbFloat;
    scopes::frameToRgbFloat(solidFrame(400, 225, 0, 0, 0), rgbBytes, rgbFloat);
    scopes::accumulateLevels(rgbFloat, 400, counts);
    QCOMPARE(scopes::traceDensity(counts[scopes::Red]), 1.7578125f);
    QCOMPARE(scopes::traceGain(1.7578125f), 1.7197602f);
    // A white frame lands in row 0, which the density leaves out: the largest gain, 2.5^2.5.
    scopes::frameToRgbFloat(solidFrame(400, 225, 255, 255, 255), rgbBytes, rgbFloat);
    scopes::accumulateLevels(rgbFloat, 400, counts);
    QCOMPARE(scopes::traceDensity(counts[scopes::Red]), 0.0f);
    QCOMPARE(scopes::traceGain(0.0f), 9.8821177f);
    // Dense captures get none.
    QCOMPARE(scopes::traceGain(2.5f), 1.0f);
}

void TestScopes::blackFrameWaveform()
{
    // Every count in row 127: after stretching to 266 rows the bottom row
    // normalises to 1 and the sum 2 + ... clamps to 255; graticule rows
    // trunc(i x 266 / 10) = 0, 26, 53, 79, 106, 133, 159, 186, 212, 239 turn grey.
    scopes::WaveformBuffers buffers;
    cv::Mat scope;
    scopes::renderWaveform(solidFrame(400, 225, 0, 0, 0), 400, false, buffers, scope);
    QCOMPARE(scope.size(), cv::Size(400, 266));
    for (int x : { 0, 200, 399 })
        QCOMPARE(rgbAt(scope, x, 265), cv::Vec3b(255, 255, 255));
    for (int row : { 0, 26, 53, 79, 106, 133, 159, 186, 212, 239 })
        for (int x : { 0, 200, 399 })
            QCOMPARE(rgbAt(scope, x, row), cv::Vec3b(50, 50, 50));
    for (int row : { 1, 25, 27, 100, 200, 240, 250 })
        QCOMPARE(rgbAt(scope, 200, row), cv::Vec3b(0, 0, 0));
}

void TestScopes::paradePanelsAt400()
{
    // Panels of 400 / 3 = 133 columns: blue 0..132, green 133..265, red 266..398, 399 left black.
    scopes::WaveformBuffers buffers;
    cv::Mat scope;
    scopes::renderWaveform(solidFrame(400, 225, 0, 0, 0), 400, true, buffers, scope);
    QCOMPARE(scope.size(), cv::Size(400, 266));
    QCOMPARE(rgbAt(scope, 0, 265), cv::Vec3b(0, 0, 255));
    QCOMPARE(rgbAt(scope, 132, 265), cv::Vec3b(0, 0, 255));
    QCOMPARE(rgbAt(scope, 133, 265), cv::Vec3b(0, 255, 0));
    QCOMPARE(rgbAt(scope, 265, 265), cv::Vec3b(0, 255, 0));
    QCOMPARE(rgbAt(scope, 266, 265), cv::Vec3b(255, 0, 0));
    QCOMPARE(rgbAt(scope, 398, 265), cv::Vec3b(255, 0, 0));
    const std::set<int> graticuleRows { 0, 26, 53, 79, 106, 133, 159, 186, 212, 239 };
    for (int row = 0; row < scope.rows; ++row)
        QCOMPARE(rgbAt(scope, 399, row), graticuleRows.count(row) ? cv::Vec3b(50, 50, 50) : cv::Vec3b(0, 0, 0));
    // 150 wide: panels of 50, no column left over; 100 rows.
    scopes::renderWaveform(solidFrame(150, 84, 0, 0, 0), 150, true, buffers, scope);
    QCOMPARE(scope.size(), cv::Size(150, 100));
    QCOMPARE(rgbAt(scope, 149, 99), cv::Vec3b(255, 0, 0));
}

void TestScopes::graticuleBlendsTowardsGrey()
{
    // k = min(1, sum x 0.0033071896), m = (1 - k) x 50, byte = trunc(c k + m).
    // (0, 0, 255): k = 0.84333, m = 7.83: 0 -> 7, 255 -> 215.05 + 7.83 = 222.
    // (100, 100, 100): k = 0.99216, m = 0.39: 99.6 -> 99. White stays white.
    cv::Mat scope = cv::Mat::zeros(10, 4, CV_8UC3);
    scope.at<cv::Vec3b>(0, 1) = cv::Vec3b(0, 0, 255);
    scope.at<cv::Vec3b>(0, 2) = cv::Vec3b(100, 100, 100);
    scope.at<cv::Vec3b>(0, 3) = cv::Vec3b(255, 255, 255);
    scope.at<cv::Vec3b>(1, 1) = cv::Vec3b(0, 0, 255);
    scopes::applyGraticule(scope);
    QCOMPARE(rgbAt(scope, 0, 0), cv::Vec3b(50, 50, 50));
    QCOMPARE(rgbAt(scope, 1, 0), cv::Vec3b(7, 7, 222));
    QCOMPARE(rgbAt(scope, 2, 0), cv::Vec3b(99, 99, 99));
    QCOMPARE(rgbAt(scope, 3, 0), cv::Vec3b(255, 255, 255));
    // Ten rows of ten: every row is a graticule row.
    QCOMPARE(rgbAt(scope, 1, 1), cv::Vec3b(7, 7, 222));
    QCOMPARE(rgbAt(scope, 0, 9), cv::Vec3b(50, 50, 50));
}

void TestScopes::hoverHighlightInTheWaveform()
{
    // 266 rows, pointer at y 133: level = 133 x 255 / 266 = 127.5. At x 100,
    // frame columns 90..110 (sp = 1) are compared by (B + G + R) x 0.333:
    // grey 137 -> 136.86 (9.36 away, in), grey 138 -> 137.86 (10.36, out).
    cv::Mat frame = solidFrame(400, 3, 137, 137, 137);
    frame.row(1).setTo(cv::Scalar(138, 138, 138, 255));
    frame.row(2).setTo(cv::Scalar(118, 118, 118, 255)); // 117.88: 9.62 below, in
    const cv::Vec4b red(0, 0, 255, 255);

    cv::Mat painted = frame.clone();
    scopes::highlightMatchingLevels(painted, 400, 266, 100.0, 133.0, false);
    for (int x = 0; x < 400; ++x) {
        const bool near = x >= 90 && x <= 110;
        QCOMPARE(painted.at<cv::Vec4b>(0, x) == red, near);
        QCOMPARE(painted.at<cv::Vec4b>(1, x) == red, false);
        QCOMPARE(painted.at<cv::Vec4b>(2, x) == red, near);
    }

    // Before the pointer has been over the plot nothing is highlighted.
    painted = frame.clone();
    scopes::highlightMatchingLevels(painted, 400, 266, -1.0, -1.0, false);
    QCOMPARE(cv::norm(painted, frame, cv::NORM_INF), 0.0);

    // A frame half as wide: sp = 2, so scope columns 90..110 are frame columns 45..55.
    cv::Mat narrow = solidFrame(200, 1, 137, 137, 137);
    scopes::highlightMatchingLevels(narrow, 400, 266, 100.0, 133.0, false);
    for (int x = 0; x < 200; ++x)
        QCOMPARE(narrow.at<cv::Vec4b>(0, x) == red, x >= 45 && x <= 55);
}

void TestScopes::hoverHighlightInTheParade()
{
    // 400 x 266, pointer at (200, 133): third = 133, 200 lies in the middle
    // panel, so green is compared; px = (200 mod 133) x 3 = 201, frame columns
    // 191..211. Level 127.5: green 120 (7.5 away) in, 117 (10.5) out.
    cv::Mat frame(3, 400, CV_8UC4);
    frame.row(0).setTo(cv::Scalar(0, 120, 250, 255));
    frame.row(1).setTo(cv::Scalar(127, 117, 127, 255));
    frame.row(2).setTo(cv::Scalar(128, 137, 128, 255)); // 9.5 above, in
    const cv::Vec4b red(0, 0, 255, 255);
    cv::Mat painted = frame.clone();
    scopes::highlightMatchingLevels(painted, 400, 266, 200.0, 133.0, true);
    for (int x = 0; x < 400; ++x) {
        const bool near = x >= 191 && x <= 211;
        QCOMPARE(painted.at<cv::Vec4b>(0, x) == red, near);
        QCOMPARE(painted.at<cv::Vec4b>(1, x) == red, false);
        QCOMPARE(painted.at<cv::Vec4b>(2, x) == red, near);
    }

    // The left panel compares blue: pointer x 10 -> px 30, columns 20..40;
    // only row 1 has blue 127 near 127.5.
    painted = frame.clone();
    scopes::highlightMatchingLevels(painted, 400, 266, 10.0, 133.0, true);
    for (int x = 0; x < 400; ++x) {
        QCOMPARE(painted.at<cv::Vec4b>(1, x) == red, x >= 20 && x <= 40);
        QCOMPARE(painted.at<cv::Vec4b>(0, x) == red, false);
    }

    // The right panel compares red: x 300 -> (300 mod 133) x 3 = 102, columns 92..112;
    // row 0 has red 250, so point at y 5: level 261 x 255 / 266 = 250.2.
    painted = frame.clone();
    scopes::highlightMatchingLevels(painted, 400, 266, 300.0, 5.0, true);
    for (int x = 0; x < 400; ++x)
        QCOMPARE(painted.at<cv::Vec4b>(0, x) == red, x >= 92 && x <= 112);
}

void TestScopes::fastWaveformEqualsPlainWaveform_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("parade");
    for (const int size : { 150, 400, 599, 600 }) {
        QTest::addRow("random %d waveform", size) << QString() << size << false;
        QTest::addRow("random %d parade", size) << QString() << size << true;
    }
    for (const QString& photo : photographs()) {
        QTest::addRow("%s waveform", qPrintable(QFileInfo(photo).fileName())) << photo << 400 << false;
        QTest::addRow("%s parade", qPrintable(QFileInfo(photo).fileName())) << photo << 400 << true;
    }
}

void TestScopes::fastWaveformEqualsPlainWaveform()
{
    QFETCH(QString, source);
    QFETCH(int, size);
    QFETCH(bool, parade);
    const cv::Mat frame = source.isEmpty() ? patchyFrame(size, size / 2, 11)
                                           : scopes::frameFromImage(cv::imread(source.toStdString()), size);
    scopes::WaveformBuffers buffers;
    cv::Mat scope;
    // The buffers first served another size and mode.
    scopes::renderWaveform(patchyFrame(300, 200, 5), 300, !parade, buffers, scope);
    scopes::renderWaveform(frame, size, parade, buffers, scope);
    QVERIFY(samePicture(scope, scopes::reference::waveformPicture(frame, size, parade)));

    scopes::ChannelMats counts;
    cv::Mat rgbBytes, rgbFloat, trace, blur3, blur5;
    scopes::frameToRgbFloat(frame, rgbBytes, rgbFloat);
    scopes::accumulateLevels(rgbFloat, scopes::traceWidth(size, parade), counts);
    scopes::enhanceTrace(counts[scopes::Green], 77, 55, trace, blur3, blur5);
    QCOMPARE(cv::norm(trace, scopes::reference::enhanceTrace(counts[scopes::Green], 77, 55), cv::NORM_INF), 0.0);
}

void TestScopes::imageToFrame()
{
    // 7 x 3 to 400 columns: scale 57.142857, height trunc(3 x 57.142857) = 171.
    cv::Mat image(3, 7, CV_8UC3, cv::Scalar(10, 20, 30));
    image.at<cv::Vec3b>(0, 6) = cv::Vec3b(1, 2, 3);
    const cv::Mat frame = scopes::frameFromImage(image, 400);
    QCOMPARE(frame.type(), CV_8UC4);
    QCOMPARE(frame.size(), cv::Size(400, 171));
    QCOMPARE(frame.at<cv::Vec4b>(0, 0), cv::Vec4b(10, 20, 30, 255));
    QCOMPARE(frame.at<cv::Vec4b>(0, 399), cv::Vec4b(1, 2, 3, 255));
    QCOMPARE(frame.at<cv::Vec4b>(170, 399), cv::Vec4b(10, 20, 30, 255));

    // Alpha is dropped: a transparent pixel is opaque in the frame.
    const cv::Mat withAlpha(2, 2, CV_8UC4, cv::Scalar(40, 50, 60, 0));
    QCOMPARE(scopes::frameFromImage(withAlpha, 150).at<cv::Vec4b>(0, 0), cv::Vec4b(40, 50, 60, 255));
    const cv::Mat grey(2, 2, CV_8UC1, cv::Scalar(77));
    QCOMPARE(scopes::frameFromImage(grey, 150).at<cv::Vec4b>(1, 1), cv::Vec4b(77, 77, 77, 255));

    // A sliver that would scale to no rows keeps one.
    QCOMPARE(scopes::frameFromImage(cv::Mat(1, 1000, CV_8UC3, cv::Scalar::all(0)), 400).size(), cv::Size(400, 1));
}

QTEST_GUILESS_MAIN(TestScopes)
#include "test_scopes.moc"
