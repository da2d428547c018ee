// The arithmetic behind the harmony swatches and the dominant-hue search, with
// scripted random numbers; expected values are worked out by hand.
#include "palette/Harmony.h"
#include "palette/HueClustering.h"

#include <QtTest>

using Hues = std::vector<float>;

class TestPalette : public QObject {
    Q_OBJECT
private slots:
    void harmonyArithmetic()
    {
        // Exact sixths and two-thirds would put these t on the ramps and give
        // 0.99999999999996 and 0.00000000000004; compared exactly, not fuzzily.
        QVERIFY(harmony::hslChannel(0.0, 1.0, 0.16666666666666) == 1.0);
        QVERIFY(harmony::hslChannel(0.0, 1.0, 0.66666666666666) == 0.0);
        const double justBelowTheTop = harmony::hslChannel(0.0, 1.0, 0.5); // (0.66666666666666 - 0.5) * 6
        QVERIFY(justBelowTheTop < 1.0 && justBelowTheTop > 0.9999999999999);
        QCOMPARE(harmony::hslChannel(0.0, 1.0, 0.1), 0.6);

        const std::tuple<double, float, float, const char*> colours[] = {
            // 255 * 0.49999999999998 = 127.4999... rounds down; exact thirds would give 128.
            { 0.25, 1.0f, 0.5f, "#7fff00" },
            // Swatch 3 can ask for up to 1.5; the channel reduces its argument once.
            { 1.5, 0.75f, 0.5f, "#20dfdf" },
            // L below 0.5: q = 0.25 * 1.5 = 0.375 -> 95.625 -> 96, p = 0.125 -> 32.
            { 1.0, 0.5f, 0.25f, "#602020" },
        };
        for (const auto& [hue, saturation, lightness, code] : colours)
            QCOMPARE(harmony::colorCode(harmony::hslColor(hue, saturation, lightness)), QLatin1String(code));
        QCOMPARE(harmony::colorCode(harmony::Rgb { 255, 5, 0 }), QStringLiteral("#ff0500"));

        // One reduction, not a modulo: swatch hues reach 2.5 before it.
        QCOMPARE(harmony::wrapTurn(-0.25), 0.75);
        QCOMPARE(harmony::wrapTurn(2.5), 1.5);
        // +-2.5 rounds to +-3; floor(x + 0.5) would give -2 on the negative side.
        QCOMPARE(harmony::harmonyEndPoint(200, 0.25, 2.5), cv::Point(203, 200));
        QCOMPARE(harmony::harmonyEndPoint(200, 0.75, 2.5), cv::Point(197, 200));
    }

    void samplesKeepSaturatedVisiblePixels()
    {
        // Thresholds compare in double: 0.1f and 0.05f lie just above 0.1 and 0.05 and count.
        cv::Vec3f pixels[] = { { 180.0f, 1.0f, 1.0f }, { 90.0f, 0.1f, 1.0f }, { 90.0f, 0.0999f, 1.0f },
            { 270.0f, 1.0f, 0.05f }, { 270.0f, 1.0f, 0.04f }, { 0.0f, 0.0f, 1.0f }, { 0.0f, 0.0f, 0.0f } };
        QCOMPARE(palette::hueSamples(cv::Mat(1, 7, CV_32FC3, pixels)), (Hues { 0.5f, 0.25f, 0.75f }));

        // Memory order, row by row, also for a window into a larger picture.
        cv::Mat picture(3, 3, CV_32FC3, cv::Scalar(0, 0, 0));
        picture.at<cv::Vec3f>(1, 1) = { 36.0f, 1.0f, 1.0f };
        picture.at<cv::Vec3f>(2, 1) = { 72.0f, 1.0f, 1.0f };
        picture.at<cv::Vec3f>(2, 2) = { 108.0f, 1.0f, 1.0f };
        QCOMPARE(palette::hueSamples(picture(cv::Rect(1, 1, 2, 2))), (Hues { 0.1f, 0.2f, 0.3f }));

        // Guards the search run before any analysis: an empty picture gives no samples, not a crash.
        QVERIFY(palette::hueSamples(cv::Mat()).empty());
        QVERIFY(palette::hueSamples(cv::Mat(4, 4, CV_8UC3, cv::Scalar(0, 255, 255))).empty());
    }

    void clustering()
    {
        const Hues spread { 0.05f, 0.95f, 0.60f, 0.07f };

        struct Case {
            const char* name;
            int k;
            Hues samples;
            int iterations, candidates;
            std::vector<int> script; // scripted random values; the last one repeats
            Hues centres, counts; // counts empty: not checked
            float cost; // negative: not checked
            int calls; // negative: not checked
        };
        const Case cases[] = {
            // Centre 0.05: 0.95 lies 0.1 away round the wrap, 0.60 0.45, 0.07 0.02.
            // 0.60 wins; a straight-line distance would have picked 0.95.
            { "farthest candidate", 2, spread, 0, 3, { 0, 1, 2, 3 }, { 0.05f, 0.60f }, {}, -1, 4 },
            { "picks modulo the count", 2, spread, 0, 1, { 13, 3 }, { 0.95f, 0.07f }, {}, -1, 2 },
            // Guards the seeding read past the samples: every candidate is centre 0,
            // so the fallback is used; with k or fewer samples it is still a sample.
            { "ten or fewer samples", 10, { 0.2f, 0.7f, 0.9f }, 0, 20, { 0 }, Hues(10, 0.2f), {}, -1, -1 },
            // With more than k samples the fallback is sample k, repeated.
            { "fallback sample k", 10, { 0.3f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.8f }, 0, 20, { 0 },
                { 0.3f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f }, {}, -1, -1 },
            // 0.30 joins the centre 0.5 as itself: (0.5 + 0.3) / 2 = 0.4; as 1.30 or -0.70 it would give 0.9.
            { "0.30 added as 0.30", 1, { 0.5f, 0.30f }, 1, 1, { 0 }, { 0.4f }, { 2 }, -1, -1 },
            // 0.0 ties between itself and 1.0 and is added as -1.0: (0.5 + 0.5 - 1) / 3 = 0.
            // Added as 0.0 it would give 1/3, as 1.0 two thirds.
            { "tie added as -1", 1, { 0.5f, 0.5f, 0.0f }, 1, 1, { 0 }, { 0.0f }, { 3 }, -1, -1 },
            // Centre 0.98: 0.98 joins as 0.98, 0.02 as 1.02; the mean is exactly 1.0
            // and stays 1.0 (only means above 1 are reduced). Cost 0.02^2 + 0.02^2.
            { "across red", 1, { 0.98f, 0.02f }, 2, 20, { 0 }, { 1.0f }, { 2 }, 0.0008f, -1 },
            // Two groups seeded on themselves: no cluster runs empty, no refill draws.
            { "two groups", 2, { 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.6f, 0.6f, 0.6f }, 5, 1, { 0, 5 }, { 0.1f, 0.6f },
                { 5, 3 }, 0.0f, 2 },
            // Guards the division by zero in the picks: nothing to pick from, so no pick is made.
            { "no samples", 10, {}, 50, 20, { 7 }, {}, Hues(10, 0.0f), 0.0f, 0 },
        };
        for (const Case& c : cases) {
            int calls = 0;
            const auto next = [&] { return c.script[std::min<size_t>(size_t(calls++), c.script.size() - 1)]; };
            float cost = -1.0f;
            Hues counts { 9.0f };
            const Hues centres = palette::clusterHues(c.k, c.samples, c.iterations, c.candidates, next, &cost, &counts);
            QVERIFY2(centres == c.centres, c.name);
            QVERIFY2(c.counts.empty() || counts == c.counts, c.name);
            QVERIFY2(c.cost < 0 || cost == c.cost || qFuzzyCompare(cost, c.cost), c.name);
            QVERIFY2(c.calls < 0 || calls == c.calls, c.name);
        }
    }

    void rankingByCountKeepsLowerClustersFirst()
    {
        const Hues centres { 0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f };
        // Cluster 9 (7), then 1 and 2 (5 each, the lower first), then 0 (2).
        QCOMPARE(
            palette::strongestCentres(centres, { 2, 5, 5, 0, 1, 0, 0, 0, 0, 7 }), (Hues { 0.9f, 0.1f, 0.2f, 0.0f }));
        QCOMPARE(palette::strongestCentres(centres, Hues(10, 3.0f)), (Hues { 0.0f, 0.1f, 0.2f, 0.3f }));
        // A later, larger count pushes the others down without losing the order among them.
        QCOMPARE(
            palette::strongestCentres(centres, { 4, 4, 4, 4, 0, 0, 0, 0, 0, 9 }), (Hues { 0.9f, 0.0f, 0.1f, 0.2f }));
    }
};

QTEST_GUILESS_MAIN(TestPalette)
#include "test_palette.moc"
