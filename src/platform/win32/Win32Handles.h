#pragma once

// Owners for the Win32 resources of the Windows back-end, and the mapping
// between window handles and the program's WindowHandle.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/Desktop.h"

#include <cstdint>
#include <utility>

namespace platform::win32 {

// WindowHandle is 32 bits wide on 64-bit Windows (unsigned long), a window
// handle 64. Windows keeps window handles 32 bits wide so that 32- and 64-bit
// programs can share them: truncating is safe, and widening back must extend
// the sign.
inline WindowHandle toWindowHandle(HWND window)
{
    return static_cast<WindowHandle>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)));
}

inline HWND toHwnd(WindowHandle window)
{
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
}

// The header of a 32-bit BGRX bitmap whose rows run top-down, as the frames
// of the program are laid out.
inline BITMAPINFO topDownBitmapInfo(int width, int height)
{
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A device context made by CreateDCW or CreateCompatibleDC, deleted with DeleteDC.
class DeviceContext {
public:
    explicit DeviceContext(HDC dc)
        : dc_(dc)
    {
    }
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    ~DeviceContext()
    {
        if (dc_)
            DeleteDC(dc_);
    }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// A GDI object (here a bitmap), deleted with DeleteObject. It must no longer
// be selected into a context by then; see Selection.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object)
        : object_(object)
    {
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject()
    {
        if (object_)
            DeleteObject(object_);
    }
    HGDIOBJ get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    HGDIOBJ object_;
};

// An object selected into a context; puts the context's previous object back,
// so the object can be deleted after it. Declare it after the object and the
// context, so it ends first.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object)
        : dc_(dc)
        , previous_(SelectObject(dc, object))
    {
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection()
    {
        if (previous_ && previous_ != HGDI_ERROR)
            SelectObject(dc_, previous_);
    }
    bool selected() const { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A kernel handle (here a process), closed with CloseHandle.
class KernelHandle {
public:
    explicit KernelHandle(HANDLE handle)
        : handle_(handle)
    {
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    ~KernelHandle()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_;
};

} // namespace platform::win32
