// Cost of undoing the monitor's profile on a captured 400 x 225 frame: the
// table walk the cycle runs for each new frame, against LittleCMS's own
// transform of the same frame (what the table replaces) and the building of
// the table (once per profile). A new frame may add at most 0.3 ms.

#include "BenchFrames.h"
#include "colour/ProfileTransform.h"

#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char* const kAdobeCompatible = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

std::vector<std::uint8_t> profileBytes()
{
    std::ifstream file(kAdobeCompatible, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

const cv::Mat& frame()
{
    static const cv::Mat photo = bench::coverPhoto(400, 225);
    return photo;
}

void BM_ProfileTable_Frame400(benchmark::State& state)
{
    scopes::ProfileTransform transform;
    if (!transform.load(profileBytes())) {
        state.SkipWithError("no AdobeRGB-compatible profile (icc-profiles-free)");
        return;
    }
    cv::Mat out;
    for (auto _ : state) {
        transform.apply(frame(), out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProfileTable_Frame400)->Unit(benchmark::kMicrosecond);

void BM_ProfileLcmsTransform_Frame400(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes = profileBytes();
    cmsHPROFILE monitor = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = monitor ? cmsCreateTransform(monitor, TYPE_BGRA_8, srgb, TYPE_BGRA_8,
                                            INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA)
                                      : nullptr;
    if (!transform) {
        state.SkipWithError("no AdobeRGB-compatible profile (icc-profiles-free)");
    } else {
        cv::Mat out(frame().size(), CV_8UC4);
        for (auto _ : state) {
            cmsDoTransform(transform, frame().data, out.data, static_cast<cmsUInt32Number>(frame().total()));
            benchmark::DoNotOptimize(out.data);
        }
        cmsDeleteTransform(transform);
    }
    if (monitor)
        cmsCloseProfile(monitor);
    cmsCloseProfile(srgb);
}
BENCHMARK(BM_ProfileLcmsTransform_Frame400)->Unit(benchmark::kMicrosecond);

void BM_ProfileTableBuild(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes = profileBytes();
    for (auto _ : state) {
        scopes::ProfileTransform transform;
        benchmark::DoNotOptimize(transform.load(bytes));
    }
}
BENCHMARK(BM_ProfileTableBuild)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
