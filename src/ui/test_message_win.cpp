// The test-message dialog: asks for a mobile number and runs the sender once
// with the test argument and that number. The sender runs on a worker thread
// so the window stays responsive and alarm raising is never held up; while
// it runs the dialog says that it is sending, and when it has ended a box
// tells whether the test message went out, in the sender's own words.
//
// The dialog can be destroyed while the worker still runs (the main window
// closed during a test): the worker holds its own share of what it uses and
// posts its notice only to a dialog that still exists.

#include "ui/test_message_win.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/dispatch_job_win.h"
#include "dispatch/sender_protocol.h"
#include "dispatch/test_message_verdict.h"
#include "resources/resource_ids.h"
#include "ui/main_dialog_win.h"
#include "ui/window_messages_win.h"
#include "ui/worker_share.h"
#include "win32/executable_path_win.h"
#include "win32/owners_win.h"

namespace kantiq {
namespace {

// The same limit as an alarm's sender: one still running then is left alone.
constexpr uint32_t kSenderWaitLimitMs = 18'000'000;

using TestShare = WorkerShare<SenderRunResult>;

// What the worker is started with; it owns this.
struct TestSend {
  std::string senderPath;
  std::string commandLine;
  std::shared_ptr<TestShare> share;
};

// The dialog's own state, reached through its user data.
struct TestDialog {
  std::shared_ptr<TestShare> share;
  UniqueHandle worker;
};

SenderRunResult sendTest(const TestSend& send) {
  return runSender(send.senderPath, send.commandLine, kSenderWaitLimitMs);
}

void reportOutcome(HWND dialog, const SenderRunResult& r) {
  const TestMessageVerdict verdict = judgeTestMessage(r.started, r.ended, r.exitCode, r.outputTail);
  ::MessageBoxA(dialog, verdict.text.c_str(), verdict.caption.c_str(),
                (verdict.sent ? MB_ICONINFORMATION : MB_ICONWARNING) | MB_OK);
}

DWORD WINAPI testSendThread(void* parameter) {
  const std::unique_ptr<TestSend> send(static_cast<TestSend*>(parameter));
  send->share->finish(sendTest(*send));
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

void showSending(HWND dialog) {
  // The prompt is the dialog's one static text.
  if (HWND prompt = ::FindWindowExA(dialog, nullptr, "Static", nullptr))
    ::SetWindowTextA(prompt, "Die Test-SMS wird gesendet ...\nBitte warten, bis S.exe fertig ist.");
  for (int id : {IDC_NUMBER, IDOK, IDCANCEL}) ::EnableWindow(::GetDlgItem(dialog, id), FALSE);
}

void startTest(HWND dialog, TestDialog& state) {
  state.share = std::make_shared<TestShare>([dialog] { ::PostMessageA(dialog, kMsgTestSenderEnded, 0, 0); });
  auto send = std::make_unique<TestSend>();
  const std::string folder = executableFolder();
  send->senderPath = senderPath(folder);
  send->commandLine = buildTestCommandLine(folder, readNumber(dialog));
  send->share = state.share;
  // Nothing more to type or press while the sender runs.
  showSending(dialog);
  state.worker.reset(::CreateThread(nullptr, 0, testSendThread, send.get(), 0, nullptr));
  if (state.worker) {
    send.release();  // the thread owns it now
    return;
  }
  // No thread: send here and answer as after any test.
  state.share->detach();
  reportOutcome(dialog, sendTest(*send));
  ::EndDialog(dialog, 0);
}

INT_PTR CALLBACK testMessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  auto* state = reinterpret_cast<TestDialog*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (state == nullptr) {
            state = new TestDialog;
            ::SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
            startTest(dialog, *state);
          }
          return TRUE;
        case IDCANCEL:
          // A send in progress cannot be cancelled.
          if (state == nullptr) ::EndDialog(dialog, 0);
          return TRUE;
        default:
          return FALSE;
      }
    case kMsgTestSenderEnded:
      if (state != nullptr && state->worker) {
        ::WaitForSingleObject(state->worker.get(), INFINITE);
        state->worker.reset();
        // Copied out first: the box runs its own message loop, in which the
        // dialog may be destroyed and `state` with it.
        SenderRunResult result;
        if (state->share->result(result)) reportOutcome(dialog, result);
      }
      ::EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      // The worker may still be running: it keeps its own share of the
      // test, and from now on has no dialog to tell.
      if (state != nullptr) {
        if (state->share) state->share->detach();
        delete state;
        ::SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
      }
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
