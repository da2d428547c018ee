// The dominant-hue search: samples, circular distance, seeding, the k-means
// steps on the hue circle and the ranking. Random numbers come from scripted
// sequences so every pick is known; expected values are worked out by hand.

#include "palette/HueClustering.h"

#include <QtTest>

#include <initializer_list>

namespace {

// Returns the scripted values in turn, then repeats the last one; counts its calls.
struct ScriptedRandom {
    std::vector<int> values;
    int calls = 0;

    palette::RandomSource source()
    {
        return [this] {
            const int value = values[std::min<size_t>(static_cast<size_t>(calls), values.size() - 1)];
            ++calls;
            return value;
        };
    }
};

// A small linear congruential sequence, for runs whose picks do not matter.
palette::RandomSource lcg()
{
    auto state = std::make_shared<unsigned>(12345u);
    return [state] {
        *state = *state * 1103515245u + 12345u;
        return static_cast<int>((*state / 65536u) % 32768u);
    };
}

cv::Mat hsvRow(std::initializer_list<cv::Vec3f> pixels)
{
    cv::Mat row(1, static_cast<int>(pixels.size()), CV_32FC3);
    int column = 0;
    for (const cv::Vec3f& pixel : pixels)
        row.at<cv::Vec3f>(0, column++) = pixel;
    return row;
}

} // namespace

class TestPalette : public QObject {
    Q_OBJECT
private slots:
    void samplesKeepSaturatedVisiblePixels();
    void samplesOfEmptyOrForeignPictures();
    void distanceGoesTheShortWayRound();
    void samplesAreAlignedToTheirCentre();
    void seedingPrefersFarCandidates();
    void seedingWithFewSamplesStaysInsideThem();
    void seedingRepeatsSampleKWhenNothingIsFarther();
    void meansAcrossRedStayOnTheCircle();
    void assignmentTiesAndOutputs();
    void uniformColourGivesOneHueFourTimes();
    void noSamplesGiveNoCentres();
    void rankingByCountKeepsLowerClustersFirst();
};

void TestPalette::samplesKeepSaturatedVisiblePixels()
{
    // Thresholds compare in double: 0.1f and 0.05f lie just above 0.1 and 0.05 and count.
    const cv::Mat hsv = hsvRow({
        { 180.0f, 1.0f, 1.0f }, // cyan: 0.5
        { 90.0f, 0.1f, 1.0f }, // 0.25
        { 90.0f, 0.0999f, 1.0f }, // too grey
        { 270.0f, 1.0f, 0.05f }, // 0.75
        { 270.0f, 1.0f, 0.04f }, // too dark
        { 0.0f, 0.0f, 1.0f }, // white
        { 0.0f, 0.0f, 0.0f }, // black
    });
    const std::vector<float> samples = palette::hueSamples(hsv);
    QCOMPARE(samples, (std::vector<float> { 0.5f, 0.25f, 0.75f }));

    // Memory order: rows top-down, also for a window into a larger picture.
    cv::Mat picture(3, 3, CV_32FC3, cv::Scalar(0, 0, 0));
    picture.at<cv::Vec3f>(1, 1) = { 36.0f, 1.0f, 1.0f };
    picture.at<cv::Vec3f>(2, 1) = { 72.0f, 1.0f, 1.0f };
    picture.at<cv::Vec3f>(2, 2) = { 108.0f, 1.0f, 1.0f };
    const cv::Mat window = picture(cv::Rect(1, 1, 2, 2));
    QVERIFY(!window.isContinuous());
    QCOMPARE(palette::hueSamples(window), (std::vector<float> { 0.1f, 0.2f, 0.3f }));
}

void TestPalette::samplesOfEmptyOrForeignPictures()
{
    // Guards the search run before any analysis: an empty picture must give no samples, not a crash.
    QVERIFY(palette::hueSamples(cv::Mat()).empty());
    QVERIFY(palette::hueSamples(cv::Mat(4, 4, CV_8UC3, cv::Scalar(0, 255, 255))).empty());
}

void TestPalette::distanceGoesTheShortWayRound()
{
    QCOMPARE(palette::hueDistanceSquared(0.1f, 0.4f), 0.09f);
    QCOMPARE(palette::hueDistanceSquared(0.98f, 0.02f), 0.0016f); // 0.96 direct, 0.04 round the wrap
    QCOMPARE(palette::hueDistanceSquared(0.02f, 0.98f), 0.0016f);
    QCOMPARE(palette::hueDistanceSquared(0.25f, 0.75f), 0.25f);
    QCOMPARE(palette::hueDistanceSquared(0.0f, 1.0f), 0.0f);
}

void TestPalette::samplesAreAlignedToTheirCentre()
{
    // 0.30 to 0.5: e0 = 0.04, e+ = 0.64, e- = 1.44.
    QCOMPARE(palette::alignedSample(0.5f, 0.30f), 0.30f);
    // 0.0 to 0.5: e0 = e+ = 0.25, a tie, which goes to x - 1.
    QCOMPARE(palette::alignedSample(0.5f, 0.0f), -1.0f);
    QCOMPARE(palette::alignedSample(0.98f, 0.02f), 0.02f + 1.0f);
    QCOMPARE(palette::alignedSample(0.02f, 0.98f), 0.98f - 1.0f);
}

void TestPalette::seedingPrefersFarCandidates()
{
    // Centre 0 = sample 0 (0.05). Candidates for centre 1: sample 1 (0.95) lies
    // 0.1 away round the wrap (d2 0.01), sample 2 (0.60) 0.45 away (d2 0.2025),
    // sample 3 (0.07) 0.02 away. The farthest, 0.60, wins; a straight-line
    // distance would have picked 0.95.
    ScriptedRandom random { { 0, 1, 2, 3 } };
    const std::vector<float> samples { 0.05f, 0.95f, 0.60f, 0.07f };
    const std::vector<float> centres = palette::clusterHues(2, samples, 0, 3, random.source());
    QCOMPARE(centres, (std::vector<float> { 0.05f, 0.60f }));
    QCOMPARE(random.calls, 4);

    // Picks are the random value modulo the sample count: 13 % 4 = 1.
    ScriptedRandom wrapped { { 13, 3 } };
    QCOMPARE(palette::clusterHues(2, samples, 0, 1, wrapped.source()), (std::vector<float> { 0.95f, 0.07f }));
}

void TestPalette::seedingWithFewSamplesStaysInsideThem()
{
    // Guards the seeding read past the samples: every candidate is sample 0,
    // already centre 0, so no candidate is farther than 0 and the fallback
    // index is used. With 3 samples and k = 10 it must still be a sample.
    ScriptedRandom random { { 0 } };
    const std::vector<float> samples { 0.2f, 0.7f, 0.9f };
    const std::vector<float> centres = palette::clusterHues(10, samples, 0, 20, random.source());
    QCOMPARE(centres, std::vector<float>(10, 0.2f));
}

void TestPalette::seedingRepeatsSampleKWhenNothingIsFarther()
{
    // With more than k samples the fallback is sample k, and once a centre has
    // used it every later centre without a farther candidate repeats it.
    std::vector<float> samples;
    for (int i = 0; i < 12; ++i)
        samples.push_back(static_cast<float>(i) / 12.0f);
    ScriptedRandom random { { 0 } };
    const std::vector<float> centres = palette::clusterHues(10, samples, 0, 20, random.source());
    std::vector<float> expected(10, samples[10]);
    expected[0] = samples[0];
    QCOMPARE(centres, expected);
}

void TestPalette::meansAcrossRedStayOnTheCircle()
{
    // Centre 0.98: 0.98 joins as 0.98, 0.02 as 1.02; the mean is exactly 1.0
    // and stays 1.0 (only means above 1 are reduced). A second round keeps it.
    ScriptedRandom random { { 0 } };
    float cost = -1.0f;
    std::vector<float> counts;
    const std::vector<float> centres
        = palette::clusterHues(1, { 0.98f, 0.02f }, 2, 20, random.source(), &cost, &counts);
    QVERIFY(centres == std::vector<float> { 1.0f });
    QCOMPARE(counts, std::vector<float> { 2.0f });
    // The cost of the last assignment, against the centre 1.0: 0.02^2 + 0.02^2.
    QCOMPARE(cost, 0.0008f);
}

void TestPalette::assignmentTiesAndOutputs()
{
    // One cluster seeded at 0.5. 0.30 is added as itself: (0.5 + 0.3) / 2 = 0.4.
    // Were it added as 1.30 or -0.70 the centre would be 0.9.
    ScriptedRandom first { { 0 } };
    QCOMPARE(palette::clusterHues(1, { 0.5f, 0.30f }, 1, 1, first.source()), std::vector<float> { 0.4f });

    // 0.0 ties between itself and 1.0 and is added as -1.0: (0.5 + 0.5 - 1) / 3 = 0.
    // Added as 0.0 it would give 1/3, as 1.0 two thirds.
    ScriptedRandom second { { 0 } };
    QCOMPARE(palette::clusterHues(1, { 0.5f, 0.5f, 0.0f }, 1, 1, second.source()), std::vector<float> { 0.0f });

    // Two groups: 0.1 five times, 0.6 three times. Seeds 0.1 (sample 0) and
    // 0.6 (sample 5, the only candidate); each group keeps its centre.
    ScriptedRandom third { { 0, 5 } };
    std::vector<float> counts;
    float cost = -1.0f;
    const std::vector<float> centres = palette::clusterHues(
        2, { 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.6f, 0.6f, 0.6f }, 5, 1, third.source(), &cost, &counts);
    QCOMPARE(centres.size(), size_t(2));
    QCOMPARE(centres[0], 0.1f);
    QCOMPARE(centres[1], 0.6f);
    QCOMPARE(counts, (std::vector<float> { 5.0f, 3.0f }));
    QVERIFY(cost < 1e-10f);
    QCOMPARE(third.calls, 2); // no cluster ran empty, so no refill drew a number
}

void TestPalette::uniformColourGivesOneHueFourTimes()
{
    // Every sample is 0.5: all seeds are 0.5, every sample joins cluster 0
    // (the lowest number wins equal distances), the nine empty clusters are
    // refilled with random samples (0.5 again), and the ranking takes cluster
    // 0 first, then the empty clusters 1, 2, 3 in order.
    const std::vector<float> samples(25, 0.5f);
    std::vector<float> counts;
    const std::vector<float> centres = palette::clusterHues(10, samples, 50, 20, lcg(), nullptr, &counts);
    QCOMPARE(centres, std::vector<float>(10, 0.5f));
    std::vector<float> expectedCounts(10, 0.0f);
    expectedCounts[0] = 25.0f;
    QCOMPARE(counts, expectedCounts);
    QCOMPARE(palette::strongestCentres(centres, counts), std::vector<float>(4, 0.5f));
}

void TestPalette::noSamplesGiveNoCentres()
{
    // Guards the division by zero in the picks: nothing to pick from, so no pick is made.
    ScriptedRandom random { { 7 } };
    std::vector<float> counts { 9.0f };
    float cost = -1.0f;
    QVERIFY(palette::clusterHues(10, {}, 50, 20, random.source(), &cost, &counts).empty());
    QCOMPARE(random.calls, 0);
    QCOMPARE(counts, std::vector<float>(10, 0.0f));
    QCOMPARE(cost, 0.0f);
}

void TestPalette::rankingByCountKeepsLowerClustersFirst()
{
    const std::vector<float> centres { 0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f };
    // Cluster 9 (7), then 1 and 2 (5 each, the lower first), then 0 (2).
    QCOMPARE(palette::strongestCentres(centres, { 2, 5, 5, 0, 1, 0, 0, 0, 0, 7 }),
        (std::vector<float> { 0.9f, 0.1f, 0.2f, 0.0f }));
    // All equal: clusters 0 to 3.
    QCOMPARE(palette::strongestCentres(centres, std::vector<float>(10, 3.0f)),
        (std::vector<float> { 0.0f, 0.1f, 0.2f, 0.3f }));
    // A later, larger count pushes the others down without losing the order among them.
    QCOMPARE(palette::strongestCentres(centres, { 4, 4, 4, 4, 0, 0, 0, 0, 0, 9 }),
        (std::vector<float> { 0.9f, 0.0f, 0.1f, 0.2f }));
}

QTEST_GUILESS_MAIN(TestPalette)
#include "test_palette.moc"
