#pragma once

#include <windows.h>

#include <utility>

namespace velmoor {

// Owns one Win32 handle and releases it with the matching call, so every path out of a
// function gives back what it took.
template <typename Handle, auto Release, Handle Empty = Handle{}>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Empty)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, Empty));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Empty; }
    void reset(Handle handle = Empty) {
        if (handle_ != Empty) Release(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = Empty;
};

inline void closeKernelHandle(HANDLE handle) {
    ::CloseHandle(handle);
}
inline void closeFind(HANDLE handle) {
    ::FindClose(handle);
}
inline void deleteGdiObject(HGDIOBJ object) {
    ::DeleteObject(object);
}
inline void deleteMemoryDc(HDC dc) {
    ::DeleteDC(dc);
}
inline void freeLibrary(HMODULE module) {
    ::FreeLibrary(module);
}
inline void freeLocal(HLOCAL memory) {
    ::LocalFree(memory);
}

using KernelHandle = UniqueHandle<HANDLE, closeKernelHandle>;
using FindHandle = UniqueHandle<HANDLE, closeFind>;
using FontHandle = UniqueHandle<HFONT, deleteGdiObject>;
using BrushHandle = UniqueHandle<HBRUSH, deleteGdiObject>;
using BitmapHandle = UniqueHandle<HBITMAP, deleteGdiObject>;
using MemoryDc = UniqueHandle<HDC, deleteMemoryDc>;
using LibraryHandle = UniqueHandle<HMODULE, freeLibrary>;
using LocalMemory = UniqueHandle<HLOCAL, freeLocal>;

// Selects a GDI object into a device context for one scope and puts the previous one back.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() { ::SelectObject(dc_, previous_); }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A window's device context for one scope.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { ::ReleaseDC(window_, dc_); }
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

}  // namespace velmoor
