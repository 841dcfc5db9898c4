// The test-message dialog: asks for a mobile number and runs the sender once
// with the test argument and that number. The sender runs on a worker thread
// so the window stays responsive and alarm raising is never held up; the
// dialog closes when the sender has ended.

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/sender_protocol.h"
#include "dispatch/dispatch_job_win.h"
#include "resources/resource_ids.h"
#include "ui/alarm_monitor_win.h"
#include "ui/win_owners.h"

namespace kantiq {
namespace {

constexpr UINT kMsgSenderEnded = WM_APP + 2;
// The same limit as an alarm's sender: one still running then is left alone.
constexpr uint32_t kSenderWaitLimitMs = 18'000'000;

struct TestSend {
  HWND dialog = nullptr;
  std::string senderPath;
  std::string commandLine;
  win::UniqueKernelHandle worker;
  bool started = false;  // whether the sender could be started at all
};

void sendTest(TestSend& send) {
  send.started = runSender(send.senderPath, send.commandLine, kSenderWaitLimitMs).started;
}

// A test that could not even start the sender must not look like one that
// went out.
void reportIfNotStarted(HWND dialog, const TestSend& send) {
  if (send.started) return;
  ::MessageBoxA(dialog,
                "Das Sendeprogramm S.exe konnte nicht gestartet werden.\n"
                "Die Test-SMS wurde nicht gesendet.",
                "Fehler", MB_ICONWARNING | MB_OK);
}

DWORD WINAPI testSendThread(void* parameter) {
  auto* send = static_cast<TestSend*>(parameter);
  sendTest(*send);
  ::PostMessageA(send->dialog, kMsgSenderEnded, 0, 0);
  return 0;
}

// The number field's whole text, exactly as typed.
std::string readNumber(HWND dialog) {
  HWND field = ::GetDlgItem(dialog, IDC_NUMBER);
  const int length = static_cast<int>(::SendMessageA(field, EM_LINELENGTH, 0, 0));
  // EM_GETLINE takes the buffer's size in its first word and needs room for
  // at least that word.
  std::vector<char> buffer(static_cast<size_t>(std::max(length, 1)) + 1, '\0');
  *reinterpret_cast<WORD*>(buffer.data()) = static_cast<WORD>(std::min(length, 0xFFFF));
  const int copied = static_cast<int>(
      ::SendMessageA(field, EM_GETLINE, 0, reinterpret_cast<LPARAM>(buffer.data())));
  return std::string(buffer.data(), static_cast<size_t>(std::clamp(copied, 0, length)));
}

void startTest(HWND dialog, TestSend& send) {
  send.dialog = dialog;
  const std::string folder = executableFolder();
  send.senderPath = senderPath(folder);
  send.commandLine = buildTestCommandLine(folder, readNumber(dialog));
  // Nothing more to type or press while the sender runs.
  for (int id : {IDC_NUMBER, IDOK, IDCANCEL}) ::EnableWindow(::GetDlgItem(dialog, id), FALSE);
  send.worker.reset(::CreateThread(nullptr, 0, testSendThread, &send, 0, nullptr));
  if (!send.worker) {
    // No thread: send here and close as after any test.
    sendTest(send);
    reportIfNotStarted(dialog, send);
    ::EndDialog(dialog, 0);
  }
}

INT_PTR CALLBACK testMessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  auto* send = reinterpret_cast<TestSend*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (send == nullptr) {
            send = new TestSend;
            ::SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(send));
            startTest(dialog, *send);
          }
          return TRUE;
        case IDCANCEL:
          // A send in progress cannot be cancelled.
          if (send == nullptr) ::EndDialog(dialog, 0);
          return TRUE;
        default:
          return FALSE;
      }
    case kMsgSenderEnded:
      if (send != nullptr && send->worker) {
        ::WaitForSingleObject(send->worker.get(), INFINITE);
        send->worker.reset();
      }
      if (send != nullptr) reportIfNotStarted(dialog, *send);
      ::EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      // Reached only after the worker has ended (it is the one that asks
      // for the dialog to close).
      delete send;
      ::SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void showTestMessageDialog(HWND owner) {
  ::DialogBoxParamA(resourceInstance(), MAKEINTRESOURCEA(IDD_TEST_MESSAGE), owner,
                    testMessageDialogProc, 0);
}

}  // namespace kantiq
