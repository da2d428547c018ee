#include "cycle/FrameSum.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

namespace scopes {

std::uint32_t frameByteSum(const cv::Mat& frame)
{
    // Addition modulo 2^32 does not depend on the order, so the bytes are
    // summed sixteen at a time into 64-bit lanes and the total cut to 32 bits
    // at the end: the same number a 32-bit accumulator that wraps around reaches.
    std::uint64_t total = 0;
    const auto addRun = [&total](const uchar* bytes, size_t count) {
        __m128i sums = _mm_setzero_si128();
        size_t i = 0;
        for (; i + 16 <= count; i += 16)
            sums = _mm_add_epi64(
                sums, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), _mm_setzero_si128()));
        total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums))
            + static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
        for (; i < count; ++i)
            total += bytes[i];
    };
    const size_t rowBytes = frame.cols * frame.elemSize();
    if (frame.isContinuous())
        addRun(frame.data, rowBytes * frame.rows);
    else
        for (int y = 0; y < frame.rows; ++y)
            addRun(frame.ptr<uchar>(y), rowBytes);
    return static_cast<std::uint32_t>(total);
}

std::uint32_t copyFrameAndSum(const cv::Mat& from, cv::Mat& to, bool* changed, cv::Range* changedRows)
{
    const bool sameBuffer = to.size() == from.size() && to.type() == from.type() && to.isContinuous();
    to.create(from.size(), from.type());
    const bool asked = changed || changedRows;
    if (!from.isContinuous() || !to.isContinuous() || (asked && !sameBuffer)) {
        const bool any = !sameBuffer || cv::norm(from, to, cv::NORM_INF) != 0;
        if (changed)
            *changed = any;
        if (changedRows)
            *changedRows = any ? cv::Range(0, from.rows) : cv::Range(0, 0);
        from.copyTo(to);
        return frameByteSum(to);
    }
    const size_t count = from.total() * from.elemSize();
    const uchar* in = from.data;
    uchar* out = to.data;
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    size_t firstChanged = SIZE_MAX, lastChanged = 0; // byte offsets
    size_t i = 0;
    // Sixty-four bytes (a cache line) at a time, compared with the bytes
    // there and written only where they differ: an unchanged frame, the
    // common case, leaves the copy's memory untouched.
    for (; i + 64 <= count; i += 64) {
        __m128i bytes[4];
        __m128i differ = zero;
        for (int k = 0; k < 4; ++k) {
            bytes[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 16 * k));
            differ = _mm_or_si128(
                differ, _mm_xor_si128(bytes[k], _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i + 16 * k))));
            sums = _mm_add_epi64(sums, _mm_sad_epu8(bytes[k], zero));
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(differ, zero)) != 0xffff) {
            firstChanged = std::min(firstChanged, i);
            lastChanged = i + 63;
            for (int k = 0; k < 4; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16 * k), bytes[k]);
        }
    }
    std::uint64_t total = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums))
        + static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    for (; i < count; ++i) {
        if (out[i] != in[i]) {
            firstChanged = std::min(firstChanged, i);
            lastChanged = i;
        }
        out[i] = in[i];
        total += in[i];
    }
    const bool anyChanged = firstChanged != SIZE_MAX;
    if (changed)
        *changed = anyChanged;
    if (changedRows) {
        const size_t rowBytes = from.cols * from.elemSize();
        *changedRows = anyChanged ? cv::Range(static_cast<int>(firstChanged / rowBytes),
                           static_cast<int>(std::min(lastChanged, count - 1) / rowBytes) + 1)
                                  : cv::Range(0, 0);
    }
    return static_cast<std::uint32_t>(total);
}

} // namespace scopes
