// What the window shows without converting or copying: the scope picture as
// B, G, R, 255, the spans that say what changed (from the plotter and from
// the overlays), and the frame copy that says whether the preview changed.

#include "cycle/FrameSum.h"
#include "display/ShownPicture.h"
#include "scopes/ChangedSpans.h"
#include "scopes/ScopePath.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/VectorscopePlot.h"

#include <QImage>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The painted pixels (any byte not 0) that lie outside `spans`, as "x,y" text.
QString paintedOutside(const cv::Mat& picture, const scopes::ChangedSpans& spans)
{
    QStringList outside;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec3b p = picture.at<cv::Vec3b>(y, x);
            const scopes::ChangedSpans::Span s = spans.row(y);
            if (p != cv::Vec3b(0, 0, 0) && (x < s.x0 || x > s.x1))
                outside << QStringLiteral("%1,%2").arg(x).arg(y);
        }
    return outside.join(QLatin1Char(' '));
}

// Qt's own conversion of an R, G, B picture to QImage::Format_RGB32, as bytes.
cv::Mat qtRgb32(const cv::Mat& rgb)
{
    const QImage image = QImage(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888)
                             .convertToFormat(QImage::Format_RGB32);
    cv::Mat out(rgb.rows, rgb.cols, CV_8UC4);
    for (int y = 0; y < rgb.rows; ++y)
        std::memcpy(out.ptr(y), image.constScanLine(y), static_cast<size_t>(rgb.cols) * 4);
    return out;
}

cv::Mat randomRgb(int cols, int rows, uint64 seed)
{
    cv::Mat rgb(rows, cols, CV_8UC3);
    cv::RNG(seed).fill(rgb, cv::RNG::UNIFORM, 0, 256);
    return rgb;
}

} // namespace

class TestShownPicture : public QObject {
    Q_OBJECT

private slots:

    // Fault guarded: the vectorscope brings back from the cached plot only
    // where the last overlays said they painted; a smoothed line's fringe or
    // end left outside stayed on the picture as a trace of an old overlay.
    void overlaysPaintOnlyWhereTheySay()
    {
        const int size = 400;
        const cv::Point centre(size / 2, size / 2);
        const std::vector<cv::Point> ends = { { 200, 35 }, { 365, 200 }, { 200, 365 }, { 35, 200 }, { 201, 35 },
            { 36, 199 }, { 317, 83 }, { 83, 317 }, { 329, 274 }, { 110, 60 }, { 200, 200 }, { 420, 150 }, { -30, 410 },
            { 399, 0 }, { 0, 399 }, { 203, 60 }, { 60, 203 } };
        for (const cv::Point& end : ends) {
            cv::Mat picture = cv::Mat::zeros(size, size, CV_8UC3);
            scopes::ChangedSpans spans;
            spans.none(size, size);
            cv::line(picture, centre, end, cv::Scalar(255, 200, 127), 1, cv::LINE_AA);
            spans.addLine(centre, end);
            const QString outside = paintedOutside(picture, spans);
            QVERIFY2(
                outside.isEmpty(), qPrintable(QStringLiteral("line to %1,%2: %3").arg(end.x).arg(end.y).arg(outside)));
        }

        // The overlays themselves, on every picture size they meet.
        for (const int windowSize : { 150, 401, 600 }) {
            const double radius = (windowSize / 2) * 0.75;
            std::vector<float> hues;
            for (int i = 0; i < 36; ++i)
                hues.push_back(static_cast<float>(i) / 36.0f + 0.013f);
            cv::Mat picture = cv::Mat::zeros(windowSize, windowSize, CV_8UC3);
            scopes::ChangedSpans spans;
            spans.none(windowSize, windowSize);
            scopes::drawDominantHueLines(picture, hues, static_cast<int>(hues.size()), radius, &spans);
            scopes::drawSkinToneLine(picture, radius, &spans);
            for (const float hue : { 0.0f, 45.0f, 123.0f, 359.0f })
                for (const float saturation : { 0.0f, 0.5f, 1.0f })
                    for (const int zoom : { 1, 4 })
                        scopes::drawPointerMarkerFor(picture, hue, saturation, radius, zoom, &spans);
            const QString outside = paintedOutside(picture, spans);
            QVERIFY2(outside.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(windowSize).arg(outside)));
        }
    }

    void spansCutToThePictureAndGrowIntoOneRunPerRow()
    {
        scopes::ChangedSpans spans;
        spans.none(10, 20);
        QVERIFY(!spans.any());
        spans.add(3, 5, 7);
        spans.add(3, 12, 14);
        spans.add(cv::Rect(-5, 8, 10, 5)); // rows 8 to 12, columns -5 to 4
        spans.add(-1, 0, 19);
        spans.add(10, 0, 19);
        spans.add(4, 25, 30);
        QVERIFY(spans.any());
        QCOMPARE(spans.row(3).x0, 5);
        QCOMPARE(spans.row(3).x1, 14);
        QCOMPARE(spans.row(8).x0, 0);
        QCOMPARE(spans.row(9).x1, 4);
        QVERIFY(spans.row(4).x0 > spans.row(4).x1);
        scopes::ChangedSpans more;
        more.none(10, 20);
        more.add(spans);
        QCOMPARE(more.row(3).x1, 14);

        // Copying follows the spans and nothing else.
        const cv::Mat from = randomRgb(20, 10, 5);
        cv::Mat to = cv::Mat::zeros(10, 20, CV_8UC3);
        scopes::copySpans(from, to, spans);
        QCOMPARE(to.at<cv::Vec3b>(3, 9), from.at<cv::Vec3b>(3, 9));
        QCOMPARE(to.at<cv::Vec3b>(3, 4), cv::Vec3b(0, 0, 0));
        QCOMPARE(to.at<cv::Vec3b>(9, 4), from.at<cv::Vec3b>(9, 4));
        QCOMPARE(to.at<cv::Vec3b>(9, 5), cv::Vec3b(0, 0, 0));
    }

    void theShownPictureIsQtsRgb32OfTheScope()
    {
        // Widths that end on every position of the four-pixel steps.
        for (const int cols : { 1, 5, 6, 7, 37, 400 }) {
            const cv::Mat rgb = randomRgb(cols, 13, static_cast<uint64>(cols));
            cv::Mat shown;
            QCOMPARE(scopes::showAsBgrx(rgb, shown), cv::Rect(0, 0, cols, 13)); // a new buffer: all of it
            QVERIFY(samePicture(shown, qtRgb32(rgb)));
            const uchar* buffer = shown.data;
            QVERIFY(scopes::showAsBgrx(rgb, shown).empty());

            // One pixel changed, at the row's last column: that row alone.
            cv::Mat next = rgb.clone();
            next.at<cv::Vec3b>(7, cols - 1)[1] ^= 1;
            QCOMPARE(scopes::showAsBgrx(next, shown), cv::Rect(0, 7, cols, 1));
            QVERIFY(samePicture(shown, qtRgb32(next)));
            QCOMPARE(shown.data, buffer); // in place, where the label's pixmap may be looking
        }

        // Over spans: only they are read, and the rectangle holds what
        // changed; so do the bands' rectangles, one per band of rows.
        const cv::Mat rgb = randomRgb(50, 20, 9);
        cv::Mat shown;
        scopes::showAsBgrx(rgb, shown);
        cv::Mat next = randomRgb(50, 20, 10);
        scopes::ChangedSpans spans;
        spans.none(20, 50);
        spans.add(4, 10, 20);
        spans.add(11, 2, 3);
        spans.add(scopes::kShownBandRows + 2, 30, 31);
        std::vector<cv::Rect> bands;
        QCOMPARE(scopes::showAsBgrx(next, shown, spans, &bands), cv::Rect(2, 4, 30, scopes::kShownBandRows - 1));
        QCOMPARE(
            bands, (std::vector<cv::Rect> { cv::Rect(2, 4, 19, 8), cv::Rect(30, scopes::kShownBandRows + 2, 2, 1) }));
        cv::Mat expected = qtRgb32(rgb);
        for (const cv::Rect& run :
            { cv::Rect(10, 4, 11, 1), cv::Rect(2, 11, 2, 1), cv::Rect(30, scopes::kShownBandRows + 2, 2, 1) })
            qtRgb32(next)(run).copyTo(expected(run));
        QVERIFY(samePicture(shown, expected));
        // Spans over bytes that did not change: nothing to repaint.
        QVERIFY(scopes::showAsBgrx(next, shown, spans).empty());
        // Another size: all of it, whatever the spans say.
        const cv::Mat wider = randomRgb(60, 20, 11);
        QCOMPARE(scopes::showAsBgrx(wider, shown, spans), cv::Rect(0, 0, 60, 20));
        QVERIFY(samePicture(shown, qtRgb32(wider)));
    }

    // Fault guarded: the preview is repainted only when the frame copy says
    // a byte changed; a change it missed left an old frame on screen.
    void theFrameCopySaysWhetherAnyByteChanged()
    {
        // 9 x 5 pixels: 180 bytes, two steps of sixty-four and a tail of 52.
        cv::Mat frame(5, 9, CV_8UC4);
        cv::RNG(4).fill(frame, cv::RNG::UNIFORM, 0, 256);
        const struct {
            const char* what;
            std::vector<int> bytes; // those changed
        } cases[] = { { "no byte", {} }, { "the first", { 0 } }, { "one in the second step", { 70 } },
            { "the last of the steps", { 127 } }, { "one in the tail", { 150 } }, { "the last", { 179 } },
            { "one in each step", { 5, 100 } }, { "a step and the tail", { 63, 128 } } };
        for (const auto& c : cases) {
            cv::Mat to = frame.clone();
            cv::Mat from = frame.clone();
            for (const int byte : c.bytes)
                from.data[byte] ^= 0x10;
            bool changed = c.bytes.empty();
            cv::Range rows(-1, -1);
            const quint32 sum = scopes::copyFrameAndSum(from, to, &changed, &rows);
            QVERIFY2(changed == !c.bytes.empty(), c.what);
            // The rows that hold the changed bytes (36 a row), the preview's repaint.
            QVERIFY2(rows.empty() == c.bytes.empty(), c.what);
            for (const int byte : c.bytes)
                QVERIFY2(rows.start <= byte / 36 && byte / 36 < rows.end, c.what);
            QCOMPARE(sum, scopes::frameByteSum(from));
            QVERIFY2(samePicture(to, from), c.what);
        }
        // A new size, and a source that is part of a larger picture.
        cv::Mat to(2, 2, CV_8UC4, cv::Scalar::all(0));
        bool changed = false;
        scopes::copyFrameAndSum(frame, to, &changed);
        QVERIFY(changed);
        const cv::Mat part = frame(cv::Rect(1, 1, 4, 2));
        cv::Mat same = part.clone();
        scopes::copyFrameAndSum(part, same, &changed);
        QVERIFY(!changed);
        same.at<cv::Vec4b>(1, 3)[2] ^= 1;
        scopes::copyFrameAndSum(part, same, &changed);
        QVERIFY(changed);
        QVERIFY(samePicture(same, part));
    }

    // Fault guarded: the window copies from the plotter's picture only what
    // the plotter says its last plot changed; a change outside left part of
    // an older plot on the scope.
    void aCopyFollowingThePlottersSpansIsThePicture()
    {
        for (const scopes::ScopePath path : scopes::runnableScopePaths()) {
            scopes::setScopePath(path);
            cv::Mat wheel;
            scopes::renderColorWheel(wheel, 400, 400, 150.0);
            scopes::VectorscopePlotter plotter;
            cv::Mat follower;
            cv::RNG rng(8);
            for (int step = 0; step < 8; ++step) {
                cv::Mat frame(120, 160, CV_8UC4, cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), 40, 255));
                // Patches of their own colours, some steps with noise: plots of other shapes each time.
                for (int i = 0; i < 4; ++i)
                    frame(cv::Rect(rng.uniform(0, 120), rng.uniform(0, 90), 40, 30))
                        .setTo(cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256), 255));
                if (step % 3 == 1) {
                    cv::Mat noise(120, 160, CV_8UC4);
                    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
                    noise(cv::Rect(0, 0, 160, 40)).copyTo(frame(cv::Rect(0, 0, 160, 40)));
                    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
                }
                if (step == 5)
                    plotter.forgetPicture();
                // One plot the plain way in between, then back; and one magnified.
                scopes::setScopePath(step == 6 ? scopes::ScopePath::Plain : path);
                const cv::Mat picture = plotter.plot(frame, wheel, 150.0, cv::Rect(), step == 3 ? 2 : 1);
                if (follower.empty())
                    follower = wheel.clone();
                scopes::ChangedSpans spans;
                spans.none(picture.rows, picture.cols);
                const auto& changed = plotter.changedSpans();
                QCOMPARE(static_cast<int>(changed.size()), picture.rows);
                for (int y = 0; y < picture.rows; ++y)
                    spans.add(y, changed[static_cast<size_t>(y)].x0, changed[static_cast<size_t>(y)].x1);
                scopes::copySpans(picture, follower, spans);
                QVERIFY2(samePicture(follower, picture),
                    qPrintable(QStringLiteral("%1, step %2").arg(scopes::scopePathName(path)).arg(step)));
            }
        }
        scopes::setScopePath(scopes::runnableScopePaths().front());
    }
};

QTEST_MAIN(TestShownPicture)
#include "test_shown_picture.moc"
