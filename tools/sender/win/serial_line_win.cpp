#include "sender/win/serial_line_win.h"

namespace kantiq::sender {
namespace {

constexpr DWORD kWriteTimeoutMs = 5000;
constexpr DWORD kByteGapMs = 30;

}  // namespace

bool SerialLine::setReadTimeout(int32_t timeoutMs) {
  if (timeoutMs == readTimeoutMs_) return true;
  // A read returns once the bytes stop coming for a moment, or after
  // timeoutMs without any. (The "return at the first byte" setting,
  // MAXDWORD/MAXDWORD, waits the whole time under Wine.)
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = kByteGapMs;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
  t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  if (!::SetCommTimeouts(handle_.get(), &t)) return false;
  readTimeoutMs_ = timeoutMs;
  return true;
}

bool SerialLine::open(std::string& reason) {
  if (handle_.valid()) return true;
  const std::string device = "\\\\.\\" + port_;
  UniqueHandle h(::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h.valid()) {
    const DWORD error = ::GetLastError();
    reason = "Der Anschluss " + port_ + " lässt sich nicht öffnen (Fehler " + std::to_string(error) +
             (error == ERROR_ACCESS_DENIED ? ", er wird von einem anderen Programm benutzt)."
              : error == ERROR_FILE_NOT_FOUND ? ", es gibt ihn nicht)."
                                              : ").");
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h.get(), &dcb)) {
    reason = "Der Anschluss " + port_ + " ist keine serielle Schnittstelle (Fehler " +
             std::to_string(::GetLastError()) + ").";
    return false;
  }
  dcb.BaudRate = baudRate_;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  // Many modems ignore commands while DTR is low.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!::SetCommState(h.get(), &dcb)) {
    reason = "Der Anschluss " + port_ + " lässt sich nicht auf " + std::to_string(baudRate_) +
             " Baud einstellen (Fehler " + std::to_string(::GetLastError()) + ").";
    return false;
  }
  ::PurgeComm(h.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  handle_ = std::move(h);
  readTimeoutMs_ = -1;
  if (!setReadTimeout(1000)) {
    handle_.reset();
    reason = "Der Anschluss " + port_ + " nimmt keine Zeitgrenzen an (Fehler " + std::to_string(::GetLastError()) + ").";
    return false;
  }
  return true;
}

bool SerialLine::write(std::string_view bytes) {
  if (!handle_.valid()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(handle_.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return false;
    done += written;
  }
  return true;
}

int32_t SerialLine::read(char* buffer, int32_t capacity, int32_t timeoutMs) {
  if (!handle_.valid()) return -1;
  if (timeoutMs < 1) timeoutMs = 1;
  if (!setReadTimeout(timeoutMs)) return -1;
  DWORD got = 0;
  if (!::ReadFile(handle_.get(), buffer, static_cast<DWORD>(capacity), &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

}  // namespace kantiq::sender
