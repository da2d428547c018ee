// The capture cycle runs 25 times a second beside an editor all day: once the
// sizes are stable, no image buffer may be allocated on it. Every cv::Mat of
// the program and of OpenCV's own temporaries goes through the allocator this
// test installs, so a clone(), a Mat assigned from an expression or a
// temporary picture inside a call shows up as a count. OpenCV's Gaussian
// filter builds its few-element kernel afresh on every call; buffers that
// small are not pictures and are not counted.

#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <memory>

namespace {

class CountingAllocator : public cv::MatAllocator {
public:
    explicit CountingAllocator(cv::MatAllocator* inner)
        : inner(inner)
    {
    }

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override
    {
        size_t bytes = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i)
            bytes *= static_cast<size_t>(sizes[i]);
        if (bytes >= kSmallestPicture)
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

    static constexpr size_t kSmallestPicture = 1024;
    mutable std::atomic<int> count{0};

private:
    cv::MatAllocator* inner;
};

// Two frames of different byte sums, so every cycle sees a change.
void paintFrame(int cycle)
{
    cv::Mat& screen = platform::memoryDesktop().screen;
    screen.setTo(cv::Scalar(30, 90, 200, 255));
    cv::rectangle(screen, cv::Rect(100 + cycle % 7, 50, 300, 200), cv::Scalar(200, 120, 20, 255), cv::FILLED);
}

} // namespace

struct AllocationTag;
template <>
struct MainWindowProbe<AllocationTag> {
    static void setMode(MainWindow& w, int mode) { w.displayMode = mode; }
};

class CycleAllocationTest : public QObject {
    Q_OBJECT
private slots:
    void stableSizesAllocateNoImageBuffers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("vectorscope") << 0;
        QTest::newRow("waveform") << 1;
        QTest::newRow("parade") << 2;
    }

    void stableSizesAllocateNoImageBuffers()
    {
        QFETCH(int, mode);
        platform::memoryDesktop().reset(1600, 900);
        platform::memoryDesktop().pointerPosition = {800, 450};
        // Declared before the window: the window's matrices remember the
        // allocator that made them and call it when the window goes.
        CountingAllocator counting(cv::Mat::getDefaultAllocator());
        MainWindow window(nullptr, false, 0);
        MainWindowProbe<AllocationTag>::setMode(window, mode);

        cv::MatAllocator* previous = cv::Mat::getDefaultAllocator();
        cv::Mat::setDefaultAllocator(&counting);
        for (int cycle = 0; cycle < 3; ++cycle) { // warm-up: the buffers take their sizes
            paintFrame(cycle);
            window.updateScreen();
        }
        const int afterWarmUp = counting.count;
        for (int cycle = 3; cycle < 23; ++cycle) {
            paintFrame(cycle);
            window.updateScreen();
        }
        const int steady = counting.count - afterWarmUp;
        cv::Mat::setDefaultAllocator(previous);
        QCOMPARE(steady, 0);
    }
};

QTEST_MAIN(CycleAllocationTest)
#include "test_cycle_allocations.moc"
