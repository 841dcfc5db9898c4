#pragma once

// Small owners of the Win32 objects the window code holds: each releases its
// object in its destructor; copies are deleted, moves allowed.

#include <windows.h>

#include <utility>

// In a namespace of their own: other parts of the program have owners of
// the same names.
namespace kantiq::win {

template <typename Handle, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
    return *this;
  }
  void reset(Handle h = Traits::invalid()) {
    if (h_ != Traits::invalid()) Traits::close(h_);
    h_ = h;
  }
  Handle get() const { return h_; }
  Handle release() { return std::exchange(h_, Traits::invalid()); }
  explicit operator bool() const { return h_ != Traits::invalid(); }

 private:
  Handle h_ = Traits::invalid();
};

struct KernelHandleTraits {
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;

struct EnhMetaFileTraits {
  static HENHMETAFILE invalid() { return nullptr; }
  static void close(HENHMETAFILE h) { ::DeleteEnhMetaFile(h); }
};
using UniqueEnhMetaFile = UniqueHandle<HENHMETAFILE, EnhMetaFileTraits>;

}  // namespace kantiq::win
