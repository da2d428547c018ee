#include "colour/ProfileTransform.h"

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#if __has_include(<lcms2.h>) && !defined(HUELENS_NO_LCMS)
#include <lcms2.h>
#define HUELENS_HAVE_LCMS 1
#else
#define HUELENS_HAVE_LCMS 0
#endif

namespace scopes {

namespace {

constexpr int kShareBits = 18;                  // fixed point of the linear shares
constexpr int kEncodeBits = 14;                 // linear steps of the encoding table
constexpr int kEncodeSize = 1 << kEncodeBits;
constexpr int kShareToEncode = kShareBits - kEncodeBits;

#if HUELENS_HAVE_LCMS

// LittleCMS reports through a callback; the last report is the reason a
// profile is refused. GUI thread only, like the rest of the cycle.
std::string lastLcmsError;

void keepLcmsError(cmsContext, cmsUInt32Number, const char* text)
{
    lastLcmsError = text ? text : "";
}

void quietLcms()
{
    static const bool installed = [] {
        cmsSetLogErrorHandler(keepLcmsError);
        return true;
    }();
    (void)installed;
}

struct Profile {
    cmsHPROFILE handle;
    explicit Profile(cmsHPROFILE h)
        : handle(h)
    {
    }
    ~Profile()
    {
        if (handle)
            cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

std::string colourSpaceProblem(cmsColorSpaceSignature space)
{
    switch (space) {
    case cmsSigGrayData:
        return "a grey profile, not an RGB monitor's";
    case cmsSigCmykData:
        return "a CMYK profile, not an RGB monitor's";
    case cmsSigCmyData:
        return "a CMY profile, not an RGB monitor's";
    case cmsSigLabData:
        return "a Lab profile, not an RGB monitor's";
    case cmsSigXYZData:
        return "an XYZ profile, not an RGB monitor's";
    default:
        return "a profile of other than RGB colours, not an RGB monitor's";
    }
}

std::string classProblem(cmsProfileClassSignature kind)
{
    switch (kind) {
    case cmsSigLinkClass:
        return "a device link, not a monitor's profile";
    case cmsSigAbstractClass:
        return "an abstract profile, not a monitor's";
    case cmsSigNamedColorClass:
        return "a named-colour profile, not a monitor's";
    default:
        return {};
    }
}

using Matrix = std::array<std::array<double, 3>, 3>;

// Columns: the XYZ of the red, green and blue colorants; tone curves R, G, B.
bool readMatrixShaper(cmsHPROFILE profile, Matrix& primaries, std::array<cmsToneCurve*, 3>& curves)
{
    const cmsTagSignature colorants[3] = { cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag };
    const cmsTagSignature trcs[3] = { cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag };
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
        curves[c] = static_cast<cmsToneCurve*>(cmsReadTag(profile, trcs[c]));
        if (!xyz || !curves[c])
            return false;
        primaries[0][c] = xyz->X;
        primaries[1][c] = xyz->Y;
        primaries[2][c] = xyz->Z;
    }
    return true;
}

bool invert(const Matrix& m, Matrix& inverse)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
        - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-9)
        return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return true;
}

// Each byte's shares of the linear sRGB channels, in 2^18ths: for lanes B,
// G, R (in that order) and each byte, the three output lanes B, G, R. False
// when the walk cannot add them exactly: it adds three shares and a rounding
// bias in 32 bits, and a sum that does not fit would wrap where the colour
// engine does not. The sums of the largest magnitudes bound every partial
// sum the walk forms.
bool tableShares(const Matrix& primaries, const Matrix& toSrgb, const std::array<cmsToneCurve*, 3>& curves,
    std::vector<std::array<std::int32_t, 3>>& shares)
{
    // Linear monitor R, G, B to linear sRGB R, G, B.
    Matrix m {};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                m[r][c] += toSrgb[r][k] * primaries[k][c];

    constexpr double kOne = double(1 << kShareBits);
    constexpr double kLargestSum = double(std::numeric_limits<std::int32_t>::max() - (1 << (kShareToEncode - 1)));
    std::vector<std::array<double, 3>> exact(3 * 256);
    std::array<double, 3> largest {};
    const int channelOfLane[3] = { 2, 1, 0 }; // lanes B, G, R; rows and columns R, G, B
    for (int lane = 0; lane < 3; ++lane) {
        const int in = channelOfLane[lane];
        std::array<double, 3> largestOfLane {};
        for (int v = 0; v < 256; ++v) {
            const double linear = cmsEvalToneCurveFloat(curves[in], static_cast<float>(v / 255.0));
            for (int outLane = 0; outLane < 3; ++outLane) {
                const double share = m[channelOfLane[outLane]][in] * linear * kOne;
                if (!std::isfinite(share))
                    return false;
                exact[std::size_t(lane) * 256 + v][outLane] = share;
                largestOfLane[outLane] = std::max(largestOfLane[outLane], std::fabs(share) + 0.5);
            }
        }
        for (int outLane = 0; outLane < 3; ++outLane)
            largest[outLane] += largestOfLane[outLane];
    }
    for (const double sum : largest)
        if (sum > kLargestSum)
            return false;
    shares.resize(exact.size());
    for (std::size_t i = 0; i < exact.size(); ++i)
        for (int outLane = 0; outLane < 3; ++outLane)
            shares[i][outLane] = static_cast<std::int32_t>(std::lround(exact[i][outLane]));
    return true;
}

#endif

} // namespace

ProfileTransform::ProfileTransform() = default;

ProfileTransform::~ProfileTransform()
{
    clear();
}

bool ProfileTransform::available()
{
    return HUELENS_HAVE_LCMS != 0;
}

void ProfileTransform::clear()
{
#if HUELENS_HAVE_LCMS
    if (lcmsTransform)
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(lcmsTransform));
#endif
    lcmsTransform = nullptr;
    shares.clear();
    encode.clear();
    bytes.clear();
    name.clear();
    why.clear();
}

bool ProfileTransform::load(const std::vector<std::uint8_t>& icc)
{
    if (!bytes.empty() && icc == bytes)
        return true;
    // Bytes refused before are refused again without asking the engine.
    if (bytes.empty() && !why.empty() && icc == refused)
        return false;
    clear();
    refused = icc;
    if (icc.empty()) {
        why = "no profile";
        return false;
    }
#if HUELENS_HAVE_LCMS
    quietLcms();
    lastLcmsError.clear();
    Profile monitor(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!monitor.handle) {
        why = "not an ICC profile";
        return false;
    }
    const std::string wrongClass = classProblem(cmsGetDeviceClass(monitor.handle));
    if (!wrongClass.empty()) {
        why = wrongClass;
        return false;
    }
    if (cmsGetColorSpace(monitor.handle) != cmsSigRgbData) {
        why = colourSpaceProblem(cmsGetColorSpace(monitor.handle));
        return false;
    }
    Profile srgb(cmsCreate_sRGBProfile());
    // Built even for the fast path: whether LittleCMS accepts the profile
    // decides whether it is usable at all.
    cmsHTRANSFORM transform = srgb.handle ? cmsCreateTransform(monitor.handle, TYPE_BGRA_8, srgb.handle, TYPE_BGRA_8,
                                                INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA)
                                          : nullptr;
    if (!transform) {
        why = "an RGB profile the colour engine cannot use"
            + (lastLcmsError.empty() ? std::string() : " (" + lastLcmsError + ")");
        return false;
    }

    // LittleCMS itself prefers a profile's tables to its matrix when it has both.
    Matrix primaries {};
    Matrix srgbPrimaries {};
    Matrix toSrgb {};
    std::array<cmsToneCurve*, 3> curves {};
    std::array<cmsToneCurve*, 3> srgbCurves {};
    const bool fast = cmsIsMatrixShaper(monitor.handle)
        && !cmsIsCLUT(monitor.handle, INTENT_RELATIVE_COLORIMETRIC, LCMS_USED_AS_INPUT)
        && readMatrixShaper(monitor.handle, primaries, curves)
        && readMatrixShaper(srgb.handle, srgbPrimaries, srgbCurves) && invert(srgbPrimaries, toSrgb);
    std::vector<std::array<std::int32_t, 3>> linearShares;
    // sRGB's encoding is the same curve for all three channels.
    cmsToneCurve* toBytes = nullptr;
    if (fast && tableShares(primaries, toSrgb, curves, linearShares)
        && (toBytes = cmsReverseToneCurve(srgbCurves[0])) != nullptr) {
        cmsDeleteTransform(transform);
        shares.resize(linearShares.size());
        for (std::size_t i = 0; i < shares.size(); ++i)
            shares[i] = Share { { linearShares[i][0], linearShares[i][1], linearShares[i][2], 0 } };
        encode.resize(kEncodeSize);
        for (int i = 0; i < kEncodeSize; ++i) {
            const float v = cmsEvalToneCurveFloat(toBytes, static_cast<float>(i) / (kEncodeSize - 1));
            encode[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
        }
        cmsFreeToneCurve(toBytes);
    } else if (fast) {
        // A matrix-shaper the tables cannot hold: primaries far beyond any
        // monitor's (the format allows colorants up to 32767). LittleCMS's
        // own 8-bit shortcut for matrix-shapers computes in 1.14 fixed
        // point and wraps there even sooner (a matrix whose row adds up to
        // more than 8), so the engine runs its whole pipeline instead: right,
        // and about 50 ms per 400 x 225 frame, for profiles no monitor has.
        cmsDeleteTransform(transform);
        transform = cmsCreateTransform(monitor.handle, TYPE_BGRA_8, srgb.handle, TYPE_BGRA_8,
            INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOOPTIMIZE);
        if (!transform) {
            clear();
            why = "an RGB profile the colour engine cannot use"
                + (lastLcmsError.empty() ? std::string() : " (" + lastLcmsError + ")");
            return false;
        }
        lcmsTransform = transform;
    } else {
        lcmsTransform = transform;
    }
    refused.clear();
    bytes = icc;
    char text[256] = {};
    if (cmsGetProfileInfoASCII(monitor.handle, cmsInfoDescription, "en", "US", text, sizeof text) > 0)
        name = text;
    return true;
#else
    why = "this build has no colour engine";
    return false;
#endif
}

std::array<std::uint8_t, 3> ProfileTransform::convert(std::uint8_t b, std::uint8_t g, std::uint8_t r) const
{
    cv::Mat pixel(1, 1, CV_8UC4, cv::Scalar(b, g, r, 255));
    cv::Mat out;
    apply(pixel, out);
    const cv::Vec4b v = out.at<cv::Vec4b>(0, 0);
    return { v[0], v[1], v[2] };
}

void ProfileTransform::apply(const cv::Mat& from, cv::Mat& to) const
{
    if (from.type() != CV_8UC4 || bytes.empty()) {
        from.copyTo(to);
        return;
    }
    to.create(from.size(), CV_8UC4);
    for (int y = 0; y < from.rows; ++y) {
        const std::uint8_t* in = from.ptr<std::uint8_t>(y);
        std::uint8_t* out = to.ptr<std::uint8_t>(y);
#if HUELENS_HAVE_LCMS
        if (lcmsTransform) {
            cmsDoTransform(static_cast<cmsHTRANSFORM>(lcmsTransform), in, out, static_cast<cmsUInt32Number>(from.cols));
            continue;
        }
#endif
        const Share* blue = shares.data();
        const Share* green = blue + 256;
        const Share* red = green + 256;
        const std::uint8_t* bytesOf = encode.data();
        for (int x = 0; x < from.cols; ++x, in += 4, out += 4) {
            const Share& sb = blue[in[0]];
            const Share& sg = green[in[1]];
            const Share& sr = red[in[2]];
#ifdef __SSE2__
            // The three sums at once, narrowed with saturation and clamped to the table.
            __m128i sum = _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(sb.linear)),
                _mm_load_si128(reinterpret_cast<const __m128i*>(sg.linear)));
            sum = _mm_add_epi32(sum, _mm_load_si128(reinterpret_cast<const __m128i*>(sr.linear)));
            sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << (kShareToEncode - 1))), kShareToEncode);
            __m128i index = _mm_packs_epi32(sum, sum);
            index = _mm_min_epi16(_mm_max_epi16(index, _mm_setzero_si128()), _mm_set1_epi16(kEncodeSize - 1));
            out[0] = bytesOf[_mm_extract_epi16(index, 0)];
            out[1] = bytesOf[_mm_extract_epi16(index, 1)];
            out[2] = bytesOf[_mm_extract_epi16(index, 2)];
#else
            for (int lane = 0; lane < 3; ++lane) {
                const int sum = (sb.linear[lane] + sg.linear[lane] + sr.linear[lane] + (1 << (kShareToEncode - 1)))
                    >> kShareToEncode;
                out[lane] = bytesOf[std::clamp(sum, 0, kEncodeSize - 1)];
            }
#endif
            out[3] = in[3];
        }
    }
}

} // namespace scopes
