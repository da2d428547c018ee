// The scopes' image arithmetic, the expected values worked by hand in the
// comments next to them.

#include "scopes/StillScope.h"

#include <QtTest>

#include <set>
#include <tuple>

namespace {

// A frame as captured: bytes B, G, R, 255.
cv::Mat solidFrame(int cols, int rows, int r, int g, int b)
{
    return cv::Mat(rows, cols, CV_8UC4, cv::Scalar(b, g, r, 255));
}

std::vector<cv::Point> differences(const cv::Mat& a, const cv::Mat& b)
{
    std::vector<cv::Point> points;
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.cols; ++x)
            if (a.at<cv::Vec3b>(y, x) != b.at<cv::Vec3b>(y, x))
                points.emplace_back(x, y);
    return points;
}

cv::Mat hsvOf(const cv::Mat& frame)
{
    cv::Mat rgbBytes, rgbFloat, hsv;
    scopes::frameToHsv(frame, rgbBytes, rgbFloat, hsv);
    return hsv;
}

const cv::Vec3b kBlack(0, 0, 0);
const cv::Vec3b kWhite(255, 255, 255);
const cv::Vec3b kGrid(50, 50, 50);
const cv::Vec4b kHighlight(0, 0, 255, 255); // B, G, R, A

} // namespace

class TestScopes : public QObject {
    Q_OBJECT

private slots:

    void geometryAndColourWheel()
    {
        // h, s, v -> r, g, b
        const double colours[][6] = {
            { 0.0, 1.0, 1.0, 255, 0, 0 }, // red
            { 1.0, 1.0, 1.0, 255, 0, 0 }, // a full turn is red again
            { 0.5, 1.0, 1.0, 0, 255, 255 }, // i = 3, f = 0: (p, q, v) = (0, 1, 1), cyan
            { 0.25, 1.0, 1.0, 128, 255, 0 }, // i = 1, f = 0.5: q = 0.5 -> 127.5 rounds up
            { 0.5, 0.5, 0.5, 64, 128, 128 }, // p = 0.25 -> 63.75, q = v = 0.5 -> 127.5
            { 0.75, 1.0, 0.2, 26, 0, 51 }, // i = 4, f = 0.5: t = 0.1 -> 25.5 rounds up
            { 0.9, 0.0, 1.0, 255, 255, 255 }, // no saturation: white whatever the hue
            // Hue 10 degrees: t = (1 - (1 - f) s) v is 0.1 exactly, 25.5 x 255, but
            // each step rounded on its own leaves it just below; a build that
            // fused a multiply and an add would round it up.
            { 10.0 / 360, 0.2, 0.12, 31, 25, 24 },
            { 10.0 / 360, 0.2, 0.6, 153, 127, 122 },
        };
        for (const auto& c : colours) {
            cv::Vec3d rgb;
            scopes::hsvToRgb(c[0], c[1], c[2], rgb[0], rgb[1], rgb[2]);
            QCOMPARE(rgb, cv::Vec3d(c[3], c[4], c[5]));
        }

        cv::Mat wheel;
        scopes::renderColorWheel(wheel, 400, 400, 150.0);
        for (const cv::Point p : { cv::Point(0, 0), cv::Point(399, 399), cv::Point(200, 30), cv::Point(360, 200) })
            QCOMPARE(wheel.at<cv::Vec3b>(p.y, p.x), kBlack); // outside the radius
        // The centre is black before the blur; its eight neighbours are (1, 1, 1)
        // (value 1/300 x 255 = 0.85 rounds to 1), so the 3x3 blur gives 0.75 -> 1.
        QCOMPARE(wheel.at<cv::Vec3b>(200, 200), cv::Vec3b(1, 1, 1));
        // Near the rim (d = 145/150, value 0.483 -> 123): red up, hue 90 left, cyan down.
        const cv::Vec3b up = wheel.at<cv::Vec3b>(55, 200), left = wheel.at<cv::Vec3b>(200, 55),
                        down = wheel.at<cv::Vec3b>(345, 200);
        QVERIFY2(up[0] > 110 && up[1] < 15 && up[2] < 15, "red at the top");
        QVERIFY2(left[1] > 110 && std::abs(left[0] - left[1] / 2) < 8 && left[2] < 15, "hue 90 on the left");
        QVERIFY2(down[0] < 15 && down[1] > 110 && down[2] > 110, "cyan at the bottom");
    }

    void solidFramesOnTheVectorscope()
    {
        // Radius 150 at 400: red (hue 0, S 1) -> (200, 50); green (hue 120) ->
        // (200 - round(129.9), 200 + 75) = (70, 275); grey (S 0) the centre. One
        // cell normalises to 1, a = 2: white; its side neighbours get 0.1238 /
        // 1.2042 = 0.1028 of it after smoothing, a = 2 x 0.1028^0.3 = 1.011, white
        // too. Black (V < 0.01) counts nowhere: k = 1 keeps the wheel.
        const std::pair<cv::Vec3i, cv::Point> cases[] = { { { 255, 0, 0 }, { 200, 50 } },
            { { 0, 255, 0 }, { 70, 275 } }, { { 128, 128, 128 }, { 200, 200 } }, { { 0, 0, 0 }, { -9, -9 } } };
        cv::Mat wheel, scope;
        scopes::renderColorWheel(wheel, 400, 400, 150.0);
        scopes::VectorscopePlotter plotter; // one for all: each plot leaves nothing of the one before
        for (const auto& [rgb, cell] : cases) {
            scope = plotter.plot(solidFrame(400, 300, rgb[0], rgb[1], rgb[2]), wheel, 150.0);
            const std::vector<cv::Point> changed = differences(scope, wheel);
            for (const cv::Point d : changed) // black's cell, off the picture: nothing may change
                QVERIFY(std::abs(d.x - cell.x) <= 1 && std::abs(d.y - cell.y) <= 1);
            for (const cv::Point d :
                { cv::Point(0, 0), cv::Point(1, 0), cv::Point(-1, 0), cv::Point(0, 1), cv::Point(0, -1) })
                QVERIFY(cell.x < 0 || scope.at<cv::Vec3b>(cell + d) == kWhite);
        }
    }

    void countingThresholds()
    {
        // One-pixel frames: weight 1000 / 1; the cells sum to 1000 when the pixel counts.
        const std::tuple<int, int, int, bool, const char*> cases[] = {
            // R, G, B, whether it counts
            { 26, 26, 26, true, "V = 0.102 > 0.1 counts even without colour" },
            { 25, 25, 25, false, "V = 0.098, S = 0: too dark for grey" },
            { 3, 0, 0, true, "V = 0.0118 >= 0.01 with S = 1" },
            { 2, 0, 0, false, "V = 0.0078 < 0.01 never counts" },
            { 20, 18, 18, true, "V = 0.078, S = 0.1 > 0.05" },
            { 20, 19, 19, false, "V = 0.078, S = 1/20 is not above 0.05" },
            { 200, 195, 195, true, "bright, nearly grey" },
        };
        cv::Mat cells;
        for (const auto& [r, g, b, counts, why] : cases) {
            scopes::accumulateHsv(hsvOf(solidFrame(1, 1, r, g, b)), 400, 150.0, scopes::pixelWeight(1), cells);
            QVERIFY2(cv::sum(cells)[0] == (counts ? 1000.0 : 0.0), why);
        }
    }

    void pointerMarker()
    {
        // Grey at (0, 0) and black at (1, 0) (no brightness test here) mark the
        // centre, red at (3, 1) its cell (200, 50): a plus sign with arms of 6
        // pixels, 25 in all. A pointer outside the frame draws nothing.
        cv::Mat frame = solidFrame(4, 2, 128, 128, 128);
        frame.at<cv::Vec4b>(0, 1) = cv::Vec4b(0, 0, 0, 255);
        frame.at<cv::Vec4b>(1, 3) = cv::Vec4b(0, 0, 255, 255);
        const cv::Mat hsv = hsvOf(frame);
        const cv::Mat blank(400, 400, CV_8UC3, cv::Scalar::all(9));
        const std::pair<cv::Point, cv::Point> cases[] = { { { 0, 0 }, { 200, 200 } }, { { 1, 0 }, { 200, 200 } },
            { { 3, 1 }, { 200, 50 } }, { { -1, 0 }, { -1, 0 } }, { { 4, 0 }, { -1, 0 } }, { { 0, 2 }, { -1, 0 } },
            { { -100, -100 }, { -1, 0 } } }; // pointer, centre (x -1: nothing drawn)
        for (const auto& [pointer, centre] : cases) {
            cv::Mat scope = blank.clone();
            scopes::drawPointerMarker(scope, hsv, pointer.x, pointer.y, 150.0);
            const std::vector<cv::Point> changed = differences(scope, blank);
            QCOMPARE(changed.size(), centre.x < 0 ? size_t(0) : size_t(25));
            for (const cv::Point p : changed) {
                const cv::Point d = p - centre;
                QVERIFY((d.x == 0 && std::abs(d.y) <= 6) || (d.y == 0 && std::abs(d.x) <= 6));
                QCOMPARE(scope.at<cv::Vec3b>(p.y, p.x), cv::Vec3b(255, 0, 0));
            }
        }
    }

    void dominantHueAndSkinToneLines()
    {
        // Hue 0: end (200 + round(sin(pi) L), 200 + round(cos(pi) L)), L = 150 x
        // 1.1f = 165.0000036: (200, 35), straight up where red is plotted; hue
        // 0.25 ends at (35, 200). Only the first `count` hues: 0.5 would point
        // down. A count beyond the list reads nothing past it.
        cv::Mat scope = cv::Mat::zeros(400, 400, CV_8UC3);
        scopes::drawDominantHueLines(scope, {}, 4, 150.0);
        scopes::drawDominantHueLines(scope, { 0.0f, 0.25f, 0.5f }, 2, 150.0);
        const auto blue
            = [&](int x, int y) { return scope.at<cv::Vec3b>(y, x)[2] > 200 && scope.at<cv::Vec3b>(y, x)[0] == 0; };
        QVERIFY(blue(200, 100) && blue(200, 36) && blue(100, 200) && !blue(201, 100) && !blue(200, 34));
        QCOMPARE(cv::countNonZero(scope(cv::Rect(202, 0, 198, 400)).reshape(1)), 0);
        QCOMPARE(cv::countNonZero(scope(cv::Rect(0, 202, 400, 198)).reshape(1)), 0);

        // Skin tone: end plotPoint(0.33161255787, 165.0000036): sin 0.32557, cos
        // 0.94552 -> (200 - round(53.72), 200 - round(156.01)) = (146, 44); at
        // row 122, halfway, x = 173: (255, 200, 127) scaled by its coverage.
        scope.setTo(cv::Scalar::all(0));
        scopes::drawSkinToneLine(scope, 150.0);
        const cv::Vec3b c = scope.at<cv::Vec3b>(122, 173);
        QVERIFY(c[0] >= 200 && std::abs(c[1] - c[0] * 200 / 255) <= 2 && std::abs(c[2] - c[0] * 127 / 255) <= 2);
        QCOMPARE(scope.at<cv::Vec3b>(40, 146), kBlack);
        QCOMPARE(cv::countNonZero(scope.rowRange(202, 400).reshape(1)), 0);
    }

    void hoverHighlightInTheVectorscope()
    {
        // Dark red (hue 0, S 1); hue 10.1 (R 255, G 43); hue 12 (G 51); green.
        // (200, 50) is direction 0.5 turns (red plus half a turn), saturation 1.
        // Hue 0: dh = 0; 10.1: dh = 0.0281, 0.00079 < 0.001; 12: dh = 0.0333,
        // 0.00111, out; green: dh = 1/3. Saturation 1.03: ds = -0.03, 0.0009, in;
        // 1.04: 0.0016, out. Green's own direction: 1/3 + 1/2 = 0.8333.
        const cv::Mat frame = (cv::Mat_<cv::Vec4b>(1, 4) << cv::Vec4b(0, 0, 128, 255), cv::Vec4b(0, 43, 255, 255),
            cv::Vec4b(0, 51, 255, 255), cv::Vec4b(0, 255, 0, 255));
        const cv::Mat hsv = hsvOf(frame);
        const std::tuple<float, double, const char*> cases[]
            = { { 0.5f, 1.0, "1100" }, { 0.5f, 1.03, "1000" }, { 0.5f, 1.04, "0000" }, { 0.8333333f, 1.0, "0001" } };
        for (const auto& [hue, saturation, highlighted] : cases) {
            cv::Mat painted = frame.clone();
            scopes::highlightMatchingHues(painted, hsv, hue, saturation);
            for (int x = 0; x < 4; ++x)
                QCOMPARE(painted.at<cv::Vec4b>(0, x), highlighted[x] == '1' ? kHighlight : frame.at<cv::Vec4b>(0, x));
        }
    }

    void levelsUseTheCeiling()
    {
        // Byte 1: 1/255 x 127 = 0.498, ceiling 1 (rounding would give 0); 0.5 x 127 = 63.5 -> 64.
        cv::Mat rgbBytes, rgbFloat;
        scopes::frameToRgbFloat(solidFrame(1, 1, 1, 0, 255), rgbBytes, rgbFloat);
        const cv::Vec3f v = rgbFloat.at<cv::Vec3f>(0, 0);
        QCOMPARE(cv::Vec3i(scopes::levelOf(v[0]), scopes::levelOf(v[1]), scopes::levelOf(v[2])), cv::Vec3i(1, 0, 127));
        QCOMPARE(scopes::levelOf(0.5f), 64);
    }

    void blackFrameWaveformAndParade()
    {
        // Every count in row 127: stretched to 266 rows the bottom row normalises
        // to 1 and 2 + ... clamps to 255; the ten graticule rows turn grey. The
        // Parade's panels are 400 / 3 = 133 wide: blue 0..132, green 133..265,
        // red 266..398, and column 399 is left black but for the graticule.
        scopes::WaveformBuffers buffers;
        cv::Mat waveform, parade;
        scopes::renderWaveform(solidFrame(400, 225, 0, 0, 0), 400, false, buffers, waveform);
        scopes::renderWaveform(solidFrame(400, 225, 0, 0, 0), 400, true, buffers, parade);
        QCOMPARE(waveform.size(), cv::Size(400, 266));
        QCOMPARE(parade.size(), cv::Size(400, 266));
        const std::set<int> grid = { 0, 26, 53, 79, 106, 133, 159, 186, 212, 239 }; // trunc(i x 266 / 10)
        for (int y = 0; y < 266; ++y) {
            const cv::Vec3b background = grid.count(y) ? kGrid : kBlack;
            for (int x : { 0, 200, 399 })
                if (y < 260 || y == 265) // the rows just above the bottom one catch the trace's blur
                    QCOMPARE(waveform.at<cv::Vec3b>(y, x), y == 265 ? kWhite : background);
            QCOMPARE(parade.at<cv::Vec3b>(y, 399), background);
        }
        const std::pair<int, cv::Vec3b> bottom[] = { { 0, { 0, 0, 255 } }, { 132, { 0, 0, 255 } },
            { 133, { 0, 255, 0 } }, { 265, { 0, 255, 0 } }, { 266, { 255, 0, 0 } }, { 398, { 255, 0, 0 } } };
        for (const auto& [x, colour] : bottom)
            QCOMPARE(parade.at<cv::Vec3b>(265, x), colour);
        // 150 wide: panels of 50, no column left over; 100 rows.
        scopes::renderWaveform(solidFrame(150, 84, 0, 0, 0), 150, true, buffers, parade);
        QCOMPARE(parade.size(), cv::Size(150, 100));
        QCOMPARE(parade.at<cv::Vec3b>(99, 149), cv::Vec3b(255, 0, 0));
    }

    void hoverHighlightInTheWaveformAndParade()
    {
        // A 400 x 266 picture; pointer height 133 is level 133 x 255 / 266 = 127.5,
        // height 5 is 250.2. Frame columns within 10 of the pointer's column are
        // compared, mapped by sp = 400 / frame columns (200 wide: sp 2, scope
        // columns 90..110 are frame columns 45..55). The Waveform compares
        // (B + G + R) x 0.333: grey 137 -> 136.86 (9.36 away, in), 138 -> 137.86
        // (10.36, out), 118 -> 117.88 (9.62, in). The Parade compares the pointed
        // panel's channel (third = 133) at (x mod 133) x 3: x 200, green, 201;
        // x 10, blue, 30; x 300, red, 102.
        const cv::Scalar rows[2][3] = { { { 137, 137, 137, 255 }, { 138, 138, 138, 255 }, { 118, 118, 118, 255 } },
            { { 0, 120, 250, 255 }, { 127, 117, 127, 255 }, { 128, 137, 128, 255 } } }; // Waveform, Parade
        // Parade, frame width, pointer; per frame row the first and last highlighted column, -1 none.
        const std::tuple<bool, int, double, double, cv::Vec3i, cv::Vec3i> cases[] = {
            { false, 400, 100, 133, { 90, -1, 90 }, { 110, -1, 110 } },
            { false, 400, -1, -1, { -1, -1, -1 }, { -1, -1, -1 } }, // before the pointer was over the plot
            { false, 200, 100, 133, { 45, -1, 45 }, { 55, -1, 55 } },
            { true, 400, 200, 133, { 191, -1, 191 }, { 211, -1, 211 } }, // green 120 (7.5) and 137 (9.5) in, 117 out
            { true, 400, 10, 133, { -1, 20, 20 }, { -1, 40, 40 } }, // blue 127 and 128 in, 0 out
            { true, 400, 300, 5, { 92, -1, -1 }, { 112, -1, -1 } }, // red 250 in
        };
        for (const auto& [parade, width, px, py, first, last] : cases) {
            cv::Mat frame(3, width, CV_8UC4);
            for (int row = 0; row < 3; ++row)
                frame.row(row).setTo(rows[parade][row]);
            scopes::highlightMatchingLevels(frame, 400, 266, px, py, parade);
            for (int row = 0; row < 3; ++row)
                for (int x = 0; x < width; ++x)
                    QCOMPARE(frame.at<cv::Vec4b>(row, x) == kHighlight, x >= first[row] && x <= last[row]);
        }
    }

    void imageToFrame()
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
        // Alpha is dropped (a transparent pixel is opaque in the frame); grey fills B, G, R.
        QCOMPARE(scopes::frameFromImage(cv::Mat(2, 2, CV_8UC4, cv::Scalar(40, 50, 60, 0)), 150).at<cv::Vec4b>(1, 1),
            cv::Vec4b(40, 50, 60, 255));
        QCOMPARE(scopes::frameFromImage(cv::Mat(2, 2, CV_8UC1, cv::Scalar(77)), 150).at<cv::Vec4b>(1, 1),
            cv::Vec4b(77, 77, 77, 255));
        // A sliver that would scale to no rows keeps one.
        QCOMPARE(scopes::frameFromImage(cv::Mat(1, 1000, CV_8UC3, cv::Scalar::all(0)), 400).size(), cv::Size(400, 1));
    }
};

QTEST_GUILESS_MAIN(TestScopes)
#include "test_scopes.moc"
