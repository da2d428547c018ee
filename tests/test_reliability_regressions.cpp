// Faults that fuzzing and the fault tests found, one case each, so they stay fixed.
#include "capture/RegionMath.h"

#include <QtTest>

class ReliabilityRegressionsTest : public QObject {
    Q_OBJECT
private slots:
    // Found by fuzzing the drag-to-record path: with fewer than 0.75
    // screenshot pixels per label pixel (QT_SCALE_FACTOR=0.5), a flat drag's
    // one-pixel-high selection became a monitor rectangle of height 0, stored
    // with its bottom above its top. Each v * ratio / 0.75 is truncated; a
    // side stays at least 2, since the record keeps the inclusive right and
    // bottom and a side of 1 would reach the capture as 0 (the whole monitor).
    void selectionKeepsAPositiveSizeAtAnyScreenScale()
    {
        QCOMPARE(labelToMonitor(QRect(30, 60, 41, 1), 0.5), QRect(20, 40, 27, 2));
        QCOMPARE(labelToMonitor(QRect(3, 3, 1, 1), 0.5), QRect(2, 2, 2, 2));
    }
};

QTEST_GUILESS_MAIN(ReliabilityRegressionsTest)
#include "test_reliability_regressions.moc"
