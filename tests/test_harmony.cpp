// Colour harmony arithmetic: HSL swatch colours, colour codes and the
// directions measured on the vectorscope. Expected values are worked out by
// hand from the formulas (S and L as stored floats, thresholds at 14 decimals).

#include "scopes/Harmony.h"

#include <QtTest>

using harmony::Rgb;

Q_DECLARE_METATYPE(harmony::Rgb)

namespace QTest {
template <> char* toString(const harmony::Rgb& c)
{
    return qstrdup(QByteArray(
        "(" + QByteArray::number(c.r) + ", " + QByteArray::number(c.g) + ", " + QByteArray::number(c.b) + ")")
                       .constData());
}

template <> char* toString(const cv::Point& p)
{
    return qstrdup(QByteArray("(" + QByteArray::number(p.x) + ", " + QByteArray::number(p.y) + ")").constData());
}
} // namespace QTest

class TestHarmony : public QObject {
    Q_OBJECT
private slots:
    void channelThresholdsAreTheFourteenDecimalValues();
    void channelReducesItsArgumentOnce();
    void swatchColours_data();
    void swatchColours();
    void colourCodeKeepsTwoDigitsPerChannel();
    void wrapReducesOnce();
    void turnsFromPointsOnThePlot();
    void endPointsRoundHalfAwayFromZero();
};

void TestHarmony::channelThresholdsAreTheFourteenDecimalValues()
{
    // Exact sixths and two-thirds would put these t on the ramps and give
    // 0.99999999999996 and 0.00000000000004; the program's thresholds put
    // them on the flat parts. Compared exactly, not fuzzily.
    QVERIFY(harmony::hslChannel(0.0, 1.0, 0.16666666666666) == 1.0);
    QVERIFY(harmony::hslChannel(0.0, 1.0, 0.66666666666666) == 0.0);
    const double justBelowTheTop = harmony::hslChannel(0.0, 1.0, 0.5); // (0.66666666666666 - 0.5) * 6
    QVERIFY(justBelowTheTop < 1.0 && justBelowTheTop > 0.9999999999999);
    QCOMPARE(harmony::hslChannel(0.0, 1.0, 0.1), 0.6);
    QCOMPARE(harmony::hslChannel(0.25, 0.75, 0.3), 0.75);
    QCOMPARE(harmony::hslChannel(0.25, 0.75, 0.9), 0.25);
}

void TestHarmony::channelReducesItsArgumentOnce()
{
    QCOMPARE(harmony::hslChannel(0.2, 0.8, -0.25), 0.2); // 0.75: p
    QCOMPARE(harmony::hslChannel(0.2, 0.8, 1.25), 0.8); // 0.25: q
    QCOMPARE(harmony::hslChannel(0.2, 0.8, 1.0), 0.2); // 1 stays 1: p
}

void TestHarmony::swatchColours_data()
{
    QTest::addColumn<double>("hue");
    QTest::addColumn<float>("saturation");
    QTest::addColumn<float>("lightness");
    QTest::addColumn<Rgb>("expected");

    // Defaults S 0.75, L 0.5: q = 0.875, p = 0.125, so the flat parts are 223.125 -> 223 and 31.875 -> 32.
    QTest::newRow("red at hue 1") << 1.0 << 0.75f << 0.5f << Rgb { 223, 32, 32 };
    QTest::newRow("cyan at hue 0.5") << 0.5 << 0.75f << 0.5f << Rgb { 32, 223, 223 };
    // R sits on the falling ramp: 0.125 + 0.75 * 0.08333333333333 * 6 = 0.49999999999999 -> 127.49... -> 127.
    QTest::newRow("yellow-green at 0.25") << 0.25 << 0.75f << 0.5f << Rgb { 127, 223, 32 };
    QTest::newRow("violet at 0.75") << 0.75 << 0.75f << 0.5f << Rgb { 127, 32, 223 };
    // Full saturation: q = 1, p = 0; 255 * 0.49999999999998 = 127.4999... rounds down, exact thirds would give 128.
    QTest::newRow("full saturation at 0.25") << 0.25 << 1.0f << 0.5f << Rgb { 127, 255, 0 };
    // Swatch 3 can ask for up to 1.5; the channel reduces it to 0.5.
    QTest::newRow("hue 1.5 like 0.5") << 1.5 << 0.75f << 0.5f << Rgb { 32, 223, 223 };
    // L below 0.5: q = 0.25 * 1.5 = 0.375 -> 95.625 -> 96, p = 0.125 -> 32.
    QTest::newRow("dark red") << 1.0 << 0.5f << 0.25f << Rgb { 96, 32, 32 };
    // S 0: round(0.5 * 255) = round(127.5) = 128, half away from zero.
    QTest::newRow("grey") << 0.3 << 0.0f << 0.5f << Rgb { 128, 128, 128 };
    QTest::newRow("white") << 0.3 << 0.75f << 1.0f << Rgb { 255, 255, 255 };
    QTest::newRow("white without saturation") << 0.3 << 0.0f << 1.0f << Rgb { 255, 255, 255 };
    QTest::newRow("black") << 0.3 << 0.75f << 0.0f << Rgb { 0, 0, 0 };
}

void TestHarmony::swatchColours()
{
    QFETCH(double, hue);
    QFETCH(float, saturation);
    QFETCH(float, lightness);
    QFETCH(Rgb, expected);
    QCOMPARE(harmony::hslColor(hue, saturation, lightness), expected);
}

void TestHarmony::colourCodeKeepsTwoDigitsPerChannel()
{
    QCOMPARE(harmony::colorCode(Rgb { 255, 5, 0 }), QStringLiteral("#ff0500"));
    QCOMPARE(harmony::colorCode(Rgb { 255, 128, 0 }), QStringLiteral("#ff8000"));
    QCOMPARE(harmony::colorCode(Rgb { 10, 11, 12 }), QStringLiteral("#0a0b0c"));
    QCOMPARE(harmony::colorCode(Rgb { 0, 0, 0 }), QStringLiteral("#000000"));
}

void TestHarmony::wrapReducesOnce()
{
    QCOMPARE(harmony::wrapTurn(-0.25), 0.75);
    QCOMPARE(harmony::wrapTurn(1.25), 0.25);
    QCOMPARE(harmony::wrapTurn(1.0), 1.0);
    QCOMPARE(harmony::wrapTurn(0.0), 0.0);
    QCOMPARE(harmony::wrapTurn(2.5), 1.5);
}

void TestHarmony::turnsFromPointsOnThePlot()
{
    // Half a turn from the hue plotted there: up is hue 0, left hue 90 (counter-clockwise).
    QCOMPARE(harmony::turnFromPoint(200, 200, 200), 0.5); // the centre: atan2(0, 0) = 0
    QCOMPARE(harmony::turnFromPoint(200, 200, 50), 0.5); // up
    QCOMPARE(harmony::turnFromPoint(200, 50, 200), 0.75); // left
    QCOMPARE(harmony::turnFromPoint(200, 200, 350), 1.0); // down: atan2(0, -150) = pi
    QCOMPARE(harmony::turnFromPoint(200, 350, 200), 0.25); // right
    QCOMPARE(harmony::turnFromPoint(200, 50, 50), 0.625); // upper left: (pi/4 + pi) / 2pi
}

void TestHarmony::endPointsRoundHalfAwayFromZero()
{
    const double reach = 150.0 * static_cast<double>(1.1f); // 165.0000036
    QCOMPARE(harmony::harmonyEndPoint(200, 0.5, reach), cv::Point(200, 35));
    QCOMPARE(harmony::harmonyEndPoint(200, 0.5, reach, -1), cv::Point(200, 365));
    QCOMPARE(harmony::harmonyEndPoint(200, 0.75, reach), cv::Point(35, 200));
    // sin and cos of 1.25 pi: -0.70710678 * 165 = -116.67 -> -117.
    QCOMPARE(harmony::harmonyEndPoint(200, 0.625, reach), cv::Point(83, 83));
    // +-2.5 rounds to +-3; floor(x + 0.5) would give -2 on the negative side.
    QCOMPARE(harmony::harmonyEndPoint(200, 0.25, 2.5), cv::Point(203, 200));
    QCOMPARE(harmony::harmonyEndPoint(200, 0.75, 2.5), cv::Point(197, 200));
}

QTEST_GUILESS_MAIN(TestHarmony)
#include "test_harmony.moc"
