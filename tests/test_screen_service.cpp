#include "capture/ScreenService.h"
#include "platform/memory/MemoryDesktop.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

namespace {

// Every desktop pixel names its own position: B = x mod 256, G = y mod 256,
// R = (x / 256) * 16 + y / 256, A = 0 (the capture must force it to 255).
void paintCoordinates(platform::MemoryDesktop& desktop, int width, int height)
{
    desktop.screen.create(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            desktop.screen.at<cv::Vec4b>(y, x) = cv::Vec4b(x & 255, y & 255, ((x >> 8) << 4) | (y >> 8), 0);
}

cv::Vec4b expectedAt(int x, int y)
{
    return cv::Vec4b(x & 255, y & 255, ((x >> 8) << 4) | (y >> 8), 255);
}

platform::MemoryDesktop& twoMonitors()
{
    auto& desktop = platform::memoryDesktop();
    desktop.reset(3840, 1080);
    paintCoordinates(desktop, 3840, 1080);
    desktop.monitorTable = {{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}};
    return desktop;
}

} // namespace

class ScreenServiceTest : public QObject {
    Q_OBJECT
private slots:
    void readsTheMonitorTableOnce()
    {
        auto& desktop = twoMonitors();
        ScreenService service(false);
        QCOMPARE(service.monitorCount, 2);
        desktop.monitorTable.push_back({3840, 0, 4000, 100});
        QCOMPARE(service.monitorCount, 2);
        QCOMPARE(static_cast<int>(service.monitors().size()), 2);
    }

    void subRectangleOfTheSecondMonitorIsReadAtItsDesktopPosition()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        const platform::Rect sub{100, 50, 500, 350};
        service.captureScreen(&out, 1, &sub, 0, nullptr);
        QCOMPARE(out.cols, 400);
        QCOMPARE(out.rows, 300);
        QCOMPARE(out.type(), CV_8UC4);
        QVERIFY(out.isContinuous());
        QCOMPARE(out.at<cv::Vec4b>(0, 0), expectedAt(2020, 50));
        QCOMPARE(out.at<cv::Vec4b>(299, 399), expectedAt(2419, 349));
    }

    void wholeMonitorForms()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat whole, same, negative;
        service.captureScreen(&whole, 1, nullptr, 0, nullptr);
        const platform::Rect full{0, 0, 1920, 1080};
        service.captureScreen(&same, 1, &full, 0, nullptr);
        const platform::Rect noRect{-1, 7, 9, 11};
        service.captureScreen(&negative, 1, &noRect, 0, nullptr);
        QCOMPARE(whole.cols, 1920);
        QCOMPARE(whole.rows, 1080);
        QCOMPARE(whole.at<cv::Vec4b>(0, 0), expectedAt(1920, 0));
        QCOMPARE(cv::norm(whole, same, cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(whole, negative, cv::NORM_INF), 0.0);
    }

    void scaleAndOutputSize()
    {
        auto& desktop = platform::memoryDesktop();
        desktop.reset(1000, 562, cv::Scalar(10, 20, 30));
        desktop.monitorTable = {{0, 0, 1000, 500}, {0, 0, 1000, 562}};
        ScreenService service(false);
        cv::Mat out;
        float scale = -1.0f;

        service.captureScreen(&out, 0, nullptr, 256, &scale);
        QCOMPARE(scale, 0.256f);
        QCOMPARE(out.cols, 256);
        QCOMPARE(out.rows, 128);

        service.captureScreen(&out, 1, nullptr, 256, &scale);
        QCOMPARE(out.rows, 143); // 562 * 0.256 = 143.872, truncated

        service.captureScreen(&out, 1, nullptr, 0, &scale);
        QCOMPARE(scale, 0.0f);
        QCOMPARE(out.cols, 1000);
        QCOMPARE(out.rows, 562);

        service.captureScreen(&out, 1, nullptr, 256, nullptr); // a width without a scale pointer is ignored
        QCOMPARE(out.cols, 1000);
        QCOMPARE(out.at<cv::Vec4b>(5, 5), cv::Vec4b(10, 20, 30, 255));
    }

    void scaledPixelsAreTheNearestSourcePixels()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        float scale = 0.0f;
        const platform::Rect sub{0, 0, 1600, 900};
        service.captureScreen(&out, 0, &sub, 400, &scale);
        QCOMPARE(out.cols, 400);
        QCOMPARE(out.rows, 225);
        for (int y : {0, 1, 100, 224})
            for (int x : {0, 1, 3, 200, 399})
                QCOMPARE(out.at<cv::Vec4b>(y, x),
                         expectedAt(platform::nearestSourceIndex(x, 1600, 400), platform::nearestSourceIndex(y, 900, 225)));
    }

    void keepsTheCallersBufferWhileTheSizeHolds()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        float scale = 0.0f;
        service.captureScreen(&out, 0, nullptr, 400, &scale);
        const uchar* buffer = out.data;
        service.captureScreen(&out, 1, nullptr, 400, &scale);
        QCOMPARE(out.data, buffer);
    }

    // A monitor that was unplugged since its index was stored must not make
    // the capture read outside the monitor table.
    void monitorIndexOutsideTheTableFallsBackToTheFirst()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        for (int index : {2, 7, -1, INT_MIN}) {
            service.captureScreen(&out, index, nullptr, 0, nullptr);
            QCOMPARE(out.cols, 1920);
            QCOMPARE(out.at<cv::Vec4b>(3, 4), expectedAt(4, 3));
        }
    }

    // A rectangle of zero width would give an infinite scale and an empty picture.
    void emptyOrInvertedRectangleMeansTheWholeMonitor()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        float scale = 0.0f;
        for (const platform::Rect sub : {platform::Rect{100, 100, 100, 300}, platform::Rect{100, 100, 300, 100},
                                         platform::Rect{500, 500, 100, 100}}) {
            service.captureScreen(&out, 0, &sub, 400, &scale);
            QCOMPARE(scale, 400.0f / 1920.0f);
            QCOMPARE(out.cols, 400);
            QCOMPARE(out.rows, 225);
        }
    }

    void partsPastTheDesktopAreOpaqueBlack()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        const platform::Rect sub{1900, 1000, 2000, 1200}; // on monitor 1: desktop x 3820..3919, y 1000..1199
        service.captureScreen(&out, 1, &sub, 0, nullptr);
        QCOMPARE(out.cols, 100);
        QCOMPARE(out.rows, 200);
        QCOMPARE(out.at<cv::Vec4b>(0, 19), expectedAt(3839, 1000));
        QCOMPARE(out.at<cv::Vec4b>(0, 20), cv::Vec4b(0, 0, 0, 255));
        QCOMPARE(out.at<cv::Vec4b>(79, 0), expectedAt(3820, 1079));
        QCOMPARE(out.at<cv::Vec4b>(80, 0), cv::Vec4b(0, 0, 0, 255));
        QCOMPARE(out.at<cv::Vec4b>(199, 99), cv::Vec4b(0, 0, 0, 255));
    }

    // Hostile values from a settings file must not overflow or allocate gigabytes.
    void extremeRectanglesStayBounded()
    {
        twoMonitors();
        ScreenService service(false);
        cv::Mat out;
        float scale = 0.0f;
        const platform::Rect huge{0, 0, INT_MAX, INT_MAX};
        service.captureScreen(&out, 0, &huge, 400, &scale);
        QVERIFY(out.rows >= 1 && out.rows <= 16384);
        const platform::Rect sliver{0, 0, 1, INT_MAX};
        service.captureScreen(&out, 0, &sliver, 600, &scale);
        QCOMPARE(out.cols, 600);
        QCOMPARE(out.rows, 2400); // no taller than a selection can be, or every cycle would crawl
        const platform::Rect tallestSelection{0, 0, 40, 160};
        service.captureScreen(&out, 0, &tallestSelection, 600, &scale);
        QCOMPARE(out.rows, 2400);
    }

    void noMonitorsGivesOneBlackRow()
    {
        auto& desktop = platform::memoryDesktop();
        desktop.reset(10, 10);
        desktop.monitorTable.clear();
        ScreenService service(false);
        QCOMPARE(service.monitorCount, 0);
        cv::Mat out;
        float scale = -1.0f;
        service.captureScreen(&out, 0, nullptr, 400, &scale);
        QCOMPARE(scale, 0.0f);
        QCOMPARE(out.cols, 400);
        QCOMPARE(out.rows, 1);
        QCOMPARE(out.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 255));
    }

    void debugLogNamesEveryStep()
    {
        QFile::remove(QStringLiteral("log.txt"));
        twoMonitors();
        ScreenService quiet(false);
        cv::Mat out;
        quiet.captureScreen(&out, 0, nullptr, 0, nullptr);
        QVERIFY(!QFile::exists(QStringLiteral("log.txt")));

        ScreenService service(true);
        service.captureScreen(&out, 0, nullptr, 0, nullptr);
        QFile log(QStringLiteral("log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(),
                 QByteArray("scrsvc create\nscrsvc A\nscrsvc B\nscrsvc C\nscrsvc D\n"
                            "scrsvc scr A\nscrsvc scr B\nscrsvc scr C\nscrsvc scr D\nscrsvc scr E\n"
                            "scrsvc scr F\nscrsvc scr G\nscrsvc scr H\nscrsvc scr I\nscrsvc scr J\n"));
    }
};

QTEST_GUILESS_MAIN(ScreenServiceTest)
#include "test_screen_service.moc"
