#pragma once

#include "platform/Desktop.h"

namespace platform {

// The desktop of Windows, through GDI and the window manager's calls. Holds
// nothing between calls: every device context, bitmap and process handle is
// made and released within the call that needs it. GUI thread only. Never
// ends the program: a failed call gives black pixels, empty texts or an
// empty path.
class Win32Desktop final : public Desktop {
public:
    std::vector<Rect> monitors() override;
    // StretchBlt from the screen with COLORONCOLOR, which drops pixels and
    // does not blend: output pixel (x, y) shows source pixel
    // (gdiSourceColumn(x), gdiSourceRow(y)), or black where that pixel lies
    // on no monitor.
    void copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination) override;
    Point pointer() override;
    WindowHandle foreground() override;
    // Class and title as GetClassNameA and GetWindowTextA give them (at most
    // 1023 bytes each), turned into UTF-8 from the process's code page.
    WindowTexts texts(WindowHandle window) override;
    // The image path in the device form K32GetProcessImageFileNameA gives,
    // "\Device\HarddiskVolume3\Program Files\...\app.exe", in UTF-8.
    std::string executable(WindowHandle window) override;
    // GetWindowRect: the frame with the invisible resizing border, in the
    // screen pixels of the copy; false while the window is hidden or minimised.
    bool windowFrame(WindowHandle window, Rect& frame) override;
};

// Which source column, and which source row, GDI's COLORONCOLOR stretch
// takes for output pixel `i` when `sourceLength` pixels become `outLength`.
int gdiSourceColumn(int i, int sourceLength, int outLength);
int gdiSourceRow(int i, int sourceLength, int outLength);

} // namespace platform
