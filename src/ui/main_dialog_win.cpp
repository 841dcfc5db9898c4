#include "ui/main_dialog_win.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "capture/win_exception.h"
#include "resources/resource_ids.h"
#include "ui/alarm_monitor_win.h"
#include "ui/picture_control_win.h"
#include "ui/window_messages_win.h"
#include "win32/restart_request_win.h"

namespace kantiq {
namespace {

HINSTANCE gInstance = nullptr;
const EngineFactory* gMakeEngine = nullptr;
// The one monitor; empty until its construction has completed.
AlarmMonitor* gMonitor = nullptr;

void warn(const char* text, const char* caption) {
  ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONWARNING);
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      fitPicturesToBitmaps(dialog);
      try {
        auto monitor = std::make_unique<AlarmMonitor>(dialog, *gMakeEngine);
        gMonitor = monitor.release();
      } catch (const WinException& e) {
        warn(e.message != nullptr ? e.message : "", "Exception");
      } catch (...) {
        warn("Unknown", "Exception");
      }
      if (gMonitor == nullptr) {
        // Without a monitor no button does anything: none should look as if
        // it did. Closing the window still ends the program.
        for (int id : {IDC_TOGGLE, IDC_ABOUT, IDC_STATUS, IDC_TEST_MESSAGE}) {
          ::EnableWindow(::GetDlgItem(dialog, id), FALSE);
        }
        // Nothing listens: the window says so in full.
        showSwitchedOffState(dialog);
      }
      return TRUE;
    case WM_ENDSESSION:
      // Logging off or shutting down ends the process after this returns:
      // every alarm raised goes to the sender first.
      if (wParam != 0 && gMonitor != nullptr) gMonitor->handOverAlarms();
      return TRUE;
    case WM_CLOSE:
      if (gMonitor != nullptr) {
        AlarmMonitor* monitor = std::exchange(gMonitor, nullptr);
        if (monitor->shutdown()) delete monitor;
      } else {
        // A window left without a monitor by a failed construction: nothing
        // else would end the loop.
        ::PostQuitMessage(0);
      }
      ::DestroyWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      if (gMonitor != nullptr) gMonitor->onCommand(dialog, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_HSCROLL:
      if (gMonitor != nullptr) gMonitor->onHScroll(dialog, LOWORD(wParam), HIWORD(wParam));
      return FALSE;
    case kMsgResultText:
      if (gMonitor != nullptr) gMonitor->showResultText();
      return TRUE;
    case kMsgCaptureWarning:
      // Last: the box runs messages, and the monitor may be gone after it.
      if (gMonitor != nullptr) gMonitor->showCaptureWarning();
      return TRUE;
    case WM_TIMER:
      if (wParam == kStatusTimerId && gMonitor != nullptr) gMonitor->onStatusTimer();
      return TRUE;
    default:
      // A registered message has no fixed number to switch on.
      if (message == restartRequestMessage() && message != 0) {
        if (gMonitor != nullptr) gMonitor->restartForNewSetup();
        return TRUE;
      }
      return FALSE;
  }
}

}  // namespace

HINSTANCE resourceInstance() { return gInstance; }

int runMainDialog(const ProgramOptions& options) {
  gInstance = options.instance;
  gMakeEngine = &options.makeEngine;
  HWND dialog = ::CreateDialogParamA(gInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
  if (dialog == nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "Error x%lx", ::GetLastError());
    warn(text, "CreateDialog");
    return 1;
  }
  MSG msg;
  BOOL got;
  while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    if (!::IsDialogMessageA(dialog, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  return got == -1 ? 1 : static_cast<int>(msg.wParam);
}

}  // namespace kantiq
