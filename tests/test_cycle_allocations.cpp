// Once the sizes are stable the capture cycle allocates no picture-sized
// buffer: every cv::Mat, OpenCV's temporaries included, goes through the
// allocator installed here. Buffers under 1 KB (such as the few-element
// kernel OpenCV's Gaussian filter builds on every call) are not counted.

#include "platform/memory/MemoryDesktop.h"
#include "preview/ExposureOverlay.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <atomic>

namespace {

class CountingAllocator : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
        cv::UMatUsageFlags usage) const override
    {
        size_t bytes = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i)
            bytes *= static_cast<size_t>(sizes[i]);
        if (bytes >= 1024)
            ++count;
        cv::UMatData* u = inner->allocate(dims, sizes, type, data, step, flags, usage);
        if (u)
            u->currAllocator = const_cast<CountingAllocator*>(this);
        return u;
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return inner->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override { inner->deallocate(data); }

    cv::MatAllocator* inner = cv::Mat::getDefaultAllocator();
    mutable std::atomic<int> count { 0 };
};

} // namespace

struct AllocationTag;
template <> struct MainWindowProbe<AllocationTag> {
    // A mode, the pointer resting on the plot (the hover highlight needs the colour image).
    // And the preview's exposure view: off, clipping or false colour.
    static void set(MainWindow& w, int mode, int exposure)
    {
        w.displayMode = mode;
        w.exposureMode = static_cast<scopes::ExposureMode>(exposure);
        w.hoverHue = 0.5f;
        w.hoverSaturation = 0.8;
        w.hoverX = 200.0;
        w.hoverY = 100.0;
    }
    static void toggleReference(MainWindow& w) { w.referenceTrigger(); }
};

// Twenty cycles of new frames after three to warm up (the buffers take
// their sizes) allocate nothing. `hold`: the reference is held after the
// first cycle; `release`: and released after the second; `overWindow`: the
// tool window lies over part of the capture.
void allocationsPerCycle(
    platform::MemoryDesktop& desktop, int mode, int exposure, bool hold, bool release, bool overWindow = false)
{
    // Declared before the window: the window's matrices remember the
    // allocator that made them and call it when the window goes.
    CountingAllocator counting;
    MainWindow window(nullptr, false, 0);
    MainWindowProbe<AllocationTag>::set(window, mode, exposure);
    desktop.windowFrames.clear();
    if (overWindow) {
        window.show();
        desktop.windowFrames[window.winId()] = platform::Rect { 300, 100, 700, 600 };
    }
    cv::Mat::setDefaultAllocator(&counting);
    int afterWarmUp = 0;
    for (int cycle = 0; cycle < 23; ++cycle) {
        // A new byte sum every cycle, so every cycle analyses a new frame.
        desktop.screen.setTo(cv::Scalar(30, 90, 200, 255));
        desktop.screen(cv::Rect(100, 50, 300, 200)).setTo(cv::Scalar(200, 120, 20 + cycle, 255));
        window.updateScreen();
        if ((cycle == 0 && hold) || (cycle == 1 && release))
            MainWindowProbe<AllocationTag>::toggleReference(window);
        if (cycle == 2)
            afterWarmUp = counting.count;
    }
    cv::Mat::setDefaultAllocator(counting.inner);
    QVERIFY2(counting.count == afterWarmUp,
        qPrintable(QStringLiteral("display mode %1, exposure view %2, reference %3%4")
                       .arg(mode)
                       .arg(exposure)
                       .arg(release ? "released" : hold ? "held" : "none")
                       .arg(overWindow ? ", over the window" : "")));
}

class CycleAllocationTest : public QObject {
    Q_OBJECT
private slots:
    void stableSizesAllocateNoPictures()
    {
        platform::MemoryDesktop& desktop = platform::memoryDesktop();
        desktop.reset(1600, 900);
        desktop.pointerPosition = { 800, 450 };
        // A reference: none; held during the warm-up and kept (drawn under
        // every cycle's scope from its layer, made once); held and released.
        // And the preview's exposure view: off, clipping, false colour.
        enum Reference { None, Held, Released };
        for (const Reference reference : { None, Held, Released })
            for (const int exposure : { 0, 1, 2 })
                for (const int mode : { 0, 1, 2 }) {
                    if (reference != None && exposure != 0)
                        continue; // each feature on its own, and the two together once below
                    allocationsPerCycle(desktop, mode, exposure, reference != None, reference == Released);
                }
        allocationsPerCycle(desktop, 0, 2, true, false);
        // The tool window over part of the capture (its area left out of the scopes).
        for (const int mode : { 0, 1, 2 })
            allocationsPerCycle(desktop, mode, 0, false, false, true);
    }
};

QTEST_MAIN(CycleAllocationTest)
#include "test_cycle_allocations.moc"
