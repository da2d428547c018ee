#include "capture/ScreenService.h"
#include "platform/memory/MemoryDesktop.h"

#include <QtTest>

#include <climits>
#include <optional>

namespace {

// Every desktop pixel names its own position: B = x mod 256, G = y mod 256,
// R = (x / 256) * 16 + y / 256. The desktop leaves A at 0; a capture makes it 255.
cv::Vec4b at(int x, int y, uchar alpha = 255)
{
    return cv::Vec4b(x & 255, y & 255, ((x >> 8) << 4) | (y >> 8), alpha);
}

const QPoint kBlack(-1, -1);

struct Case {
    const char* name;
    int monitor;
    std::optional<platform::Rect> sub;
    int targetWidth;
    bool scalePointer;
    int cols, rows;
    float scale; // checked when there is a pointer
    std::vector<std::pair<QPoint, QPoint>> probes; // output pixel -> desktop pixel (or black)
    std::optional<platform::Rect> source = std::nullopt; // the desktop rectangle the capture reports it read
};

} // namespace

Q_DECLARE_METATYPE(Case)

class ScreenServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        platform::memoryDesktop().reset(3840, 1080);
        for (int y = 0; y < 1080; ++y)
            for (int x = 0; x < 3840; ++x)
                platform::memoryDesktop().screen.at<cv::Vec4b>(y, x) = at(x, y, 0);
    }

    // Monitors 0 and 1 side by side; 2 (1000 x 500) and 3 (1000 x 562) over 0's corner.
    void init()
    {
        platform::memoryDesktop().monitorTable
            = { { 0, 0, 1920, 1080 }, { 1920, 0, 3840, 1080 }, { 0, 0, 1000, 500 }, { 0, 0, 1000, 562 } };
    }

    void capture_data()
    {
        QTest::addColumn<Case>("c");
        const std::vector<std::pair<QPoint, QPoint>> wholeMonitor1 { { { 0, 0 }, { 1920, 0 } },
            { { 1919, 1079 }, { 3839, 1079 } } };
        const std::vector<std::pair<QPoint, QPoint>> wholeMonitor0 { { { 4, 3 }, { 4, 3 } } };
        const float fifth = 400.0f / 1920.0f;
        const platform::Rect monitor0 { 0, 0, 1920, 1080 }, monitor1 { 1920, 0, 3840, 1080 };
        const Case cases[] = {
            { "sub-rectangle of monitor 1", 1, platform::Rect { 100, 50, 500, 350 }, 0, false, 400, 300, 0,
                { { { 0, 0 }, { 2020, 50 } }, { { 399, 299 }, { 2419, 349 } } },
                platform::Rect { 2020, 50, 2420, 350 } },
            { "whole monitor 1", 1, std::nullopt, 0, false, 1920, 1080, 0, wholeMonitor1, monitor1 },
            { "sub-rectangle equal to the monitor", 1, platform::Rect { 0, 0, 1920, 1080 }, 0, false, 1920, 1080, 0,
                wholeMonitor1 },
            { "left -1 is the whole monitor", 1, platform::Rect { -1, 7, 9, 11 }, 0, false, 1920, 1080, 0,
                wholeMonitor1, monitor1 },
            { "width 0 with a scale pointer: native", 3, std::nullopt, 0, true, 1000, 562, 0.0f,
                { { { 999, 561 }, { 999, 561 } } } },
            { "256 of 1000 x 500", 2, std::nullopt, 256, true, 256, 128, 0.256f, {} },
            { "256 of 1000 x 562", 3, std::nullopt, 256, true, 256, 143, 0.256f, {} }, // 143.872 truncated
            { "a width without a scale pointer is ignored", 3, std::nullopt, 256, false, 1000, 562, 0, {} },
            // 4 : 1: output centre 0 lands on 2.0, between pixels 1 and 2; the lower wins, so 4i + 1.
            { "nearest pixels", 0, platform::Rect { 0, 0, 1600, 900 }, 400, true, 400, 225, 0.25f,
                { { { 0, 0 }, { 1, 1 } }, { { 3, 1 }, { 13, 5 } }, { { 399, 224 }, { 1597, 897 } } } },
            // A monitor unplugged since its index was stored: the first one, never outside the table.
            { "monitor 4", 4, std::nullopt, 0, false, 1920, 1080, 0, wholeMonitor0, monitor0 },
            { "monitor -1", -1, std::nullopt, 0, false, 1920, 1080, 0, wholeMonitor0 },
            { "monitor INT_MIN", INT_MIN, std::nullopt, 0, false, 1920, 1080, 0, wholeMonitor0 },
            // Zero width would give an infinite scale and an empty picture.
            { "zero width", 0, platform::Rect { 100, 100, 100, 300 }, 400, true, 400, 225, fifth, {} },
            { "zero height", 0, platform::Rect { 100, 100, 300, 100 }, 400, true, 400, 225, fifth, {}, monitor0 },
            { "inverted", 0, platform::Rect { 500, 500, 100, 100 }, 400, true, 400, 225, fifth, {} },
            // Desktop x 3820..3919, y 1000..1199: opaque black past 3839 and 1079.
            { "past the desktop's edge", 1, platform::Rect { 1900, 1000, 2000, 1200 }, 0, false, 100, 200, 0,
                { { { 19, 0 }, { 3839, 1000 } }, { { 20, 0 }, kBlack }, { { 0, 79 }, { 3820, 1079 } },
                    { { 0, 80 }, kBlack }, { { 99, 199 }, kBlack } } },
            // From a damaged settings file: coordinates held to 2^20, no overflow, no gigabytes.
            { "huge", 0, platform::Rect { 0, 0, INT_MAX, INT_MAX }, 400, true, 400, 400, 400.0f / (1 << 20), {},
                platform::Rect { 0, 0, 1 << 20, 1 << 20 } },
            // No taller than a selection can be (4 x width + 7), or every cycle
            // would crawl: the top 11 rows of the sliver, unsqueezed.
            { "sliver", 0, platform::Rect { 0, 0, 1, INT_MAX }, 600, true, 600, 6600, 600.0f, {},
                platform::Rect { 0, 0, 1, 11 } },
            { "tallest selection", 0, platform::Rect { 0, 0, 40, 160 }, 600, true, 600, 2400, 15.0f, {} },
        };
        for (const Case& c : cases)
            QTest::newRow(c.name) << c;
    }

    void capture()
    {
        QFETCH(Case, c);
        ScreenService service(false);
        cv::Mat out;
        float scale = -1.0f;
        platform::Rect source;
        service.captureScreen(
            &out, c.monitor, c.sub ? &*c.sub : nullptr, c.targetWidth, c.scalePointer ? &scale : nullptr, &source);
        if (c.source)
            QVERIFY(source == *c.source);
        QCOMPARE(out.cols, c.cols);
        QCOMPARE(out.rows, c.rows);
        QCOMPARE(out.type(), CV_8UC4);
        QVERIFY(out.isContinuous());
        if (c.scalePointer)
            QCOMPARE(scale, c.scale);
        for (const auto& [o, d] : c.probes)
            QCOMPARE(out.at<cv::Vec4b>(o.y(), o.x()), d == kBlack ? cv::Vec4b(0, 0, 0, 255) : at(d.x(), d.y()));
    }

    // Fault guarded: the desktop only knows whether its last copy is still
    // current. A capture into a buffer another capture overwrote, or into a
    // new buffer that came back at the old one's address (the region
    // window's), was skipped and showed whatever the buffer held.
    void onlyTheCallersOwnKeptCopyIsSkipped()
    {
        platform::MemoryDesktop& desktop = platform::memoryDesktop();
        desktop.tracksChanges = true;
        ScreenService service(false);
        const platform::Rect sub { 100, 100, 500, 400 };
        cv::Mat kept;
        cv::Mat other;
        float scale = 0.0f;
        bool unchanged = true;
        const auto cycle = [&](int monitor = 0) {
            const int before = desktop.copyCount;
            service.captureScreen(&kept, monitor, &sub, 200, &scale, nullptr, &unchanged);
            return unchanged && desktop.copyCount == before; // skipped, and said so
        };
        QVERIFY(!cycle());
        QVERIFY(cycle());
        QCOMPARE(kept.at<cv::Vec4b>(0, 0), at(100, 100));

        other = cv::Mat(kept.size(), kept.type(), cv::Scalar::all(7));
        service.captureScreen(&other, 0, &sub, 200, &scale); // the same rectangle, somewhere else
        kept.setTo(cv::Scalar::all(9)); // as if freed and handed out again
        QVERIFY(!cycle());
        QCOMPARE(kept.at<cv::Vec4b>(0, 0), at(100, 100));
        QVERIFY(cycle());

        QVERIFY(!cycle(1)); // another monitor
        QCOMPARE(kept.at<cv::Vec4b>(0, 0), at(2020, 100));
        desktop.screen.at<cv::Vec4b>(100, 2020) = cv::Vec4b(1, 2, 3, 0);
        QVERIFY(!cycle(1));
        QCOMPARE(kept.at<cv::Vec4b>(0, 0), cv::Vec4b(1, 2, 3, 255));
        desktop.screen.at<cv::Vec4b>(100, 2020) = at(2020, 100, 0);
        desktop.tracksChanges = false;
    }

    // Read once, when the service is made; with none, one black row.
    void monitors()
    {
        ScreenService service(false);
        platform::memoryDesktop().monitorTable.clear();
        QCOMPARE(service.monitorCount, 4);
        QCOMPARE(int(service.monitors().size()), 4);
        ScreenService none(false);
        cv::Mat out;
        float scale = -1.0f;
        none.captureScreen(&out, 0, nullptr, 400, &scale);
        QCOMPARE(scale, 0.0f);
        QCOMPARE(out.size(), cv::Size(400, 1));
        QCOMPARE(out.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 255));
    }
};

QTEST_GUILESS_MAIN(ScreenServiceTest)
#include "test_screen_service.moc"
