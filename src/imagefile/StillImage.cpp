#include "imagefile/StillImage.h"

#include "platform/RegularFile.h"
#include "scopes/StillScope.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <opencv2/imgcodecs.hpp>

namespace scopes {

namespace {

// A JPEG's size from its frame header (SOF0 to SOF15 but DHT, JPG and DAC),
// for where Qt has no JPEG reader (the Windows build): walks the segments
// up to the first frame header. Empty when there is none.
QSize jpegSize(const std::vector<std::uint8_t>& bytes)
{
    const size_t n = bytes.size();
    if (n < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return {};
    size_t at = 2;
    while (at + 4 <= n) {
        if (bytes[at] != 0xFF)
            return {};
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            at += 2;
            continue;
        }
        const size_t length = size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2)
            return {};
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (at + 9 > n)
                return {};
            const int height = bytes[at + 5] << 8 | bytes[at + 6];
            const int width = bytes[at + 7] << 8 | bytes[at + 8];
            return QSize(width, height);
        }
        at += 2 + length;
    }
    return {};
}

// The picture's size as its header gives it, for the formats Qt reads and
// JPEG; an empty size where neither can tell (OpenCV may still read the file,
// within its own limit of 2^30 pixels).
QSize declaredSize(const std::vector<std::uint8_t>& bytes)
{
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    return size.isValid() ? size : jpegSize(bytes);
}

} // namespace

StillImage readStillImage(const std::filesystem::path& path, int width)
{
    const platform::FileContents file = platform::readRegularFile(path, kLargestStillImageFile);
    switch (file.outcome) {
    case platform::FileOutcome::Read:
        break;
    case platform::FileOutcome::Missing:
        return { {}, "there is no file there" };
    case platform::FileOutcome::NotRegular:
        return { {}, "it is not a file (a folder, a device or a pipe)" };
    case platform::FileOutcome::TooLarge:
        return { {}, "it is larger than " + std::to_string(kLargestStillImageFile >> 20) + " MiB" };
    default:
        return { {}, "it cannot be read: " + file.error };
    }
    if (file.bytes.empty())
        return { {}, "it is empty" };
    const QSize size = declaredSize(file.bytes);
    if (size.isValid() && static_cast<long long>(size.width()) * size.height() > kMostStillImagePixels)
        return { {}, "it holds more than " + std::to_string(kMostStillImagePixels / 1000000) + " million pixels" };
    const cv::Mat image = decodePicture(file.bytes);
    if (image.empty())
        return { {}, "it is not a picture that can be read" };
    return { frameFromImage(image, width), {} };
}

cv::Mat decodePicture(const std::vector<std::uint8_t>& bytes)
{
    try {
        const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<std::uint8_t*>(bytes.data()));
        return cv::imdecode(encoded, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

} // namespace scopes
