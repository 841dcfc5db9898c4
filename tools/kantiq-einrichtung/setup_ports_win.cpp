// The serial ports and recording inputs of this PC.

#include "setup_ports_win.h"

#include <windows.h>
// needs the types of windows.h, included first
#include <mmsystem.h>

#include <algorithm>

#include "win32/owners_win.h"

namespace kantiq::setup {
namespace {

// A registry key; only this program reads the registry.
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

// "COM10" after "COM9".
bool portBefore(const std::wstring& a, const std::wstring& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

std::vector<std::wstring> serialPorts() {
  std::vector<std::wstring> ports;
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return ports;
  const UniqueRegistryKey key(opened);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    wchar_t data[64];
    DWORD nameLength = 256;
    DWORD dataBytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r =
        ::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataBytes / sizeof(wchar_t)] = L'\0';
    const std::wstring port(data);
    if (!port.empty() && std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
  }
  std::sort(ports.begin(), ports.end(), portBefore);
  return ports;
}

std::vector<std::wstring> recordingInputs() {
  std::vector<std::wstring> inputs;
  const UINT count = ::waveInGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEINCAPSW caps{};
    if (::waveInGetDevCapsW(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
    const std::wstring name(caps.szPname);
    if (!name.empty() && std::find(inputs.begin(), inputs.end(), name) == inputs.end()) inputs.push_back(name);
  }
  return inputs;
}

}  // namespace kantiq::setup
