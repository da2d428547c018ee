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
    // side stays at least 1.
    void selectionKeepsAPositiveSizeAtAnyScreenScale()
    {
        QCOMPARE(labelToMonitor(QRect(30, 60, 41, 1), 0.5), QRect(20, 40, 27, 1));
        QCOMPARE(labelToMonitor(QRect(3, 3, 1, 1), 0.5), QRect(2, 2, 1, 1));
    }
};

QTEST_GUILESS_MAIN(ReliabilityRegressionsTest)
#include "test_reliability_regressions.moc"
