// A label that shows a buffer of ours: what is handed over again, what is
// only repainted, and where.

#include "display/ShownLabel.h"
#include "scopes/ChangedSpans.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPixmap>
#include <QtTest>

namespace {

// The regions the label was asked to paint.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

// A label bigger than its picture, the picture in its middle: what it
// repaints lies 20 pixels right of and below the picture's own pixels.
struct ShownOnScreen {
    ShownOnScreen()
        : view(&label)
        , recorder(&label)
    {
        label.setAlignment(Qt::AlignCenter);
        label.setFixedSize(240, 140);
    }
    bool showAndSettle()
    {
        label.show();
        if (!QTest::qWaitForWindowExposed(&label))
            return false;
        for (int i = 0; i < 500 && recorder.paints == 0; ++i)
            QTest::qWait(10);
        QCoreApplication::processEvents();
        return recorder.paints > 0;
    }
    // The next paint's region, once one comes (empty: none within the hang guard).
    QRegion nextPaint()
    {
        recorder.painted = QRegion();
        recorder.paints = 0;
        for (int i = 0; i < 50 && recorder.paints == 0; ++i)
            QTest::qWait(10);
        return recorder.painted;
    }
    QRegion paintWithin(int waits)
    {
        recorder.painted = QRegion();
        recorder.paints = 0;
        for (int i = 0; i < waits; ++i)
            QTest::qWait(10);
        return recorder.painted;
    }

    QLabel label;
    display::ShownLabel view;
    PaintRecorder recorder;
};

QSize pixmapSize(const QLabel& label)
{
    return label.pixmap(Qt::ReturnByValue).size();
}

} // namespace

class TestShownLabel : public QObject {
    Q_OBJECT

private slots:

    // Fault guarded: a picture of another size in the buffer the last one
    // had (as an allocator may hand back the freed buffer's address) was
    // taken for the same picture; the label went on showing a pixmap of the
    // old size.
    void anotherSizeAtTheSameAddressIsHandedOverAnew()
    {
        cv::Mat memory(200, 200, CV_8UC4, cv::Scalar(10, 20, 30, 255));
        QLabel label;
        display::ShownLabel view(&label);
        view.show(cv::Mat(100, 120, CV_8UC4, memory.data), cv::Range(0, 0));
        QCOMPARE(pixmapSize(label), QSize(120, 100));
        view.show(cv::Mat(80, 150, CV_8UC4, memory.data), cv::Range(0, 0));
        QCOMPARE(pixmapSize(label), QSize(150, 80));

        // The same for the scope's own buffer: a scope of another size is shown whole at its size.
        scopes::ChangedSpans nothing;
        view.showScope(cv::Mat(64, 100, CV_8UC3, cv::Scalar(1, 2, 3)), nothing);
        QCOMPARE(pixmapSize(label), QSize(100, 64));
        nothing.none(64, 100);
        view.showScope(cv::Mat(50, 100, CV_8UC3, cv::Scalar(1, 2, 3)), nothing);
        QCOMPARE(pixmapSize(label), QSize(100, 50));
        QCOMPARE(label.pixmap(Qt::ReturnByValue).toImage().pixel(99, 49), qRgb(1, 2, 3));
    }

    // Faults guarded: changed rows or bands left unrepainted (the label went
    // on showing the old bytes of a buffer it shares), repainted off their
    // place in the label, or the whole picture repainted or handed over
    // again for a few changed pixels.
    void onlyWhatChangedIsRepaintedWhereItIsShown()
    {
        ShownOnScreen screen;
        cv::Mat frame(100, 200, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        screen.view.show(frame, cv::Range(0, 0));
        QVERIFY(screen.showAndSettle());
        if (!screen.view.sharesBuffer())
            QSKIP("this platform's pixmaps are copies: every change is handed over");
        const qint64 handedOver = screen.label.pixmap(Qt::ReturnByValue).cacheKey();

        frame.rowRange(30, 40).setTo(cv::Scalar(255, 255, 255, 255));
        screen.view.show(frame, cv::Range(30, 40));
        QCOMPARE(screen.nextPaint(), QRegion(20, 50, 200, 10));
        QCOMPARE(screen.label.pixmap(Qt::ReturnByValue).cacheKey(), handedOver);
        QCOMPARE(screen.label.grab().toImage().pixel(25, 55), qRgb(255, 255, 255));

        // Nothing changed: nothing repainted.
        screen.view.show(frame, cv::Range(0, 0));
        QCOMPARE(screen.paintWithin(5), QRegion());

        // The scope: two cells far apart are two small repaints, one per
        // band of rows, not the rectangle between them.
        cv::Mat scope(64, 100, CV_8UC3, cv::Scalar(0, 0, 0));
        scopes::ChangedSpans changed;
        screen.view.showScope(scope, changed);
        screen.nextPaint();
        scope.at<cv::Vec3b>(3, 5) = cv::Vec3b(255, 0, 0);
        scope.at<cv::Vec3b>(40, 90) = cv::Vec3b(0, 255, 0);
        changed.none(64, 100);
        changed.add(3, 0, 99); // the whole row may have changed; one pixel did
        changed.add(40, 90, 90);
        screen.view.showScope(scope, changed);
        // A row's changed run is repainted whole (its span was the whole row).
        QRegion expected(70, 38 + 3, 100, 1);
        expected += QRegion(70 + 90, 38 + 40, 1, 1);
        QCOMPARE(screen.nextPaint(), expected);
        QCOMPARE(screen.label.grab().toImage().pixel(70 + 90, 38 + 40), qRgb(0, 255, 0));

        // Spans over bytes that did not change: nothing repainted.
        changed.none(64, 100);
        changed.add(cv::Rect(0, 0, 100, 64));
        screen.view.showScope(scope, changed);
        QCOMPARE(screen.paintWithin(5), QRegion());
    }

    // Fault guarded: a label marked as painting every pixel of itself while
    // its picture no longer covered it showed whatever lay in the window's
    // buffer around the picture.
    void opaqueOnlyWhileThePictureCoversTheLabel()
    {
        QLabel label;
        label.setFixedSize(200, 100);
        display::ShownLabel view(&label);
        const cv::Mat whole(100, 200, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        view.show(whole, cv::Range(0, 100));
        QVERIFY(label.testAttribute(Qt::WA_OpaquePaintEvent));
        const cv::Mat smaller(50, 200, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        view.show(smaller, cv::Range(0, 50));
        QVERIFY(!label.testAttribute(Qt::WA_OpaquePaintEvent));
        label.setFixedSize(200, 50);
        view.show(smaller, cv::Range(0, 0));
        QVERIFY(label.testAttribute(Qt::WA_OpaquePaintEvent));
    }
};

QTEST_MAIN(TestShownLabel)
#include "test_shown_label.moc"
