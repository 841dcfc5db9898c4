// UTF-8 texts in Unicode controls and boxes.

#include <windows.h>

#include <algorithm>
#include <vector>

#include "setup_window_parts_win.h"

namespace kantiq::setup {
namespace {

std::wstring decoded(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

}  // namespace

std::wstring wide(std::string_view text) {
  std::wstring out = decoded(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  return out.empty() && !text.empty() ? wideFrom1252(text) : out;
}

std::wstring wideFrom1252(std::string_view text) { return decoded(1252, 0, text); }

std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string controlText(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, buffer.data(), length + 1);
  return utf8(std::wstring_view(buffer.data(), static_cast<size_t>(std::max(copied, 0))));
}

void setControlText(HWND control, std::string_view text) { ::SetWindowTextW(control, wide(text).c_str()); }

int messageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  return ::MessageBoxW(owner, wide(text).c_str(), wide(caption).c_str(), type);
}

}  // namespace kantiq::setup
