#include "platform/win32/Win32Desktop.h"

#include "platform/win32/Win32Handles.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

using namespace win32;

namespace {

// The sizes of the narrow buffers the texts are read into, terminator included.
constexpr int kTextBufferBytes = 1024;
constexpr DWORD kPathBufferBytes = 2048;

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    auto* table = reinterpret_cast<std::vector<Rect>*>(data);
    MONITORINFOEXW info {};
    info.cbSize = sizeof(info);
    // A failed query ends the enumeration; the monitors before it stay.
    if (!GetMonitorInfoW(monitor, &info))
        return FALSE;
    const RECT& r = info.rcMonitor;
    table->push_back(Rect { r.left, r.top, r.right, r.bottom });
    return TRUE;
}

Rect virtualScreen()
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return Rect { left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN) };
}

void fillBlack(std::uint8_t* destination, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i, destination += 4) {
        destination[0] = destination[1] = destination[2] = 0;
        destination[3] = 255;
    }
}

// Narrow text in the process's code page to UTF-8. Where the code page is
// UTF-8 already (a program that declares it in its manifest) the bytes stay.
std::string toUtf8(const char* text, int length)
{
    if (length <= 0)
        return {};
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8)
        return std::string(text, length);
    const int wideLength = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::vector<wchar_t> wide(wideLength);
    MultiByteToWideChar(codePage, 0, text, length, wide.data(), wideLength);
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0)
        return {};
    std::string result(utf8Length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, result.data(), utf8Length, nullptr, nullptr);
    return result;
}

// Reads with a 1024-byte buffer; a failed call (the window is gone) leaves
// the text empty, never a previous window's bytes.
template <typename Read> std::string readText(HWND window, Read read)
{
    char buffer[kTextBufferBytes] = {};
    const int length = read(window, buffer, kTextBufferBytes);
    return toUtf8(buffer, length > 0 && length < kTextBufferBytes ? length : 0);
}

bool contains(const Rect& outer, const Rect& inner)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top
        && inner.bottom <= outer.bottom;
}

bool onMonitor(const std::vector<Rect>& monitors, int x, int y)
{
    for (const Rect& m : monitors) {
        if (x >= m.left && x < m.right && y >= m.top && y < m.bottom)
            return true;
    }
    return false;
}

// Blackens the output pixels whose source pixel lies on no monitor: in a gap
// between monitors of different sizes, where what GDI reads is not defined.
void blackenOffMonitors(
    const Rect& source, int outWidth, int outHeight, const std::vector<Rect>& monitors, std::uint8_t* destination)
{
    for (const Rect& m : monitors) {
        if (contains(m, source))
            return; // all on one monitor: the usual case costs nothing
    }
    std::vector<int> columns(outWidth);
    for (int x = 0; x < outWidth; ++x)
        columns[x] = source.left + gdiSourceColumn(x, source.width(), outWidth);
    for (int y = 0; y < outHeight; ++y) {
        const int sy = source.top + gdiSourceRow(y, source.height(), outHeight);
        std::uint8_t* pixel = destination + std::size_t(y) * std::size_t(outWidth) * 4;
        for (int x = 0; x < outWidth; ++x, pixel += 4) {
            if (!onMonitor(monitors, columns[x], sy))
                pixel[0] = pixel[1] = pixel[2] = 0;
        }
    }
}

// The whole copy; false when any step failed. Every context and the bitmap
// are released on every path, the bitmap deselected before it is deleted.
bool stretchCopy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    DeviceContext screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!screen)
        return false;
    DeviceContext memory(CreateCompatibleDC(screen.get()));
    if (!memory)
        return false;
    GdiObject bitmap(CreateCompatibleBitmap(screen.get(), outWidth, outHeight));
    if (!bitmap)
        return false;
    {
        Selection selection(memory.get(), bitmap.get());
        if (!selection.selected())
            return false;
        SetStretchBltMode(memory.get(), COLORONCOLOR);
        // Where GDI has nothing to read it leaves the bitmap as it was: black.
        PatBlt(memory.get(), 0, 0, outWidth, outHeight, BLACKNESS);
        if (!StretchBlt(memory.get(), 0, 0, outWidth, outHeight, screen.get(), source.left, source.top, source.width(),
                source.height(), SRCCOPY))
            return false;
    } // GetDIBits wants the bitmap selected into no context

    BITMAPINFO info = topDownBitmapInfo(outWidth, outHeight);
    return GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(outHeight), destination,
               &info, DIB_RGB_COLORS)
        == outHeight;
}

// A source that reaches past the virtual screen: GDI's stretch gives up on
// it (Wine copies nothing at all), so the part on the screen is read at its
// own size and the output pixels are picked here, by GDI's rule, with black
// for every pixel whose source lies on no monitor.
bool sampledCopy(const Rect& source, const Rect& screen, const std::vector<Rect>& monitors, int outWidth, int outHeight,
    std::uint8_t* destination)
{
    const Rect visible { std::max(source.left, screen.left), std::max(source.top, screen.top),
        std::min(source.right, screen.right), std::min(source.bottom, screen.bottom) };
    std::vector<std::uint8_t> read;
    if (visible.width() > 0 && visible.height() > 0) {
        read.resize(std::size_t(visible.width()) * std::size_t(visible.height()) * 4);
        if (!stretchCopy(visible, visible.width(), visible.height(), read.data()))
            return false;
    }
    std::vector<int> columns(outWidth);
    for (int x = 0; x < outWidth; ++x)
        columns[x] = source.left + gdiSourceColumn(x, source.width(), outWidth);
    for (int y = 0; y < outHeight; ++y) {
        const int sy = source.top + gdiSourceRow(y, source.height(), outHeight);
        std::uint8_t* pixel = destination + std::size_t(y) * std::size_t(outWidth) * 4;
        for (int x = 0; x < outWidth; ++x, pixel += 4) {
            const int sx = columns[x];
            if (onMonitor(monitors, sx, sy) && contains(visible, Rect { sx, sy, sx + 1, sy + 1 })) {
                const std::size_t at = (std::size_t(sy - visible.top) * visible.width() + (sx - visible.left)) * 4;
                std::memcpy(pixel, &read[at], 4);
            } else {
                pixel[0] = pixel[1] = pixel[2] = 0;
            }
        }
    }
    return true;
}

} // namespace

// As GDI picks them under Wine, read off pixel by pixel. Growing (or the
// same size) takes the pixel under the output pixel's centre, a centre on a
// boundary going to the lower one: ceil((i + 1/2) * s / n) - 1, in both
// directions. Shrinking rounds differently across and down:
// columns round((i + 1) * s / n - 1), rows round(i * s / n), halves up.
// Exact in integers.
namespace {

int clampIndex(long long index, long long length)
{
    return static_cast<int>(index < 0 ? 0 : index >= length ? length - 1 : index);
}

long long grownIndex(long long i, long long s, long long n)
{
    return ((2 * i + 1) * s + 2 * n - 1) / (2 * n) - 1;
}

} // namespace

int gdiSourceColumn(int i, int sourceLength, int outLength)
{
    if (outLength <= 0 || sourceLength <= 0)
        return 0;
    const long long s = sourceLength;
    const long long n = outLength;
    return clampIndex(s >= n ? (2 * (i + 1LL) * s - n) / (2 * n) : grownIndex(i, s, n), s);
}

int gdiSourceRow(int i, int sourceLength, int outLength)
{
    if (outLength <= 0 || sourceLength <= 0)
        return 0;
    const long long s = sourceLength;
    const long long n = outLength;
    return clampIndex(s >= n ? (2LL * i * s + n) / (2 * n) : grownIndex(i, s, n), s);
}

std::vector<Rect> Win32Desktop::monitors()
{
    std::vector<Rect> table;
    table.reserve(static_cast<std::size_t>(std::max(GetSystemMetrics(SM_CMONITORS), 0)));
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&table));
    if (table.empty()) {
        const Rect screen = virtualScreen();
        if (screen.width() > 0 && screen.height() > 0)
            table.push_back(screen);
    }
    return table;
}

void Win32Desktop::copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    if (destination == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    const std::size_t pixels = std::size_t(outWidth) * std::size_t(outHeight);
    const Rect screen = virtualScreen();
    const std::vector<Rect> monitors = this->monitors();
    bool copied = false;
    if (source.width() > 0 && source.height() > 0) {
        if (contains(screen, source)) {
            copied = stretchCopy(source, outWidth, outHeight, destination);
            if (copied)
                blackenOffMonitors(source, outWidth, outHeight, monitors, destination);
        } else {
            copied = sampledCopy(source, screen, monitors, outWidth, outHeight, destination);
        }
    }
    if (!copied) {
        fillBlack(destination, pixels);
        return;
    }
    // GDI leaves the fourth byte as it likes (Wine writes 0); the frame is opaque.
    for (std::size_t i = 0; i < pixels; ++i)
        destination[i * 4 + 3] = 255;
}

Point Win32Desktop::pointer()
{
    POINT p {};
    if (!GetCursorPos(&p))
        return {};
    return Point { p.x, p.y };
}

WindowHandle Win32Desktop::foreground()
{
    return toWindowHandle(GetForegroundWindow());
}

WindowTexts Win32Desktop::texts(WindowHandle window)
{
    const HWND hwnd = toHwnd(window);
    if (window == 0)
        return {};
    WindowTexts texts;
    texts.windowClass = readText(hwnd, GetClassNameA);
    texts.title = readText(hwnd, GetWindowTextA);
    return texts;
}

std::string Win32Desktop::executable(WindowHandle window)
{
    if (window == 0)
        return {};
    DWORD processId = 0;
    if (GetWindowThreadProcessId(toHwnd(window), &processId) == 0 || processId == 0)
        return {};
    // Limited information is all the image name needs, and it is granted for
    // processes of a higher integrity level too (an editor run as
    // administrator), where reading their memory is not.
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return {};
    char path[kPathBufferBytes] = {};
    const DWORD length = K32GetProcessImageFileNameA(process.get(), path, kPathBufferBytes);
    return toUtf8(path, length > 0 && length < kPathBufferBytes ? static_cast<int>(length) : 0);
}

bool Win32Desktop::windowFrame(WindowHandle window, Rect& frame)
{
    const HWND hwnd = toHwnd(window);
    RECT r {};
    if (window == 0 || !IsWindowVisible(hwnd) || IsIconic(hwnd) || !GetWindowRect(hwnd, &r))
        return false;
    frame = Rect { r.left, r.top, r.right, r.bottom };
    return true;
}

Desktop& desktop()
{
    static Win32Desktop instance;
    return instance;
}

} // namespace platform
