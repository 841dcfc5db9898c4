#include "ui/about_box_win.h"

#include <shellapi.h>

#include "resources/resource_ids.h"
#include "ui/main_dialog_win.h"
#include "ui/picture_control_win.h"

namespace kantiq {
namespace {

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      fitPicturesToBitmaps(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          ::EndDialog(dialog, 0);
          return TRUE;
        case IDC_HOME_PAGE:
          ::ShellExecuteA(dialog, "open", KANTIQ_HOME_PAGE, nullptr, nullptr, SW_SHOWNORMAL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

void showAboutBox(HWND owner) {
  ::DialogBoxParamA(resourceInstance(), MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutDialogProc, 0);
}

}  // namespace kantiq
