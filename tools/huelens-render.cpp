// huelens-render MODE SIZE INPUT OUTPUT.png
// huelens-render --raw ROWS MODE SIZE INPUT.raw [OUTPUT.png]
// Either form takes --zoom N (1, 2 or 4) anywhere: the vectorscope's scale.
//
// Writes the scope picture that the Huelens window shows for an image when it
// is a new frame, with the pointer outside the capture and nothing picked:
// the colour wheel with the plot and the skin-tone line (vectorscope), or the
// Waveform or the Parade. The image is read like a capture: alpha dropped,
// scaled by nearest neighbour to SIZE columns and at most 4 x SIZE rows (a
// taller image is squeezed, as the window squeezes a taller capture). Images
// of more than 2^27 pixels (134 million) are not read: decoding needs their
// whole size in memory however small the file is. OPENCV_IO_MAX_IMAGE_PIXELS
// in the environment sets another limit.
//
// With --raw, INPUT.raw is a stream of captured frames, SIZE columns by ROWS
// rows (at most 4 x SIZE) of B, G, R, A bytes each, back to back. Every frame is analysed as a
// new capture, with the buffers kept from frame to frame as the window keeps
// them, so the run costs what the window pays for that many new frames; the
// picture of the last frame goes to OUTPUT.png when it is given. MODE "none"
// only reads the frames, which measures what reading them costs.
//
// With --profile FILE.icc (anywhere on the line), the image or the frames are
// what a monitor with that profile showed: the scope is drawn from their
// colours converted from that profile to sRGB, as the window draws it while
// it undoes the monitor's profile. FILE.icc is read as the window reads its
// profile file: a regular file of at most 64 MiB, never a folder, a device
// or a FIFO (which would wait for a writer).
//
// With --reference IMAGE (anywhere on the line, not with --raw), the scope is
// drawn as the window draws it while IMAGE is held as the reference: IMAGE's
// scope, at the same SIZE and scale, under the input's, in the reference's
// pale cyan. IMAGE is read as the window reads a reference: a regular file
// of at most 256 MiB and 134 million pixels, its colours taken as they are
// (a still file, not a capture: --profile leaves it alone).
//
// Exit status 0 on success, 1 when the input cannot be read or the output
// cannot be written, 2 for a malformed command line; on failure one line
// goes to stderr and no output file is left behind.

#include "colour/ProfileTransform.h"
#include "imagefile/StillImage.h"
#include "platform/Desktop.h"
#include "platform/RegularFile.h"
#include "platform/RunAgain.h"
#include "scopes/HeldReference.h"
#include "scopes/StillScope.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include <algorithm>
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
                           "or huelens-render --raw ROWS vectorscope|waveform|parade|none SIZE FRAMES.raw [OUTPUT.png]"
                           "; either takes --zoom 1|2|4 and --profile FILE.icc, the first --reference IMAGE";
constexpr int kNoScope = -1;
// More pixels than the largest camera pictures (about 100 million).
const char* const kPixelLimit = "134217728";
const char* const kPixelLimitVariable = "OPENCV_IO_MAX_IMAGE_PIXELS";

// The vectorscope's scale (--zoom), and the whole command line, options
// included, for starting the program again.
int vectorscopeZoom = 1;
char** commandLine = nullptr;
// The monitor's profile to undo; empty without --profile.
scopes::ProfileTransform monitorProfile;
// The picture held as the reference; null without --reference.
const char* referencePath = nullptr;

// The frame as the readings give it: converted to sRGB under --profile.
const cv::Mat& readingsOf(const cv::Mat& frame)
{
    static cv::Mat converted;
    if (monitorProfile.empty())
        return frame;
    monitorProfile.apply(frame, converted);
    return converted;
}

int fail(int status, std::string message)
{
    std::replace(message.begin(), message.end(), '\n', ' ');
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

// An image file in any format OpenCV reads, as a frame of `width` columns.
// Read as the profile is: a regular file only, opened without waiting (a
// FIFO at the path would wait for a writer forever), at most the size of
// the largest still the window reads.
std::optional<cv::Mat> loadFrame(const char* path, int width)
{
    const platform::FileContents file = platform::readRegularFile(path, scopes::kLargestStillImageFile);
    if (file.outcome != platform::FileOutcome::Read || file.bytes.empty())
        return std::nullopt;
    const cv::Mat image = scopes::decodePicture(file.bytes);
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

// Decoding allocates the picture's whole size before it reads a pixel, so a
// file of a few kilobytes can claim billions of pixels. OpenCV refuses
// pictures above OPENCV_IO_MAX_IMAGE_PIXELS, but reads the variable once, as
// the library is loaded: the program puts its limit into the environment and
// starts itself again. A limit already in the environment is kept; where the
// program cannot be started again, OpenCV's own limit (2^30) holds.
void limitDecodedPixels(char** argv)
{
    if (std::getenv(kPixelLimitVariable) == nullptr)
        platform::runAgainWithVariable(kPixelLimitVariable, kPixelLimit, commandLine ? commandLine : argv);
}

int renderRaw(int argc, char** argv)
{
    if (argc != 6 && argc != 7)
        return fail(kUsageError, kUsage);
    const std::optional<int> displayMode = displayModeOf(argv[3], true);
    if (!displayMode)
        return fail(kUsageError, "unknown mode '" + std::string(argv[3]) + "' (vectorscope, waveform, parade or none)");
    const std::optional<int> windowSize = windowSizeOf(argv[4]);
    if (!windowSize)
        return fail(kUsageError,
            "SIZE must be a whole number from " + std::to_string(scopes::kMinWindowSize) + " to "
                + std::to_string(scopes::kMaxWindowSize) + ", not '" + argv[4] + "'");
    const int maxRows = scopes::kMaxFrameAspect * *windowSize;
    const std::optional<int> rows = wholeNumberOf(argv[2], 1, maxRows);
    if (!rows)
        return fail(kUsageError,
            "ROWS must be a whole number from 1 to " + std::to_string(maxRows) + " (4 x SIZE), not '" + argv[2] + "'");
    const char* output = argc == 7 ? argv[6] : nullptr;
    if (output && *displayMode == kNoScope)
        return fail(kUsageError, "mode 'none' draws no picture to write");

    cv::Mat frame(*rows, *windowSize, CV_8UC4);
    std::optional<scopes::FrameScope> scope;
    if (*displayMode != kNoScope)
        scope.emplace(*displayMode, *windowSize, vectorscopeZoom);
    const cv::Mat* picture = nullptr;
    std::string error;
    const bool read = forEachRawFrame(
        argv[5], frame,
        [&](const cv::Mat& captured) {
            if (scope)
                picture = &scope->render(readingsOf(captured));
        },
        error);
    if (!read)
        return fail(kFailure, error);
    if (output && !writePng(*picture, output, error))
        return fail(kFailure, error);
    return EXIT_SUCCESS;
}

int render(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--raw") == 0) {
        if (referencePath)
            return fail(kUsageError, "--reference draws one picture; it does not go with --raw");
        return renderRaw(argc, argv);
    }
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

    limitDecodedPixels(commandLine);
    const std::optional<cv::Mat> frame = loadFrame(argv[3], *windowSize);
    if (!frame)
        return fail(kFailure, "cannot read an image from '" + std::string(argv[3]) + "'");

    cv::Mat scope = scopes::renderStillScope(readingsOf(*frame), *displayMode, *windowSize, vectorscopeZoom);
    if (referencePath) {
        const scopes::StillImage reference = scopes::readStillImage(referencePath, *windowSize);
        if (reference.frame.empty())
            return fail(
                kFailure, "cannot hold '" + std::string(referencePath) + "' as the reference: " + reference.problem);
        scopes::drawReference(
            scope, scopes::referenceLayer(reference.frame, *displayMode, *windowSize, vectorscopeZoom));
    }
    std::string error;
    if (!writePng(scope, argv[4], error))
        return fail(kFailure, error);
    return EXIT_SUCCESS;
}

// Takes "--zoom N" out of the arguments; false for a malformed one.
bool takeZoom(int argc, char** argv, std::vector<char*>& rest)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--zoom") != 0) {
            rest.push_back(argv[i]);
            continue;
        }
        const std::optional<int> zoom = i + 1 < argc ? wholeNumberOf(argv[i + 1], 1, 4) : std::nullopt;
        if (!zoom || scopes::validZoom(*zoom) != *zoom) {
            fail(kUsageError, "--zoom takes 1, 2 or 4, not '" + std::string(i + 1 < argc ? argv[i + 1] : "") + "'");
            return false;
        }
        vectorscopeZoom = *zoom;
        ++i;
    }
    rest.push_back(nullptr);
    return true;
}

// Takes "--reference IMAGE" out of the arguments; false for a malformed one.
bool takeReference(int argc, char** argv, std::vector<char*>& rest)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reference") != 0) {
            rest.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc || referencePath) {
            fail(kUsageError, "--reference takes one IMAGE, once");
            return false;
        }
        referencePath = argv[++i];
    }
    rest.push_back(nullptr);
    return true;
}

// Takes "--profile FILE" out of the arguments and loads the profile; the
// exit status of a run that cannot go on, else EXIT_SUCCESS.
int takeProfile(int argc, char** argv, std::vector<char*>& rest)
{
    const char* profilePath = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile") == 0) {
            if (i + 1 >= argc || profilePath)
                return fail(kUsageError, "--profile takes one FILE.icc, once");
            profilePath = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    rest.push_back(nullptr);
    if (!profilePath)
        return EXIT_SUCCESS;
    // The window's own rules: a regular file only, never waited for, and
    // never more of it read than a profile can hold.
    const std::string quoted = "'" + std::string(profilePath) + "'";
    const platform::FileContents file = platform::readRegularFile(profilePath, platform::kLargestProfile);
    switch (file.outcome) {
    case platform::FileOutcome::Read:
        break;
    case platform::FileOutcome::NotRegular:
        return fail(kFailure, "the profile " + quoted + " is not a file (a folder, a device or a pipe)");
    case platform::FileOutcome::TooLarge:
        return fail(kFailure,
            "the profile " + quoted + " is larger than " + std::to_string(platform::kLargestProfile >> 20)
                + " MiB, too large for a profile");
    default:
        return fail(kFailure, "cannot read the profile " + quoted + ": " + file.error);
    }
    const std::vector<std::uint8_t>& bytes = file.bytes;
    if (!monitorProfile.load(bytes))
        return fail(kFailure, "'" + std::string(profilePath) + "' cannot be undone: " + monitorProfile.problem());
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv)
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // Whatever OpenCV cannot do (memory, sizes it refuses) ends the run like
    // any other failure, with one line, never with an abort.
    try {
        commandLine = argv;
        std::vector<char*> arguments;
        if (!takeZoom(argc, argv, arguments))
            return kUsageError;
        std::vector<char*> unreferenced;
        if (!takeReference(static_cast<int>(arguments.size()) - 1, arguments.data(), unreferenced))
            return kUsageError;
        std::vector<char*> rest;
        const int profileStatus = takeProfile(static_cast<int>(unreferenced.size()) - 1, unreferenced.data(), rest);
        if (profileStatus != EXIT_SUCCESS)
            return profileStatus;
        return render(static_cast<int>(rest.size()) - 1, rest.data());
    } catch (const cv::Exception& e) {
        return fail(kFailure, "OpenCV cannot do it: " + e.err);
    } catch (const std::bad_alloc&) {
        return fail(kFailure, "not enough memory");
    }
}
