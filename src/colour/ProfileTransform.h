#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace scopes {

// Turns captured pixels from a monitor's colour space into sRGB: what the
// picture's values were before the desktop converted them for the monitor.
// Built once per profile, relative colorimetric intent. Nearly every monitor
// profile is a matrix-shaper (three tone curves and the primaries): such a
// profile becomes three tables of each byte's share of the linear sRGB
// channels, so a pixel costs three look-ups, a sum and an encoding look-up.
// The sums are 32-bit, which holds any monitor's primaries many times over;
// a profile whose shares could overflow them (primaries near the format's
// largest values) goes through the colour engine's whole pipeline instead.
// Any other RGB profile goes through LittleCMS 2's own transform, kept for as
// long as the profile is in use.
class ProfileTransform {
public:
    ProfileTransform();
    ~ProfileTransform();
    ProfileTransform(const ProfileTransform&) = delete;
    ProfileTransform& operator=(const ProfileTransform&) = delete;

    // Whether this build can convert at all (it needs LittleCMS 2).
    static bool available();

    // Takes a profile's bytes. False, with problem() saying why, when they are
    // no ICC profile, or one of a monitor-less kind (a device link, an
    // abstract or named-colour profile) or of other than RGB colours (grey,
    // CMYK); the transform is then empty. The same bytes as the ones in use
    // keep the table already built.
    bool load(const std::vector<std::uint8_t>& icc);
    void clear();

    bool empty() const { return bytes.empty(); }
    // Whether the profile took the per-byte tables (else the colour engine's transform).
    bool usesTables() const { return !shares.empty(); }
    // The profile's own description, or "" when it has none.
    const std::string& description() const { return name; }
    // Why the last load failed; "" after a successful one.
    const std::string& problem() const { return why; }
    const std::vector<std::uint8_t>& profileBytes() const { return bytes; }

    // to := `from` (B, G, R, A bytes) in sRGB, the fourth byte kept; the
    // buffer of `to` is kept when its size fits. Empty transform: a copy.
    void apply(const cv::Mat& from, cv::Mat& to) const;
    // One pixel: B, G, R in, B, G, R out.
    std::array<std::uint8_t, 3> convert(std::uint8_t b, std::uint8_t g, std::uint8_t r) const;

private:
    struct alignas(16) Share {
        std::int32_t linear[4]; // linear sRGB B, G, R (and 0) in 2^18ths
    };
    // Matrix-shaper: for channel B, G, R (in that order) and each byte, its
    // share of the linear sRGB channels; and linear 0..1 in 2^14ths to bytes.
    std::vector<Share> shares;
    std::vector<std::uint8_t> encode;
    // Any other profile: LittleCMS's transform (a cmsHTRANSFORM).
    void* lcmsTransform = nullptr;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> refused; // the bytes of the last failed load
    std::string name;
    std::string why;
};

} // namespace scopes
