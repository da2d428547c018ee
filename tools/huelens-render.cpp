// huelens-render MODE SIZE INPUT OUTPUT.png
// huelens-render --raw ROWS MODE SIZE INPUT.raw [OUTPUT.png]
//
// Writes the scope picture that the Huelens window shows for an image when it
// is a new frame, with the pointer outside the capture and nothing picked:
// the colour wheel with the plot and the skin-tone line (vectorscope), or the
// Waveform or the Parade. The image is read like a capture: alpha dropped,
// scaled by nearest neighbour to SIZE columns.
//
// With --raw, INPUT.raw is a stream of captured frames, SIZE columns by ROWS
// rows of B, G, R, A bytes each, back to back. Every frame is analysed as a
// new capture, with the buffers kept from frame to frame as the window keeps
// them, so the run costs what the window pays for that many new frames; the
// picture of the last frame goes to OUTPUT.png when it is given. MODE "none"
// only reads the frames, which measures what reading them costs.
//
// Exit status 0 on success, 1 when the input cannot be read or the output
// cannot be written, 2 for a malformed command line; on failure one line
// goes to stderr and no output file is left behind.

#include "scopes/StillScope.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

const char* const kUsage = "usage: huelens-render vectorscope|waveform|parade SIZE INPUT OUTPUT.png, "
                           "or huelens-render --raw ROWS vectorscope|waveform|parade|none SIZE FRAMES.raw [OUTPUT.png]";
constexpr int kNoScope = -1;
constexpr int kMaxRawRows = 1 << 16;

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "huelens-render: %s\n", message.c_str());
    return status;
}

std::optional<int> displayModeOf(const std::string& name, bool raw)
{
    if (raw && name == "none")
        return kNoScope;
    if (name == "vectorscope")
        return 0;
    if (name == "waveform")
        return 1;
    if (name == "parade")
        return 2;
    return std::nullopt;
}

std::optional<int> wholeNumberOf(const char* text, long lowest, long highest)
{
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < lowest || value > highest)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> windowSizeOf(const char* text)
{
    return wholeNumberOf(text, scopes::kMinWindowSize, scopes::kMaxWindowSize);
}

bool readable(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return file.good();
}

// An image file in any format OpenCV reads, as a frame of `width` columns.
std::optional<cv::Mat> loadFrame(const char* path, int width)
{
    if (!readable(path))
        return std::nullopt;
    cv::Mat image;
    try {
        image = cv::imread(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    if (image.empty())
        return std::nullopt;
    return scopes::frameFromImage(image, width);
}

// Written under a temporary name and renamed at the end, so that a failed
// write leaves nothing behind and never half an old picture.
bool writePng(const cv::Mat& scopeRgb, const char* path, std::string& error)
{
    cv::Mat bgr;
    cv::cvtColor(scopeRgb, bgr, cv::COLOR_RGB2BGR);
    std::vector<uchar> png;
    if (!cv::imencode(".png", bgr, png)) {
        error = "cannot encode the picture as PNG";
        return false;
    }
    QSaveFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = "cannot write '" + std::string(path) + "': " + file.errorString().toStdString();
        return false;
    }
    const qint64 size = static_cast<qint64>(png.size());
    if (file.write(reinterpret_cast<const char*>(png.data()), size) != size || !file.commit()) {
        error = "cannot write '" + std::string(path) + "': " + file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    return true;
}

// Reads frames of `frame`'s size one after another into the same buffer and
// hands each to `analyse`. False, with `error` set, when the stream cannot be
// opened, holds no frame or ends inside one.
template <typename Analyse> bool forEachRawFrame(const char* path, cv::Mat& frame, Analyse analyse, std::string& error)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot read frames from '" + std::string(path) + "'";
        return false;
    }
    const std::streamsize frameBytes = static_cast<std::streamsize>(frame.total() * frame.elemSize());
    long frames = 0;
    while (stream.read(reinterpret_cast<char*>(frame.data), frameBytes)) {
        analyse(frame);
        ++frames;
    }
    if (stream.gcount() != 0) {
        error = "'" + std::string(path) + "' ends inside frame " + std::to_string(frames + 1);
        return false;
    }
    if (frames == 0) {
        error = "'" + std::string(path) + "' holds no frame";
        return false;
    }
    return true;
}

int renderRaw(int argc, char** argv)
{
    if (argc != 6 && argc != 7)
        return fail(kUsageError, kUsage);
    const std::optional<int> rows = wholeNumberOf(argv[2], 1, kMaxRawRows);
    if (!rows)
        return fail(kUsageError,
            "ROWS must be a whole number from 1 to " + std::to_string(kMaxRawRows) + ", not '" + argv[2] + "'");
    const std::optional<int> displayMode = displayModeOf(argv[3], true);
    if (!displayMode)
        return fail(kUsageError, "unknown mode '" + std::string(argv[3]) + "' (vectorscope, waveform, parade or none)");
    const std::optional<int> windowSize = windowSizeOf(argv[4]);
    if (!windowSize)
        return fail(kUsageError,
            "SIZE must be a whole number from " + std::to_string(scopes::kMinWindowSize) + " to "
                + std::to_string(scopes::kMaxWindowSize) + ", not '" + argv[4] + "'");
    const char* output = argc == 7 ? argv[6] : nullptr;
    if (output && *displayMode == kNoScope)
        return fail(kUsageError, "mode 'none' draws no picture to write");

    cv::Mat frame(*rows, *windowSize, CV_8UC4);
    std::optional<scopes::FrameScope> scope;
    if (*displayMode != kNoScope)
        scope.emplace(*displayMode, *windowSize);
    const cv::Mat* picture = nullptr;
    std::string error;
    const bool read = forEachRawFrame(
        argv[5], frame,
        [&](const cv::Mat& captured) {
            if (scope)
                picture = &scope->render(captured);
        },
        error);
    if (!read)
        return fail(kFailure, error);
    if (output && !writePng(*picture, output, error))
        return fail(kFailure, error);
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv)
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    if (argc > 1 && std::strcmp(argv[1], "--raw") == 0)
        return renderRaw(argc, argv);
    if (argc != 5)
        return fail(kUsageError, kUsage);
    const std::optional<int> displayMode = displayModeOf(argv[1], false);
    if (!displayMode)
        return fail(kUsageError, "unknown mode '" + std::string(argv[1]) + "' (vectorscope, waveform or parade)");
    const std::optional<int> windowSize = windowSizeOf(argv[2]);
    if (!windowSize)
        return fail(kUsageError,
            "SIZE must be a whole number from " + std::to_string(scopes::kMinWindowSize) + " to "
                + std::to_string(scopes::kMaxWindowSize) + ", not '" + argv[2] + "'");

    const std::optional<cv::Mat> frame = loadFrame(argv[3], *windowSize);
    if (!frame)
        return fail(kFailure, "cannot read an image from '" + std::string(argv[3]) + "'");

    const cv::Mat scope = scopes::renderStillScope(*frame, *displayMode, *windowSize);
    std::string error;
    if (!writePng(scope, argv[4], error))
        return fail(kFailure, error);
    return EXIT_SUCCESS;
}
