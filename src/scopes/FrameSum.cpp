#include "scopes/FrameSum.h"

namespace scopes {

std::uint32_t frameByteSum(const cv::Mat& frame)
{
    std::uint32_t sum = 0;
    const size_t count = frame.total() * frame.elemSize();
    const uchar* bytes = frame.data;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

} // namespace scopes
