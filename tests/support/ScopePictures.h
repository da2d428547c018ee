#pragma once
// Reading a vectorscope picture in tests.

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdlib>

// How far from the centre the plot differs from its wheel, in pixels along
// either axis; -1 where it differs nowhere.
inline int farthestLitCell(const cv::Mat& plot, const cv::Mat& wheel)
{
    int farthest = -1;
    for (int y = 0; y < plot.rows; ++y)
        for (int x = 0; x < plot.cols; ++x)
            if (plot.at<cv::Vec3b>(y, x) != wheel.at<cv::Vec3b>(y, x))
                farthest = std::max(farthest, std::max(std::abs(x - plot.cols / 2), std::abs(y - plot.rows / 2)));
    return farthest;
}
