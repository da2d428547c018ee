#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <vector>

// The dominant-hue search: k-means on the hue circle. Hues are fractions of a
// turn (degrees / 360), so 0 and 1 are both red. No widget here.
namespace palette {

// Returns the next value of a pseudo-random sequence, non-negative like
// std::rand; every pick is that value modulo the sample count.
using RandomSource = std::function<int()>;

// Hue fractions of the pixels of an HSV picture (three float channels: hue in
// degrees [0, 360), saturation and value in [0, 1]) whose saturation is above
// 0.1 and value above 0.05, in memory order. Greys, black and white give none.
std::vector<float> hueSamples(const cv::Mat& hsv);

// Squared circular distance between two hue fractions: the direct difference
// in single precision, the way round the wrap in double, the smaller narrowed
// to single precision and squared there.
float hueDistanceSquared(float centre, float sample);

// The copy of `sample` among sample, sample + 1 and sample - 1 that lies
// closest to `centre` on the straight line; ties go to sample - 1.
float alignedSample(float centre, float sample);

// k-means with farthest-point seeding on random candidates. Returns k centres
// in [0, 1]; `counts` (resized to k) and `cost` describe the last assignment.
// With no samples there is nothing to cluster: the result is empty.
std::vector<float> clusterHues(int k, const std::vector<float>& samples, int iterations, int candidatesPerSeed,
    const RandomSource& nextRandom, float* cost = nullptr, std::vector<float>* counts = nullptr);

// The centres of the `places` most populated clusters, highest count first;
// equal counts keep the lower cluster number ahead.
std::vector<float> strongestCentres(
    const std::vector<float>& centres, const std::vector<float>& counts, int places = 4);

} // namespace palette
