#include "palette/HueClustering.h"

#include <algorithm>
#include <cmath>

namespace palette {

namespace {

int pickIndex(const RandomSource& nextRandom, int sampleCount)
{
    const int index = nextRandom() % sampleCount;
    return index < 0 ? index + sampleCount : index;
}

float distanceToNearestCentre(float sample, const std::vector<float>& centres, int centreCount)
{
    float nearest = 1e9f;
    for (int c = 0; c < centreCount; ++c)
        nearest = std::min(nearest, hueDistanceSquared(centres[c], sample));
    return nearest;
}

// Centre 0 is a random sample; each further centre is, among a few random
// candidates, the one farthest from the centres found so far.
std::vector<float> seedCentres(
    int k, const std::vector<float>& samples, int candidatesPerSeed, const RandomSource& nextRandom)
{
    const int n = static_cast<int>(samples.size());
    std::vector<float> centres(k);
    const int firstIndex = pickIndex(nextRandom, n);
    centres[0] = samples[firstIndex];

    // When no candidate lies away from the centres so far, a centre
    // repeats the previous choice. Before the first choice that is
    // sample k; with k or fewer samples there is no sample k, and the
    // first centre's sample stands in for it.
    int chosen = k < n ? k : firstIndex;
    for (int i = 1; i < k; ++i) {
        float best = 0.0f;
        for (int candidate = 0; candidate < candidatesPerSeed; ++candidate) {
            const int j = pickIndex(nextRandom, n);
            const float distance = distanceToNearestCentre(samples[j], centres, i);
            if (distance > best) {
                best = distance;
                chosen = j;
            }
        }
        centres[i] = samples[chosen];
    }
    return centres;
}

float wrappedMean(float sum, float count)
{
    const float mean = sum / count;
    if (mean < 0.0f)
        return mean + 1.0f;
    if (mean > 1.0f)
        return mean - 1.0f;
    return mean;
}

} // namespace

std::vector<float> hueSamples(const cv::Mat& hsv)
{
    std::vector<float> samples;
    if (hsv.empty() || hsv.type() != CV_32FC3)
        return samples;
    samples.reserve(hsv.total());
    for (int row = 0; row < hsv.rows; ++row) {
        const float* pixel = hsv.ptr<float>(row);
        for (int column = 0; column < hsv.cols; ++column, pixel += 3) {
            // Compared in double: a saturation stored as 0.1f lies just above 0.1 and counts.
            if (static_cast<double>(pixel[1]) > 0.1 && static_cast<double>(pixel[2]) > 0.05)
                samples.push_back(static_cast<float>(static_cast<double>(pixel[0]) / 360.0));
        }
    }
    return samples;
}

float hueDistanceSquared(float centre, float sample)
{
    const float direct = std::fabs(centre - sample);
    const double around = 1.0 - std::fabs(static_cast<double>(centre) - static_cast<double>(sample));
    const float distance = static_cast<float>(std::fmin(static_cast<double>(direct), around));
    return distance * distance;
}

float alignedSample(float centre, float sample)
{
    const float above = sample + 1.0f;
    const float below = sample - 1.0f;
    const float e0 = (centre - sample) * (centre - sample);
    const float eAbove = (centre - above) * (centre - above);
    const float eBelow = (centre - below) * (centre - below);
    if (eAbove > e0 && eBelow > e0)
        return sample;
    if (e0 > eAbove && eBelow > eAbove)
        return above;
    return below;
}

std::vector<float> clusterHues(int k, const std::vector<float>& samples, int iterations, int candidatesPerSeed,
    const RandomSource& nextRandom, float* cost, std::vector<float>* counts)
{
    const int n = static_cast<int>(samples.size());
    if (counts)
        counts->assign(static_cast<size_t>(std::max(k, 0)), 0.0f);
    if (cost)
        *cost = 0.0f;
    // Every pick is taken modulo the sample count: without samples there is nothing to pick.
    if (n == 0 || k <= 0)
        return {};

    std::vector<float> centres = seedCentres(k, samples, candidatesPerSeed, nextRandom);
    std::vector<float> sums(k);
    std::vector<float> members(k);
    float totalCost = 0.0f;

    for (int iteration = 0; iteration < iterations; ++iteration) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        std::fill(members.begin(), members.end(), 0.0f);
        totalCost = 0.0f;

        for (const float sample : samples) {
            int nearest = 0;
            float nearestDistance = 1e9f;
            for (int j = 0; j < k; ++j) {
                const float distance = hueDistanceSquared(centres[j], sample);
                if (distance < nearestDistance) {
                    nearestDistance = distance;
                    nearest = j;
                }
            }
            totalCost += nearestDistance;
            sums[nearest] += alignedSample(centres[nearest], sample);
            members[nearest] += 1.0f;
        }

        for (int j = 0; j < k; ++j)
            centres[j] = members[j] > 0.0f ? wrappedMean(sums[j], members[j]) : samples[pickIndex(nextRandom, n)];
    }

    if (counts)
        *counts = members;
    if (cost)
        *cost = totalCost;
    return centres;
}

std::vector<float> strongestCentres(const std::vector<float>& centres, const std::vector<float>& counts, int places)
{
    const int k = static_cast<int>(std::min(centres.size(), counts.size()));
    if (k == 0 || places <= 0)
        return {};

    std::vector<int> placeCluster(places, -1);
    std::vector<float> placeCount(places, -1.0f);
    placeCluster[0] = 0;
    placeCount[0] = counts[0];
    for (int cluster = 1; cluster < k; ++cluster) {
        for (int place = 0; place < places; ++place) {
            if (counts[cluster] > placeCount[place]) {
                for (int lower = places - 1; lower > place; --lower) {
                    placeCluster[lower] = placeCluster[lower - 1];
                    placeCount[lower] = placeCount[lower - 1];
                }
                placeCluster[place] = cluster;
                placeCount[place] = counts[cluster];
                break;
            }
        }
    }

    std::vector<float> strongest;
    for (const int cluster : placeCluster) {
        if (cluster >= 0)
            strongest.push_back(centres[cluster]);
    }
    return strongest;
}

} // namespace palette
