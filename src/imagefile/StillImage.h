#pragma once

#include <cstddef>
#include <filesystem>
#include <opencv2/core.hpp>
#include <cstdint>
#include <string>
#include <vector>

// Image files read as a capture would show them: for a reference held from a
// still picture, in the window and in the renderer alike.
namespace scopes {

// No picture file worth comparing against is larger; a larger one is not read.
constexpr std::size_t kLargestStillImageFile = std::size_t(256) << 20;
// Decoding takes the picture's whole size in memory however small the file
// is, so a picture of more pixels than the largest camera pictures (about
// 100 million) is refused before it is decoded, where its size can be read.
constexpr long long kMostStillImagePixels = 1LL << 27;

struct StillImage {
    cv::Mat frame; // B, G, R, 255; empty when the file could not be read
    std::string problem; // why not, in plain words; empty when it was read
};

// Reads the image file at `path` in any format OpenCV reads and makes it a
// captured frame `width` columns wide (frameFromImage). The file must be a
// regular file of at most kLargestStillImageFile bytes: a folder, a device or
// a FIFO is refused without waiting for it.
StillImage readStillImage(const std::filesystem::path& path, int width);

// A picture file's bytes decoded to B, G, R; empty when OpenCV cannot read
// them (or refuses their size).
cv::Mat decodePicture(const std::vector<std::uint8_t>& bytes);

} // namespace scopes
