// "Prüfen" and "Test-SMS": S.exe run from the folder, hidden, its output
// read through a pipe, on a worker thread so that a modem that does not
// answer never freezes the window. The result is posted back and shown in
// the report area. S.exe reads S.toml as it is on disk: changes not yet
// applied are offered to be applied first.

#include <memory>

#include "dispatch/sender_protocol.h"
#include "dispatch/test_message_verdict.h"
#include "einrichtung_ids.h"
#include "setup_window_parts_win.h"

namespace kantiq::setup {
namespace {

// "S.exe --pruefen" asks the modem or the gateway, each with its own time
// limit; a check still running after this is left to end by itself.
constexpr uint32_t kCheckLimitMs = 180'000;
// The same limit as the main window's test message.
constexpr uint32_t kTestLimitMs = 18'000'000;

struct SenderStart {
  std::string program;
  std::string commandLine;
  uint32_t limitMs = 0;
  std::shared_ptr<WorkerShare<SenderRunResult>> share;
};

DWORD WINAPI senderThread(void* parameter) {
  const std::unique_ptr<SenderStart> start(static_cast<SenderStart*>(parameter));
  start->share->finish(runSender(start->program, start->commandLine, start->limitMs));
  return 0;
}

// The folder as the sender's command line spells it: the system's code page.
std::string ansiFolder(const std::filesystem::path& folder) {
  const std::wstring w = folder.wstring();
  const int n = ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The number dialog's state: the number once "Senden" was pressed.
struct NumberDialog {
  std::string number;
};

INT_PTR CALLBACK numberProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  auto* state = reinterpret_cast<NumberDialog*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  const std::string typed = controlText(::GetDlgItem(dialog, IDC_TEST_NUMBER));
  const std::string why = typed.empty() ? "Bitte eine Handynummer eintragen." : checkPhoneNumber(typed);
  switch (LOWORD(wParam)) {
    case IDC_TEST_NUMBER:
      if (HIWORD(wParam) == EN_CHANGE) setControlText(::GetDlgItem(dialog, IDC_TEST_NUMBER_CHECK), why);
      return TRUE;
    case IDOK:
      if (!why.empty()) {
        setControlText(::GetDlgItem(dialog, IDC_TEST_NUMBER_CHECK), why);
        return TRUE;
      }
      state->number = typed;
      ::EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// True when S.exe may run now: S.toml on disk is what the form shows, or
// the user wants it run as it is, or the changes were applied first.
bool SetupWindow::senderFileCurrent() {
  collectFields();
  if (!senderChanged()) return true;
  const int answer = messageBox(dialog_,
                                "Die Änderungen an S.toml sind noch nicht übernommen; S.exe liest die Datei, wie "
                                "sie jetzt ist.\n\nErst übernehmen?",
                                "Noch nicht übernommen", MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  return answer == IDNO || apply();
}

void SetupWindow::startCheck() {
  if (running_ != SenderRun::None || !senderFileCurrent()) return;
  startSender(SenderRun::Check, "\"" + senderPath(ansiFolder(folder_)) + "\" --pruefen");
}

void SetupWindow::startTest() {
  if (running_ != SenderRun::None || !senderFileCurrent()) return;
  NumberDialog asked;
  if (::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TEST_NUMBER), dialog_, numberProc,
                        reinterpret_cast<LPARAM>(&asked)) != IDOK)
    return;
  startSender(SenderRun::Test, buildTestCommandLine(ansiFolder(folder_), asked.number));
}

void SetupWindow::startSender(SenderRun kind, std::string commandLine) {
  HWND dialog = dialog_;
  share_ = std::make_shared<WorkerShare<SenderRunResult>>([dialog] { ::PostMessageW(dialog, kMsgSenderEnded, 0, 0); });
  auto start = std::make_unique<SenderStart>();
  start->program = senderPath(ansiFolder(folder_));
  start->commandLine = std::move(commandLine);
  start->limitMs = kind == SenderRun::Check ? kCheckLimitMs : kTestLimitMs;
  start->share = share_;
  worker_.reset(::CreateThread(nullptr, 0, senderThread, start.get(), 0, nullptr));
  if (!worker_) {
    share_.reset();
    report("S.exe konnte nicht gestartet werden: kein Thread.");
    return;
  }
  start.release();  // the thread owns it now
  running_ = kind;
  for (int id : {IDC_CHECK, IDC_TEST_SMS}) ::EnableWindow(control(id), FALSE);
  report(kind == SenderRun::Check ? "S.exe --pruefen läuft ..." : "Die Test-SMS wird gesendet ...");
}

void SetupWindow::senderEnded() {
  SenderRunResult r;
  if (!share_ || !share_->result(r)) return;
  ::WaitForSingleObject(worker_.get(), INFINITE);
  worker_.reset();
  share_.reset();
  const SenderRun kind = std::exchange(running_, SenderRun::None);
  for (int id : {IDC_CHECK, IDC_TEST_SMS}) ::EnableWindow(control(id), TRUE);
  if (kind == SenderRun::Test) {
    const TestMessageVerdict verdict = judgeTestMessage(r.started, r.ended, r.exitCode, r.outputTail);
    report(utf8(wideFrom1252(verdict.text)));
    ::MessageBoxW(dialog_, wideFrom1252(verdict.text).c_str(), wideFrom1252(verdict.caption).c_str(),
                  (verdict.sent ? MB_ICONINFORMATION : MB_ICONWARNING) | MB_OK);
    return;
  }
  std::string text;
  if (!r.started)
    text = "S.exe wurde nicht gefunden oder konnte nicht starten (" + utf8(folder_.wstring()) + ").";
  else if (!r.ended)
    text = "S.exe ist nach " + std::to_string(kCheckLimitMs / 1000) + " Sekunden nicht fertig geworden.";
  else
    text = utf8(wideFrom1252(r.outputTail)) + "\n(S.exe --pruefen: Rückgabewert " + std::to_string(r.exitCode) + ")";
  report(text);
}

}  // namespace kantiq::setup
