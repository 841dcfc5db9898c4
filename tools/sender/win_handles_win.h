#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>

namespace kantiq::sender {

// Owns one handle; the traits name its empty value and its release call.
// Copy deleted, move allowed.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, Traits::invalid());
    }
    return *this;
  }
  void reset(Handle h = Traits::invalid()) {
    if (valid()) Traits::release(h_);
    h_ = h;
  }
  Handle get() const { return h_; }
  bool valid() const { return h_ != Traits::invalid() && h_ != nullptr; }

 private:
  Handle h_ = Traits::invalid();
};

// Files and devices: INVALID_HANDLE_VALUE when empty.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void release(Handle h) { ::CloseHandle(h); }
};
// Events, mutexes, threads: null when empty.
struct KernelObjectTraits {
  using Handle = HANDLE;
  static Handle invalid() { return nullptr; }
  static void release(Handle h) { ::CloseHandle(h); }
};
struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle invalid() { return nullptr; }
  static void release(Handle h) { ::WinHttpCloseHandle(h); }
};

// A directory search.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void release(Handle h) { ::FindClose(h); }
};
// Memory WinHTTP hands out for the caller to free (proxy strings).
struct GlobalMemoryTraits {
  using Handle = void*;
  static Handle invalid() { return nullptr; }
  static void release(Handle h) { ::GlobalFree(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueGlobal = UniqueHandle<GlobalMemoryTraits>;
using UniqueKernelObject = UniqueHandle<KernelObjectTraits>;
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

}  // namespace kantiq::sender
