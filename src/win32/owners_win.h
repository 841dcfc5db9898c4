#pragma once

// The owners of Win32 objects, for the program and the companion programs
// alike: each holds one object and gives it back to the system in its
// destructor. Copies are deleted; a move hands the object over and leaves
// the source empty. One owner type per kind of object:
//
//   UniqueHandle        kernel objects closed with CloseHandle: events,
//                       threads, processes, pipes, mutexes, files, devices
//   UniqueFindHandle    a directory search (FindFirstFile, FindClose)
//   UniqueGlobalMemory  memory to free with GlobalFree
//   UniqueLocalMemory   memory to free with LocalFree
//   UniqueGdiObject<T>  a pen, brush, bitmap, font or region (DeleteObject)
//   UniqueMemoryDc      a device context from CreateCompatibleDC (DeleteDC)
//   UniqueEnhMetaFile   an enhanced metafile (DeleteEnhMetaFile)
//   WindowDc            a window's device context (GetDC or GetDCEx, ReleaseDC)
//   SelectedObject      an object selected into a device context; the one
//                       it replaced is put back
//   CriticalSection     a lock the holding thread may take again, held for
//                       a scope by ScopedLock
//
// Kinds that only one program uses and whose header the rest should not see
// (WinHTTP's handles) are declared where they are used, as a UniqueResource
// with traits of their own.

#include <windows.h>

#include <utility>

namespace kantiq {

// Owns one handle. Traits name the empty value every empty owner holds, the
// values a failing call returns (made empty on the way in) and the call that
// releases the handle, returning whether the system reported success:
//
//   struct Traits {
//     using Handle = ...;
//     static Handle empty();
//     static bool isEmpty(Handle h);
//     static bool release(Handle h);
//   };
template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle h) : h_(normalised(h)) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : h_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return h_; }
  bool valid() const { return h_ != Traits::empty(); }
  explicit operator bool() const { return valid(); }

  // Releases what is held, then holds h (nothing by default).
  void reset(Handle h = Traits::empty()) {
    const Handle old = std::exchange(h_, normalised(h));
    if (old != Traits::empty()) Traits::release(old);
  }
  // Hands the handle to the caller, who releases it from now on.
  [[nodiscard]] Handle release() { return std::exchange(h_, Traits::empty()); }
  // Releases now; false when the system reported a failure (for a file: its
  // last writes may be lost). An empty owner closes successfully.
  bool close() {
    const Handle old = release();
    return old == Traits::empty() || Traits::release(old);
  }

 private:
  static Handle normalised(Handle h) { return Traits::isEmpty(h) ? Traits::empty() : h; }

  Handle h_ = Traits::empty();
};

// Kernel calls report failure with null or with INVALID_HANDLE_VALUE,
// depending on the call; either makes an empty owner, whose get() is null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static bool release(Handle h) { return ::CloseHandle(h) != FALSE; }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static bool release(Handle h) { return ::FindClose(h) != FALSE; }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

// GlobalFree and LocalFree return null when they succeed.
struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::GlobalFree(h) == nullptr; }
};
using UniqueGlobalMemory = UniqueResource<GlobalMemoryTraits>;

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::LocalFree(h) == nullptr; }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

// A GDI object must not be deleted while it is selected into a device
// context: declare its SelectedObject after it, so that it is put back first.
template <typename Object>
struct GdiObjectTraits {
  using Handle = Object;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::DeleteObject(h) != FALSE; }
};
template <typename Object>
using UniqueGdiObject = UniqueResource<GdiObjectTraits<Object>>;

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::DeleteDC(h) != FALSE; }
};
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

struct EnhMetaFileTraits {
  using Handle = HENHMETAFILE;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::DeleteEnhMetaFile(h) != FALSE; }
};
using UniqueEnhMetaFile = UniqueResource<EnhMetaFileTraits>;

// A view of a file mapping (shared memory) from MapViewOfFile.
struct MappedViewTraits {
  using Handle = void*;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::UnmapViewOfFile(h) != FALSE; }
};
using UniqueMappedView = UniqueResource<MappedViewTraits>;

// A window this program made and destroys, on the thread that made it.
struct WindowTraits {
  using Handle = HWND;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::DestroyWindow(h) != FALSE; }
};
using UniqueWindow = UniqueResource<WindowTraits>;

// A window's device context from GetDC. ReleaseDC needs the window the
// context came from, so the owner keeps both. The context is null when the
// system refused one; nothing is released then.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  // Takes over a context the caller got for this window (from GetDCEx).
  WindowDc(HWND window, HDC dc) : window_(window), dc_(dc) {}
  ~WindowDc() { reset(); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  WindowDc(WindowDc&& other) noexcept
      : window_(std::exchange(other.window_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDc& operator=(WindowDc&& other) noexcept {
    if (this != &other) {
      reset();
      window_ = std::exchange(other.window_, nullptr);
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }

  HDC get() const { return dc_; }
  HWND window() const { return window_; }

 private:
  void reset() {
    if (dc_ != nullptr) ::ReleaseDC(window_, std::exchange(dc_, nullptr));
  }

  HWND window_;
  HDC dc_;
};

// Selects an object into a device context for one scope and puts back the
// object it replaced. A failed selection puts nothing back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {
    if (previous_ == HGDI_ERROR) previous_ = nullptr;
  }
  ~SelectedObject() { reset(); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  SelectedObject(SelectedObject&& other) noexcept
      : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
  SelectedObject& operator=(SelectedObject&& other) noexcept {
    if (this != &other) {
      reset();
      dc_ = std::exchange(other.dc_, nullptr);
      previous_ = std::exchange(other.previous_, nullptr);
    }
    return *this;
  }

 private:
  void reset() {
    if (previous_ != nullptr) ::SelectObject(dc_, std::exchange(previous_, nullptr));
  }

  HDC dc_;
  HGDIOBJ previous_;
};

// A critical section. Neither copied nor moved: the system keeps its
// address while it exists.
class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock() { ::EnterCriticalSection(&cs_); }
  void unlock() { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for one scope.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.lock(); }
  ~ScopedLock() { cs_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace kantiq
