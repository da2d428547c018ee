// The installed Huelens driven as a user drives it, on Wine's own desktop
// (tests/windows/test-installed.sh installs it, writes its config.ini and
// the expected pictures, runs this, then checks the files and uninstalls):
//
//   test_installed_program.exe HUELENS.EXE WORK_FOLDER EXPECTED_A.png EXPECTED_B.png
//
// Two windows of known colours stand in for editors: one of class
// "Photoshop" titled as Photoshop titles its windows (a built-in
// application), one of class "HuelensTestEditor" that a user rule names
// "TestEditor". config.ini stores a 320 x 200 region inside each: at
// (60, 300) in the first, at (860, 300) in the second, on a 1280 x 800
// desktop whose middle the program's window takes.
//
// Checked: the program carries its icon and version; the window opens,
// titled, at the stored size, with its toolbar
// images; Space starts the capture; with each test window in front the
// title names its application, the preview shows exactly its colour and the
// scope is the renderer's picture of that frame (EXPECTED_*.png) wherever no
// overlay text lies on it; R opens the region window, a drag on it stores a
// region of the size dragged; Ctrl+Q ends the program with status 0; a
// second start opens at the same size. Every wait has a time limit and says
// what it waited for. Prints one line per check and the tally.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include "platform/win32/Win32Handles.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

bool check(bool ok, const std::string& what)
{
    ok ? ++passed : ++failed;
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    return ok;
}

void say(const std::string& what)
{
    std::printf("   %s\n", what.c_str());
    std::fflush(stdout);
}

std::string utf8(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length - 1 : 0, '\0');
    if (length > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), length, nullptr, nullptr);
    return out;
}

void pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Keeps this program's own windows answering while it waits.
void pause(int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        pumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool waitFor(int seconds, const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        pause(100);
    }
    return done();
}

std::string titleOf(HWND window)
{
    wchar_t title[1024] = {};
    GetWindowTextW(window, title, 1024);
    return utf8(title);
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

struct Found {
    DWORD process;
    std::string prefix;
    HWND window;
};

// A visible top-level window of `process` whose title begins with `prefix`.
HWND windowOf(DWORD process, const std::string& prefix)
{
    Found found { process, prefix, nullptr };
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            Found& f = *reinterpret_cast<Found*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == f.process && IsWindowVisible(window) && startsWith(titleOf(window), f.prefix)) {
                f.window = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

RECT rectOf(HWND window)
{
    RECT r {};
    GetWindowRect(window, &r);
    return r;
}

std::string str(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x"
        + std::to_string(r.bottom - r.top);
}

// What the screen shows in `r`, as B, G, R, A rows.
cv::Mat grab(const RECT& r)
{
    const int width = r.right - r.left, height = r.bottom - r.top;
    cv::Mat out(height, width, CV_8UC4, cv::Scalar::all(0));
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = platform::win32::topDownBitmapInfo(width, height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        std::memcpy(out.data, bits, out.total() * 4);
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

// --- Input ---------------------------------------------------------------

void sendKey(WORD key, bool up)
{
    INPUT input {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void press(WORD key, WORD modifier = 0)
{
    if (modifier)
        sendKey(modifier, false);
    sendKey(key, false);
    pause(30);
    sendKey(key, true);
    if (modifier)
        sendKey(modifier, true);
    pause(100);
}

void mouse(DWORD flags, int x, int y)
{
    // Absolute coordinates run from 0 to 65535 across the primary monitor.
    INPUT input {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
    pause(50);
}

void drag(POINT from, POINT to)
{
    mouse(0, from.x, from.y);
    mouse(MOUSEEVENTF_LEFTDOWN, from.x, from.y);
    for (int step = 1; step <= 8; ++step)
        mouse(0, from.x + (to.x - from.x) * step / 8, from.y + (to.y - from.y) * step / 8);
    mouse(MOUSEEVENTF_LEFTUP, to.x, to.y);
}

bool bringToFront(HWND window)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        SetForegroundWindow(window);
        pause(50);
        if (GetForegroundWindow() == window)
            return true;
        pause(100);
    }
    return false;
}

// --- The stand-in editors ------------------------------------------------

struct Editor {
    const wchar_t* className;
    const wchar_t* title;
    COLORREF colour;
    RECT place;
    HWND window = nullptr;
};

LRESULT CALLBACK editorProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(window, GWLP_USERDATA)));
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

void open(Editor& editor)
{
    WNDCLASSW wc {};
    wc.lpfnWndProc = editorProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = editor.className;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    const RECT& p = editor.place;
    editor.window = CreateWindowExW(0, editor.className, editor.title, WS_POPUP, p.left, p.top, p.right - p.left,
        p.bottom - p.top, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(editor.window, GWLP_USERDATA, static_cast<LONG_PTR>(editor.colour));
    ShowWindow(editor.window, SW_SHOW);
    UpdateWindow(editor.window);
}

// --- The program ---------------------------------------------------------

struct Program {
    PROCESS_INFORMATION process {};
    HWND window = nullptr;

    bool start(const std::wstring& exe, const std::wstring& folder)
    {
        std::wstring commandLine = L"\"" + exe + L"\" -debug";
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
            &startup, &process);
    }

    bool running() const { return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }

    // The exit status, or -1 when it has not ended within the time.
    long long endedWith(int seconds)
    {
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0)
            return -1;
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        return status;
    }

    void kill()
    {
        if (running())
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
};

const std::string kTitlePrefix = "Korvant Huelens 1.0: ";

int colourful(const cv::Mat& picture)
{
    int count = 0;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec4b p = picture.at<cv::Vec4b>(y, x);
            const int high = std::max({ p[0], p[1], p[2] }), low = std::min({ p[0], p[1], p[2] });
            count += high - low >= 60;
        }
    return count;
}

int pixelsOf(const cv::Mat& picture, COLORREF colour)
{
    int count = 0;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec4b p = picture.at<cv::Vec4b>(y, x);
            count += p[2] == GetRValue(colour) && p[1] == GetGValue(colour) && p[0] == GetBValue(colour);
        }
    return count;
}

// Where the window shows `scope` (R, G, B from the renderer's PNG, read by
// OpenCV as B, G, R): the place with the most equal pixels, and how many
// differ there below its top `overlayRows` rows, where the info and
// application labels lie on the picture.
struct ScopePlace {
    int x = -1, y = -1;
    long long differing = -1;
};

// The window's one-pixel border may hide the picture's last column: only the
// columns the window shows are compared.
ScopePlace findScope(const cv::Mat& shot, const cv::Mat& scope, int overlayRows)
{
    ScopePlace best;
    for (int y = 0; y + scope.rows <= shot.rows; ++y)
        for (int x = -2; x + scope.cols <= shot.cols + 2; ++x) {
            long long differing = 0;
            const int first = std::max(0, -x), last = std::min(scope.cols, shot.cols - x);
            for (int r = overlayRows; r < scope.rows && (best.differing < 0 || differing < best.differing); ++r)
                for (int c = first; c < last; ++c) {
                    const cv::Vec4b s = shot.at<cv::Vec4b>(y + r, x + c);
                    const cv::Vec3b e = scope.at<cv::Vec3b>(r, c);
                    differing += s[0] != e[0] || s[1] != e[1] || s[2] != e[2];
                }
            if (best.differing < 0 || differing < best.differing)
                best = { x, y, differing };
        }
    return best;
}

// Waits until the program, with `editor` in front, names `name` and shows
// its colour and scope.
void followsEditor(Program& huelens, Editor& editor, const std::string& name, const cv::Mat& scope)
{
    check(bringToFront(editor.window), name + ": its window comes to the front");
    const bool named = waitFor(10, [&] { return titleOf(huelens.window) == kTitlePrefix + name; });
    check(named, name + ": the title names it (\"" + titleOf(huelens.window) + "\")");
    const int framePixels = 320 * 200;
    cv::Mat shot;
    ScopePlace place;
    int shown = 0;
    const bool showsIt = waitFor(10, [&] {
        shot = grab(rectOf(huelens.window));
        shown = pixelsOf(shot, editor.colour);
        if (shown < framePixels * 9 / 10)
            return false;
        place = findScope(shot, scope, 40);
        return place.differing == 0;
    });
    check(shown >= framePixels * 9 / 10,
        name + ": the preview shows its colour exactly (" + std::to_string(shown) + " pixels of it)");
    check(showsIt,
        name + ": the scope is the renderer's picture of that frame (" + std::to_string(place.differing)
            + " pixels differ at " + std::to_string(place.x) + "," + std::to_string(place.y) + ")");
    if (!showsIt)
        cv::imwrite("shot-" + name + ".png", shot);
}

// What Explorer shows of the program: its icon, and the version of its
// Properties.
void carriesIconAndVersion(const std::wstring& exe)
{
    const UINT icons = ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0);
    check(icons >= 1, "huelens.exe carries an icon (" + std::to_string(icons) + ")");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<char> info(size);
    wchar_t* product = nullptr;
    UINT length = 0;
    const bool read = size > 0 && GetFileVersionInfoW(exe.c_str(), 0, size, info.data())
        && VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
            reinterpret_cast<void**>(&product), &length)
        && product != nullptr;
    const std::string version = read ? utf8(std::wstring(product, length > 0 ? length - 1 : 0)) : std::string();
    check(version == "1.0", "huelens.exe says it is version 1.0 (\"" + version + "\")");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::printf("usage: test_installed_program HUELENS.EXE WORK_FOLDER EXPECTED_A.png EXPECTED_B.png\n");
        return 2;
    }
    const std::wstring exe = argv[1], folder = argv[2];
    const cv::Mat scopeA = cv::imread(utf8(argv[3]), cv::IMREAD_COLOR), scopeB = cv::imread(utf8(argv[4]), cv::IMREAD_COLOR);
    if (scopeA.empty() || scopeB.empty()) {
        std::printf("FAIL the expected pictures cannot be read\n");
        return 2;
    }
    SetCurrentDirectoryW(folder.c_str());
    carriesIconAndVersion(exe);

    // The stand-ins, where config.ini's regions lie: A (orange) and B (green).
    Editor photoshop { L"Photoshop", L"Untitled-1 @ 66.7% (RGB/8) - Adobe Photoshop", RGB(220, 140, 40),
        { 40, 280, 440, 540 } };
    Editor testEditor { L"HuelensTestEditor", L"A picture - Test editor", RGB(40, 170, 90), { 840, 280, 1240, 540 } };
    open(photoshop);
    open(testEditor);
    // The pointer away from the captures and the scope: nothing is hovered.
    SetCursorPos(1270, 790);
    pause(300);

    Program huelens;
    if (!check(huelens.start(exe, folder), "the installed program starts"))
        return 1;
    const bool opened = waitFor(60, [&] { return (huelens.window = windowOf(huelens.process.dwProcessId, kTitlePrefix)) != nullptr; });
    if (!check(opened, "its window opens, titled \"" + kTitlePrefix + "...\"")) {
        huelens.kill();
        return 1;
    }
    pause(1500);
    RECT place = rectOf(huelens.window);
    say("window at " + str(place) + ", titled \"" + titleOf(huelens.window) + "\"");
    check(place.right - place.left == 320, "it is as wide as the stored window size, 320 (" + str(place) + ")");
    const RECT toolbar { place.left, place.top, place.right, place.top + 26 };
    const int toolbarColours = colourful(grab(toolbar));
    check(toolbarColours >= 100, "its toolbar shows its images (" + std::to_string(toolbarColours) + " coloured pixels)");

    // Start, with the program in front, then each editor in front in turn.
    check(bringToFront(huelens.window), "the program comes to the front");
    press(VK_SPACE);
    followsEditor(huelens, photoshop, "Photoshop", scopeA);
    followsEditor(huelens, testEditor, "TestEditor", scopeB);

    // A region for TestEditor (the application last in front), dragged on
    // the region window's screenshot: stored as the drag's size in monitor
    // pixels (the screenshot shows the monitor at three quarters).
    check(bringToFront(huelens.window), "the program comes to the front again");
    press('R');
    HWND region = nullptr;
    const std::string regionTitle = "Select region to capture for application: TestEditor";
    const bool regionOpen = waitFor(10, [&] { return (region = windowOf(huelens.process.dwProcessId, regionTitle)) != nullptr; });
    if (check(regionOpen, "R opens \"" + regionTitle + "\"")) {
        pause(1000);
        const RECT r = rectOf(region);
        say("region window at " + str(r));
        drag({ r.left + 100, r.top + 150 }, { r.left + 300, r.top + 280 });
        const bool closed = waitFor(10, [&] { return !IsWindowVisible(region); });
        check(closed, "the region window closes after the drag");
    }
    SetCursorPos(1270, 790);
    pause(500);

    // Exit, then a second start at the same size.
    check(bringToFront(huelens.window), "the program comes to the front for Ctrl+Q");
    press('Q', VK_CONTROL);
    const long long status = huelens.endedWith(15);
    check(status == 0, "Ctrl+Q ends it with status 0 (" + std::to_string(status) + ")");
    huelens.kill();

    Program again;
    if (check(again.start(exe, folder), "it starts a second time")) {
        const bool reopened = waitFor(60, [&] { return (again.window = windowOf(again.process.dwProcessId, kTitlePrefix)) != nullptr; });
        if (check(reopened, "its window opens again")) {
            pause(1500);
            place = rectOf(again.window);
            check(place.right - place.left == 320, "again as wide as the stored size (" + str(place) + ")");
            bringToFront(again.window);
            press('Q', VK_CONTROL);
            const long long second = again.endedWith(15);
            check(second == 0, "and ends with status 0 (" + std::to_string(second) + ")");
        }
        again.kill();
    }

    DestroyWindow(photoshop.window);
    DestroyWindow(testEditor.window);
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
