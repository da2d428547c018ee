#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

namespace scopes {

// Every byte of a frame (B, G, R and the fourth byte) added into a 32-bit
// unsigned accumulator that wraps around: the cycle's change test.
std::uint32_t frameByteSum(const cv::Mat& frame);

// to := a deep copy of `from` (buffer kept when the size is unchanged), and
// the byte sum of the copy, in one pass over the bytes.
// With `changed`: whether any byte of `to` differs from what it held (always
// when its size or type changes), found in the same pass; with
// `changedRows`, the rows holding every such byte (empty when none).
std::uint32_t copyFrameAndSum(
    const cv::Mat& from, cv::Mat& to, bool* changed = nullptr, cv::Range* changedRows = nullptr);

} // namespace scopes
