// The setup window: five pages in a tab control over the form of
// kantiq.toml and S.toml, a report area and the buttons to check, apply and
// try out the set-up. Scalar fields go through the field table
// (setup_fields.cpp); the lists are in setup_lists_win.cpp, the runs of
// S.exe in setup_sender_run_win.cpp. Texts are UTF-8 (this target is built
// with UTF-8 as its execution character set); controls are Unicode.

#include "setup_window_win.h"

#include <commctrl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "einrichtung_ids.h"
#include "kantiq_restart_win.h"
#include "setup_apply.h"
#include "setup_ports_win.h"
#include "setup_window_parts_win.h"

namespace kantiq::setup {
namespace {

constexpr unsigned kRestartTimeoutMs = 30000;
constexpr int kPageDialogs[kPageCount] = {IDD_PAGE_ALARMS, IDD_PAGE_GROUPS, IDD_PAGE_ROUTE, IDD_PAGE_INPUT,
                                          IDD_PAGE_ADVANCED};

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SetupWindow* windowOf(HWND window) {
  return reinterpret_cast<SetupWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(page, GWLP_USERDATA, lParam);
    return FALSE;
  }
  SetupWindow* window = windowOf(page);
  return window != nullptr ? window->onPageMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CALLBACK mainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
  SetupWindow* window = windowOf(dialog);
  return window != nullptr ? window->onMessage(dialog, message, wParam, lParam) : FALSE;
}

}  // namespace

SetupWindow::SetupWindow(std::filesystem::path folder) : folder_(std::move(folder)) {}

void SetupWindow::loadFiles() {
  const LoadedSetup loaded = loadSetup(readFile(folder_ / kMonitorFileName), readFile(folder_ / kSenderFileName));
  form_ = loaded.form;
  applied_ = loaded.form;
  monitorOnDisk_ = !loaded.monitorFromExample;
  senderOnDisk_ = !loaded.senderFromExample;
  monitorHandMade_ = loaded.monitorHandMade;
  senderHandMade_ = loaded.senderHandMade;
  loadProblems_ = loaded.problems;
  fromExample_ = loaded.monitorFromExample || loaded.senderFromExample;
}

void SetupWindow::open(HWND dialog) {
  dialog_ = dialog;
  HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_EINRICHTUNG),
                                               IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  loadFiles();
  createPages();
  fillChoices();
  setUpLists();
  showFields();
  showAlarms();
  showGroups();
  checkTypedCode();
  checkTypedNumbers();
  if (fromExample_) setControlText(control(IDC_NOTICE), "Beispielwerte – bitte prüfen und anpassen, dann Übernehmen.");
  report("Ordner: " + utf8(folder_.wstring()));
  selectPage(Page::Alarms);
  // Questions about the files are asked once the window shows.
  ::PostMessageW(dialog, kMsgAfterOpen, 0, 0);
}

void SetupWindow::afterOpen() {
  if (loadProblems_.empty()) return;
  std::string text = "Die Einrichtung konnte nicht gelesen werden:\n\n";
  for (const Problem& p : loadProblems_) text += problemLine(p) + "\n";
  text += "\nMit den Beispielwerten beginnen? (Nein schließt das Fenster.)";
  reportProblems(loadProblems_, "Nicht lesbar:");
  if (messageBox(dialog_, text, "Einrichtung nicht lesbar", MB_YESNO | MB_ICONWARNING) != IDYES) {
    ::EndDialog(dialog_, 1);
    return;
  }
  setControlText(control(IDC_NOTICE), "Beispielwerte – bitte prüfen und anpassen, dann Übernehmen.");
}

void SetupWindow::createPages() {
  HWND tabs = control(IDC_TABS);
  for (int i = 0; i < kPageCount; ++i) {
    const std::wstring title = wide(pageTitle(static_cast<Page>(i)));
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(title.c_str());
    ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  RECT area{};
  ::GetWindowRect(tabs, &area);
  ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&area), 2);
  ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (int i = 0; i < kPageCount; ++i) {
    pages_[i].reset(::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPageDialogs[i]), dialog_,
                                         pageProc, reinterpret_cast<LPARAM>(this)));
    // Above the tab control in the tab order and on the screen.
    ::SetWindowPos(pages_[i].get(), tabs, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOACTIVATE);
  }
  for (const Field& f : allFields()) {
    std::string_view label = f.label;
    setControlText(control(f.id + IDC_LABEL_OFFSET), label);
    if (f.page != Page::Advanced) continue;
    const std::string example = exampleValue(f.file, f.key);
    setControlText(control(f.id + IDC_DEFAULT_OFFSET), example.empty() ? "" : "Vorgabe: " + example);
  }
}

void SetupWindow::showPage(Page page) {
  for (int i = 0; i < kPageCount; ++i) ::ShowWindow(pages_[i].get(), i == static_cast<int>(page) ? SW_SHOW : SW_HIDE);
}

void SetupWindow::selectPage(Page page) {
  ::SendMessageW(control(IDC_TABS), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
  showPage(page);
}

// A control of the main dialog or of any page: the ids are unique.
HWND SetupWindow::control(int id) const {
  if (HWND h = ::GetDlgItem(dialog_, id)) return h;
  for (const UniqueWindow& page : pages_)
    if (HWND h = page ? ::GetDlgItem(page.get(), id) : nullptr) return h;
  return nullptr;
}

void SetupWindow::fillChoices() {
  for (const Field& f : allFields()) {
    HWND box = control(f.id);
    for (const Choice& c : f.choices)
      ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(c.shown).c_str()));
  }
  for (const std::wstring& port : serialPorts())
    ::SendMessageW(control(IDC_MODEM_PORT), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port.c_str()));
  for (const std::wstring& input : recordingInputs())
    ::SendMessageW(control(IDC_INPUT_NAME), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(input.c_str()));
}

void SetupWindow::showFields() {
  for (const Field& f : allFields()) {
    const Settings& settings = f.file == FileId::Monitor ? form_.monitor : form_.sender;
    const auto it = settings.find(std::string(f.key));
    const std::string value = it == settings.end() ? std::string() : it->second;
    HWND box = control(f.id);
    if (f.kind != FieldKind::ChoiceOf) {
      setControlText(box, value);
      continue;
    }
    const std::wstring shown = wide(shownOf(f, value));
    LRESULT index =
        ::SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(shown.c_str()));
    // A value the file holds that is none of the choices is offered too.
    if (index == CB_ERR) index = ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

// The fields' values into the form: an empty field takes its key out.
void SetupWindow::collectFields() {
  for (const Field& f : allFields()) {
    Settings& settings = f.file == FileId::Monitor ? form_.monitor : form_.sender;
    std::string typed = controlText(control(f.id));
    const size_t first = typed.find_first_not_of(" \t");
    typed = first == std::string::npos ? std::string() : typed.substr(first, typed.find_last_not_of(" \t") + 1 - first);
    const std::string value(f.kind == FieldKind::ChoiceOf ? valueOf(f, typed) : typed);
    if (value.empty())
      settings.erase(std::string(f.key));
    else
      settings[std::string(f.key)] = value;
  }
}

void SetupWindow::putDefaults() {
  for (const Field& f : allFields())
    if (f.page == Page::Advanced) setControlText(control(f.id), exampleValue(f.file, f.key));
  report("Die Vorgaben stehen wieder in den Feldern der Seite „Erweitert“. Sie gelten nach „Übernehmen“.");
}

bool SetupWindow::monitorChanged() const {
  return !monitorOnDisk_ || form_.monitor != applied_.monitor || form_.alarms != applied_.alarms;
}

bool SetupWindow::senderChanged() const {
  return !senderOnDisk_ || form_.sender != applied_.sender || form_.groups != applied_.groups;
}

void SetupWindow::report(const std::string& text) {
  // Lines end in CR LF in the control, whatever they ended in before.
  std::string windows;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') windows += '\r';
    windows += c;
  }
  setControlText(control(IDC_REPORT), windows);
}

void SetupWindow::reportProblems(const std::vector<Problem>& problems, std::string_view heading) {
  std::string text(heading);
  for (const Problem& p : problems) text += "\n" + problemLine(p);
  report(text);
}

bool SetupWindow::confirmHandMade() {
  std::vector<std::string> names;
  if (monitorHandMade_) names.emplace_back(kMonitorFileName);
  if (senderHandMade_) names.emplace_back(kSenderFileName);
  if (names.empty()) return true;
  const std::string which = names.size() == 2 ? names[0] + " und " + names[1] : names[0];
  const std::string text = which + (names.size() == 2 ? " wurden" : " wurde") +
                           " von Hand geschrieben. Beim Übernehmen werden die eigenen Kommentare und die "
                           "Anordnung durch die der Beispieldatei ersetzt. Die bisherige Datei bleibt als "
                           "Kopie im Ordner erhalten.\n\nÜbernehmen?";
  return messageBox(dialog_, text, "Von Hand geschriebene Einrichtung", MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

// Checks the form, writes it, says what was written. False when nothing was.
bool SetupWindow::apply() {
  collectFields();
  // Warnings are told, but do not keep the files from being written.
  std::vector<Problem> problems = checkForm(form_);
  const auto warnings =
      std::stable_partition(problems.begin(), problems.end(), [](const Problem& p) { return !p.warning; });
  if (warnings != problems.begin()) {
    reportProblems(problems, "Nicht übernommen, nichts wurde geschrieben:");
    selectPage(pageOf(problems.front().place));
    return false;
  }
  if (!confirmHandMade()) {
    report("Nicht übernommen: abgebrochen.");
    return false;
  }
  const bool restartWanted = monitorChanged();
  const ApplyReport result = applySetup(folder_, form_, monitorHandMade_, senderHandMade_);
  if (!result.written) {
    reportProblems(result.problems, result.summary.empty() ? "Nicht übernommen:" : result.summary);
    if (!result.problems.empty()) selectPage(pageOf(result.problems.front().place));
    return false;
  }
  std::string text = result.summary;
  for (const std::string& copy : result.copiesKept) text += "\nDie bisherige Datei bleibt erhalten als " + copy + ".";
  for (const Problem& p : problems) text += "\nAchtung: " + problemLine(p);
  report(text);
  applied_ = form_;
  monitorOnDisk_ = senderOnDisk_ = true;
  monitorHandMade_ = senderHandMade_ = false;
  setControlText(control(IDC_NOTICE), "");
  if (restartWanted) offerRestart();
  return true;
}

void SetupWindow::offerRestart() {
  if (!kantiqRunning()) return;
  if (messageBox(dialog_, "Kantiq läuft. Jetzt neu starten, damit die neue Einrichtung gilt?", "Kantiq neu starten",
                 MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  const RestartResult restart = restartKantiq(kRestartTimeoutMs);
  report(controlText(control(IDC_REPORT)) + "\n" + restart.message);
}

void SetupWindow::close() {
  collectFields();
  if (monitorChanged() || senderChanged()) {
    const int answer =
        messageBox(dialog_, "Änderungen übernehmen?", "Kantiq-Einrichtung schließen", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL || (answer == IDYES && !apply())) return;
  }
  ::EndDialog(dialog_, 0);
}

void SetupWindow::onCommand(int id, int code) {
  switch (id) {
    case IDC_APPLY:
      apply();
      return;
    case IDCANCEL:
      close();
      return;
    case IDC_CHECK:
      startCheck();
      return;
    case IDC_TEST_SMS:
      startTest();
      return;
    case IDC_DEFAULTS:
      putDefaults();
      return;
    case IDC_ALARM_NEW:
      addAlarm(false);
      return;
    case IDC_ALARM_CHANGE:
      addAlarm(true);
      return;
    case IDC_ALARM_REMOVE:
      removeAlarm();
      return;
    case IDC_GROUP_NEW:
      addGroup(false);
      return;
    case IDC_GROUP_CHANGE:
      addGroup(true);
      return;
    case IDC_GROUP_REMOVE:
      removeGroup();
      return;
    default:
      break;
  }
  if ((id == IDC_ALARM_CODE && code == EN_CHANGE) || (id == IDC_ALARM_STEPS && code == EN_CHANGE) ||
      (id == IDC_ALARM_TONE_SET && code == CBN_SELCHANGE))
    checkTypedCode();
  if (id == IDC_GROUP_NUMBERS && code == EN_CHANGE) checkTypedNumbers();
}

void SetupWindow::onDestroy() {
  // A run of S.exe still going tells nobody from now on.
  if (share_) share_->detach();
  for (UniqueWindow& page : pages_) page.reset();
}

INT_PTR SetupWindow::onMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      open(dialog);
      return TRUE;
    case kMsgAfterOpen:
      afterOpen();
      return TRUE;
    case kMsgSenderEnded:
      senderEnded();
      return TRUE;
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.idFrom == IDC_TABS && header.code == TCN_SELCHANGE)
        showPage(static_cast<Page>(::SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0)));
      return TRUE;
    }
    case WM_DESTROY:
      onDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

// The pages' controls report to their page; the window handles them alike.
INT_PTR SetupWindow::onPageMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      onListNotify(*reinterpret_cast<const NMHDR*>(lParam));
      return TRUE;
    default:
      return FALSE;
  }
}

int runSetupWindow(HINSTANCE instance, const std::filesystem::path& folder) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  SetupWindow window(folder);
  return static_cast<int>(
      ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETUP), nullptr, mainProc, reinterpret_cast<LPARAM>(&window)));
}

}  // namespace kantiq::setup
