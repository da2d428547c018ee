// The Windows back-end on a real Win32 desktop (Wine on a private Xvfb, see
// run-tests.sh): screen copies of a pattern this test paints, the monitor
// table, the window in front with its texts and executable, and windows that
// vanish between two calls. Plain Win32: no Qt, no OpenCV.
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Handles.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using platform::Rect;
using platform::Win32Desktop;
using platform::win32::toHwnd;
using platform::win32::toWindowHandle;

namespace {

// A small harness: CHECK records, never aborts; main prints the tally.
int passed = 0;
int failed = 0;

bool check(bool ok, const std::string& what, const char* file, int line)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
    }
    return ok;
}
#define CHECK(cond, what) check((cond), (what), __FILE__, __LINE__)

std::string str(const Rect& r)
{
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", "
        + std::to_string(r.bottom) + ")";
}

// The desktop run-tests.sh starts: two X screens side by side under Xinerama,
// the second one lower, so (640..960, 240..480) lies on no monitor.
const Rect kFirstMonitor { 0, 0, 640, 480 };
const Rect kSecondMonitor { 640, 0, 960, 240 };

// The pattern: every desktop pixel names its own position. Red and green are
// the low bytes of x and y, blue holds their high bits; the window covers
// both monitors, so every pixel of the desktop is known.
std::uint32_t patternPixel(int x, int y) // 0x00RRGGBB
{
    const std::uint32_t blue = ((x >> 8) & 0xf) | (((y >> 8) & 0xf) << 4);
    return (std::uint32_t(x & 0xff) << 16) | (std::uint32_t(y & 0xff) << 8) | blue;
}

struct Decoded {
    int x;
    int y;
};

Decoded decode(const std::uint8_t* bgra)
{
    return Decoded { bgra[2] | ((bgra[0] & 0xf) << 8), bgra[1] | ((bgra[0] >> 4) << 8) };
}

const int kPatternWidth = kSecondMonitor.right;
const int kPatternHeight = kFirstMonitor.bottom;

LRESULT CALLBACK patternProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_PAINT) {
        static std::vector<std::uint32_t> bits = [] {
            std::vector<std::uint32_t> b(std::size_t(kPatternWidth) * kPatternHeight);
            for (int y = 0; y < kPatternHeight; ++y)
                for (int x = 0; x < kPatternWidth; ++x)
                    b[std::size_t(y) * kPatternWidth + x] = patternPixel(x, y);
            return b;
        }();
        BITMAPINFO info = platform::win32::topDownBitmapInfo(kPatternWidth, kPatternHeight);
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        SetDIBitsToDevice(
            dc, 0, 0, kPatternWidth, kPatternHeight, 0, 0, 0, kPatternHeight, bits.data(), &info, DIB_RGB_COLORS);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps messages until `done` holds or about 10 s have passed. A wait for the
// X server to show what was painted, not a measurement.
bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 200; ++i) {
        pumpMessages();
        if (done())
            return true;
        Sleep(50);
    }
    return done();
}

HWND makeWindow(const wchar_t* className, const wchar_t* title, WNDPROC proc, const Rect& where, DWORD exStyle)
{
    WNDCLASSW wc {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    RegisterClassW(&wc); // fails harmlessly when already registered
    return CreateWindowExW(exStyle, className, title, WS_POPUP | WS_VISIBLE, where.left, where.top, where.width(),
        where.height(), nullptr, nullptr, wc.hInstance, nullptr);
}

std::vector<std::uint8_t> capture(Win32Desktop& desktop, const Rect& source, int outWidth, int outHeight)
{
    std::vector<std::uint8_t> frame(std::size_t(outWidth) * outHeight * 4, 0x5a);
    desktop.copy(source, outWidth, outHeight, frame.data());
    return frame;
}

bool onMonitor(int x, int y)
{
    for (const Rect& m : { kFirstMonitor, kSecondMonitor })
        if (x >= m.left && x < m.right && y >= m.top && y < m.bottom)
            return true;
    return false;
}

// Every output pixel holds the pattern of the source pixel GDI is said to
// take, or black with A = 255 where that pixel lies on no monitor. Reports
// the first wrong pixel only.
bool frameMatches(
    const std::vector<std::uint8_t>& frame, const Rect& source, int outWidth, int outHeight, std::string& firstWrong)
{
    for (int y = 0; y < outHeight; ++y) {
        const int sy = source.top + platform::gdiSourceRow(y, source.height(), outHeight);
        for (int x = 0; x < outWidth; ++x) {
            const int sx = source.left + platform::gdiSourceColumn(x, source.width(), outWidth);
            const std::uint8_t* p = &frame[(std::size_t(y) * outWidth + x) * 4];
            bool ok;
            if (onMonitor(sx, sy)) {
                const Decoded d = decode(p);
                ok = d.x == sx && d.y == sy && p[3] == 255;
            } else {
                ok = p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255;
            }
            if (!ok) {
                const Decoded d = decode(p);
                firstWrong = "output (" + std::to_string(x) + ", " + std::to_string(y) + ") should show source ("
                    + std::to_string(sx) + ", " + std::to_string(sy) + ")" + (onMonitor(sx, sy) ? "" : " = black")
                    + ", shows (" + std::to_string(d.x) + ", " + std::to_string(d.y) + ") A=" + std::to_string(p[3])
                    + " bytes " + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
                return false;
            }
        }
    }
    return true;
}

void monitorTable(Win32Desktop& desktop)
{
    const std::vector<Rect> monitors = desktop.monitors();
    std::string got;
    for (const Rect& m : monitors)
        got += str(m);
    CHECK(
        monitors.size() == 2 && monitors[0] == kFirstMonitor && monitors[1] == kSecondMonitor, "monitor table " + got);
}

// The source pixels COLORONCOLOR takes, as read off Wine's GDI pixel by
// pixel and written down here. Growing takes the pixel under the output
// pixel's centre (a centre on a boundary goes to the lower pixel), the same
// across and down; shrinking rounds differently for columns and rows.
void sourcePixelRule()
{
    struct Case {
        int source;
        int out;
        std::vector<int> columns;
        std::vector<int> rows;
    };
    const Case cases[] = {
        { 10, 4, { 2, 4, 7, 9 }, { 0, 3, 5, 8 } },
        { 10, 3, { 2, 6, 9 }, { 0, 3, 7 } },
        { 7, 2, { 3, 6 }, { 0, 4 } },
        { 9, 4, { 1, 4, 6, 8 }, { 0, 2, 5, 7 } },
        { 16, 5, { 2, 5, 9, 12, 15 }, { 0, 3, 6, 10, 13 } },
        { 20, 7, { 2, 5, 8, 10, 13, 16, 19 }, { 0, 3, 6, 9, 11, 14, 17 } },
        { 640, 400, { 1, 2, 4, 5, 7, 9, 10, 12, 13, 15 }, { 0, 2, 3, 5, 6, 8, 10, 11, 13, 14 } }, // the first ten
        { 4, 4, { 0, 1, 2, 3 }, { 0, 1, 2, 3 } },
        { 5, 8, { 0, 0, 1, 2, 2, 3, 4, 4 }, { 0, 0, 1, 2, 2, 3, 4, 4 } },
        { 3, 7, { 0, 0, 1, 1, 1, 2, 2 }, { 0, 0, 1, 1, 1, 2, 2 } },
        { 4, 9, { 0, 0, 1, 1, 1, 2, 2, 3, 3 }, { 0, 0, 1, 1, 1, 2, 2, 3, 3 } }, // 4.5 * 4 / 9 = 2 goes to 1
        { 7, 30, { 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3 }, { 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3 } },
        { 1, 3, { 0, 0, 0 }, { 0, 0, 0 } },
    };
    auto picks = [](int (*rule)(int, int, int), const Case& c, std::size_t count) {
        std::string got;
        for (std::size_t i = 0; i < count; ++i)
            got += std::to_string(rule(int(i), c.source, c.out)) + " ";
        return got;
    };
    auto written = [](const std::vector<int>& v) {
        std::string s;
        for (int p : v)
            s += std::to_string(p) + " ";
        return s;
    };
    for (const Case& c : cases) {
        const std::string size = std::to_string(c.source) + " -> " + std::to_string(c.out);
        const std::string columns = picks(platform::gdiSourceColumn, c, c.columns.size());
        const std::string rows = picks(platform::gdiSourceRow, c, c.rows.size());
        CHECK(columns == written(c.columns), "columns " + size + ": " + columns + "!= " + written(c.columns));
        CHECK(rows == written(c.rows), "rows " + size + ": " + rows + "!= " + written(c.rows));
    }
}

void screenCopies(Win32Desktop& desktop)
{
    struct Case {
        const char* what;
        Rect source;
        int outWidth;
        int outHeight;
    };
    const Case cases[] = {
        { "native, first monitor", kFirstMonitor, 640, 480 },
        { "native, second monitor", kSecondMonitor, 320, 240 },
        { "to the window width 400", kFirstMonitor, 400, 300 },
        { "to a width of 256, a sub-rectangle", Rect { 100, 50, 500, 350 }, 256, 192 },
        { "shrunk by odd factors", Rect { 3, 7, 620, 470 }, 97, 61 },
        { "grown", Rect { 10, 20, 17, 25 }, 30, 22 },
        { "across both monitors", Rect { 600, 100, 700, 200 }, 50, 50 },
        { "partly left of and above the desktop", Rect { -20, -10, 60, 30 }, 80, 40 },
        { "partly off, scaled", Rect { -100, -60, 300, 240 }, 150, 75 },
        { "the gap below the second monitor", Rect { 600, 200, 960, 480 }, 180, 140 },
        { "the gap below the second monitor and beyond", Rect { 600, 200, 1000, 520 }, 200, 160 },
        { "partly off, grown", Rect { -5, 475, 5, 485 }, 25, 25 },
        { "wholly off the desktop", Rect { -500, -500, -100, -200 }, 40, 30 },
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> frame = capture(desktop, c.source, c.outWidth, c.outHeight);
        std::string firstWrong;
        const bool matches = frameMatches(frame, c.source, c.outWidth, c.outHeight, firstWrong);
        CHECK(matches,
            std::string(c.what) + " " + str(c.source) + " -> " + std::to_string(c.outWidth) + "x"
                + std::to_string(c.outHeight) + ": " + firstWrong);
    }

    // An empty source gives black; no output size writes nothing (and no
    // buffer is no crash).
    std::vector<std::uint8_t> frame = capture(desktop, Rect { 5, 5, 5, 50 }, 4, 4);
    bool black = true;
    for (std::size_t i = 0; i < frame.size(); i += 4)
        black = black && frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 0 && frame[i + 3] == 255;
    CHECK(black, "a source of zero width gives black");
    std::vector<std::uint8_t> untouched(64, 0x5a);
    desktop.copy(kFirstMonitor, 0, 4, untouched.data());
    desktop.copy(kFirstMonitor, 4, -4, untouched.data());
    desktop.copy(kFirstMonitor, 4, 4, nullptr);
    CHECK(untouched == std::vector<std::uint8_t>(64, 0x5a), "no output size: nothing written");
}

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return DefWindowProcW(window, message, w, l);
}

std::string moduleDevicePathTail()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    const std::wstring name = p.substr(p.find_last_of(L"\\/") + 1);
    return "\\" + std::string(name.begin(), name.end());
}

void windowInFront(Win32Desktop& desktop)
{
    HWND editor = makeWindow(L"PhotoshopTestFrame", L"Untitled-1 @ 66.7% (RGB/8) - Adobe Photoshop", plainProc,
        Rect { 50, 50, 250, 200 }, 0);
    SetForegroundWindow(editor);
    const bool inFront = waitFor([&] { return GetForegroundWindow() == editor; });
    CHECK(inFront, "the editor window came to the front");
    const platform::WindowHandle handle = desktop.foreground();
    CHECK(handle != 0 && toHwnd(handle) == editor, "foreground() is the editor window");

    const platform::WindowTexts texts = desktop.texts(handle);
    CHECK(texts.windowClass == "PhotoshopTestFrame", "class " + texts.windowClass);
    CHECK(texts.title == "Untitled-1 @ 66.7% (RGB/8) - Adobe Photoshop", "title " + texts.title);

    // The device path of this process: "\Device\HarddiskVolume...\...\test_win32_desktop.exe".
    const std::string path = desktop.executable(handle);
    const std::string tail = moduleDevicePathTail();
    CHECK(path.rfind("\\Device\\", 0) == 0 && path.size() > tail.size()
            && path.compare(path.size() - tail.size(), tail.size(), tail) == 0,
        "executable " + path + " (wanted a device path ending in " + tail + ")");

    // A window of another process: Wine's desktop belongs to explorer.exe.
    const std::string other = desktop.executable(toWindowHandle(GetDesktopWindow()));
    CHECK(other.size() > 13 && other.compare(other.size() - 13, 13, "\\explorer.exe") == 0,
        "the desktop window's executable " + other);

    // Titles in the process's code page come back as UTF-8, and the narrow
    // buffer keeps at most 1023 bytes of a long title.
    SetWindowTextW(editor, L"Caf\u00e9 - Adobe Photoshop");
    const std::string accented = desktop.texts(handle).title;
    CHECK(accented == "Caf\xc3\xa9 - Adobe Photoshop", "accented title " + accented);
    SetWindowTextW(editor, std::wstring(3000, L'x').c_str());
    CHECK(desktop.texts(handle).title == std::string(1023, 'x'), "a title of 3000 characters keeps 1023 bytes");

    // Gone between two calls: empty texts and path, never the previous ones.
    DestroyWindow(editor);
    pumpMessages();
    const platform::WindowTexts after = desktop.texts(handle);
    CHECK(after.windowClass.empty() && after.title.empty(),
        "texts of a destroyed window: " + after.windowClass + "|" + after.title);
    CHECK(desktop.executable(handle).empty(), "executable of a destroyed window");
    const platform::WindowHandle never = 0x7ffe1234;
    CHECK(desktop.texts(never).title.empty() && desktop.executable(never).empty(), "a handle that was never a window");
    CHECK(desktop.texts(0).windowClass.empty() && desktop.executable(0).empty(), "handle 0");
}

void pointerPosition(Win32Desktop& desktop)
{
    SetCursorPos(123, 45);
    const bool moved = waitFor([&] {
        const platform::Point p = desktop.pointer();
        return p.x == 123 && p.y == 45;
    });
    const platform::Point p = desktop.pointer();
    CHECK(moved, "pointer at (" + std::to_string(p.x) + ", " + std::to_string(p.y) + "), wanted (123, 45)");
}

} // namespace

// Where the program's own window lies: its rectangle while it is shown,
// nothing once hidden or gone.
void ownWindowFrame(Win32Desktop& desktop)
{
    HWND own = makeWindow(L"HuelensTestOwn", L"own", DefWindowProcW, Rect { 100, 60, 300, 210 }, WS_EX_TOPMOST);
    pumpMessages();
    Rect frame;
    const platform::WindowHandle handle = toWindowHandle(own);
    CHECK(desktop.windowFrame(handle, frame) && frame == (Rect { 100, 60, 300, 210 }), "own window at " + str(frame));
    ShowWindow(own, SW_HIDE);
    pumpMessages();
    CHECK(!desktop.windowFrame(handle, frame), "a hidden window lies nowhere");
    DestroyWindow(own);
    CHECK(!desktop.windowFrame(handle, frame), "a destroyed window lies nowhere");
}

int main()
{
    SetProcessDPIAware();
    Win32Desktop& desktop = static_cast<Win32Desktop&>(platform::desktop());

    monitorTable(desktop);
    sourcePixelRule();

    const Rect everything { 0, 0, kPatternWidth, kPatternHeight };
    HWND pattern = makeWindow(L"HuelensTestPattern", L"pattern", patternProc, everything, WS_EX_TOPMOST);
    std::string firstWrong;
    const bool shown = waitFor(
        [&] { return frameMatches(capture(desktop, kFirstMonitor, 640, 480), kFirstMonitor, 640, 480, firstWrong); });
    if (CHECK(shown, "the pattern appears on the screen: " + firstWrong))
        screenCopies(desktop);
    DestroyWindow(pattern);

    windowInFront(desktop);
    pointerPosition(desktop);
    ownWindowFrame(desktop);

    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
