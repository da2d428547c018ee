#include "scopes/StillImage.h"

#include "platform/RegularFile.h"
#include "scopes/StillScope.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <opencv2/imgcodecs.hpp>

namespace scopes {

namespace {

// The picture's size as its header gives it, for the formats Qt reads;
// an empty size where Qt cannot tell (OpenCV may still read the file).
QSize declaredSize(const std::vector<std::uint8_t>& bytes)
{
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.canRead() ? reader.size() : QSize();
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
    cv::Mat image;
    try {
        const cv::Mat encoded(
            1, static_cast<int>(file.bytes.size()), CV_8UC1, const_cast<std::uint8_t*>(file.bytes.data()));
        image = cv::imdecode(encoded, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty())
        return { {}, "it is not a picture that can be read" };
    return { frameFromImage(image, width), {} };
}

} // namespace scopes
