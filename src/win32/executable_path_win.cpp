#include "win32/executable_path_win.h"

#include <windows.h>

#include <vector>

namespace kantiq {
namespace {

// The longest path the system has, terminator included.
constexpr DWORD kMaxModulePathChars = 32768;

}  // namespace

std::string folderOf(std::string_view path) {
  const size_t slash = path.find_last_of('\\');
  return std::string(slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash));
}

std::string executablePath() {
  // GetModuleFileNameA cuts a path that does not fit: grow until it does.
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::string(path.data(), n);
    if (path.size() >= kMaxModulePathChars) return {};
    path.resize(path.size() * 2);
  }
}

std::string executableFolder() { return folderOf(executablePath()); }

std::filesystem::path executableFolderPath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::filesystem::path(std::wstring(path.data(), n)).parent_path();
    if (path.size() >= kMaxModulePathChars) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace kantiq
