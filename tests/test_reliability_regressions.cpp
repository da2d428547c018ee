// Faults that fuzzing and the fault tests found, one case each, so they stay fixed.
#include "capture/RegionMath.h"

#include <QtTest>

class ReliabilityRegressionsTest : public QObject {
    Q_OBJECT
private slots:
    // Found by fuzzing the drag-to-record path: with fewer than 0.75
    // screenshot pixels per label pixel (QT_SCALE_FACTOR=0.5), a flat drag's
    // one-pixel-high selection became a monitor rectangle of height 0, stored
    // with its bottom above its top.
    void selectionKeepsAPositiveSizeAtAnyScreenScale_data()
    {
        QTest::addColumn<QRect>("label");
        QTest::addColumn<double>("pixelRatio");
        QTest::addColumn<QRect>("monitor");
        // x, y, width, height; each v * ratio / 0.75, truncated, sides at least 1.
        QTest::newRow("flat drag at half scale") << QRect(30, 60, 41, 1) << 0.5 << QRect(20, 40, 27, 1);
        QTest::newRow("one pixel at half scale") << QRect(3, 3, 1, 1) << 0.5 << QRect(2, 2, 1, 1);
        QTest::newRow("flat drag at scale 1 unchanged") << QRect(30, 60, 41, 1) << 1.0 << QRect(40, 80, 54, 1);
    }

    void selectionKeepsAPositiveSizeAtAnyScreenScale()
    {
        QFETCH(QRect, label);
        QFETCH(double, pixelRatio);
        QFETCH(QRect, monitor);
        const QRect result = labelToMonitor(label, pixelRatio);
        QCOMPARE(result, monitor);
        QVERIFY(result.right() >= result.left());
        QVERIFY(result.bottom() >= result.top());
    }
};

QTEST_GUILESS_MAIN(ReliabilityRegressionsTest)
#include "test_reliability_regressions.moc"
