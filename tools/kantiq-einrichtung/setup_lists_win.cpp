// The pages "Alarme" and "Empfänger": a list of the entries and the fields
// of one entry below it. "Neu" adds the fields as an entry, "Ändern"
// replaces the selected entry by them, "Entfernen" takes it out. A code is
// checked as it is typed, and a code another alarm has is refused; a
// group's numbers are checked as they are typed.

#include <windows.h>
// needs the types of windows.h, included first
#include <commctrl.h>

#include "common/tone_sets.h"
#include "einrichtung_ids.h"
#include "setup_window_parts_win.h"

namespace kantiq::setup {
namespace {

constexpr std::string_view kDefaultToneSet = "ZVEI1 (Vorgabe)";

void addColumns(HWND list, std::initializer_list<std::pair<const wchar_t*, int>> columns) {
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  RECT client{};
  ::GetClientRect(list, &client);
  int index = 0;
  for (const auto& [title, percent] : columns) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = (client.right - ::GetSystemMetrics(SM_CXVSCROLL)) * percent / 100;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
  }
}

void setRow(HWND list, int row, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    const std::wstring text = wide(cells[i]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(list, i == 0 ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void selectRow(HWND list, int row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string inQuotes(const std::string& text) { return "„" + text + "“"; }

}  // namespace

void SetupWindow::setUpLists() {
  addColumns(control(IDC_ALARM_LIST), {{L"Text", 64}, {L"Code", 20}, {L"Tonsystem", 16}});
  addColumns(control(IDC_GROUP_LIST), {{L"Name", 26}, {L"Nummern", 34}, {L"Alarme", 28}, {L"Hinweise", 12}});
  HWND sets = control(IDC_ALARM_TONE_SET);
  ::SendMessageW(sets, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(kDefaultToneSet).c_str()));
  for (const tool::ToneSet& set : tool::allToneSets())
    ::SendMessageW(sets, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(set.name).c_str()));
  ::SendMessageW(sets, CB_SETCURSEL, 0, 0);
}

void SetupWindow::showAlarms() {
  HWND list = control(IDC_ALARM_LIST);
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < form_.alarms.size(); ++i) {
    const AlarmEntry& a = form_.alarms[i];
    // Hand-made steps name their frequencies; they belong to no tone set.
    const std::string set = !a.steps.empty() ? std::string() : a.toneSet.empty() ? std::string("ZVEI1") : a.toneSet;
    setRow(list, static_cast<int>(i), {a.text, a.steps.empty() ? a.code : "Schritte " + a.steps, set});
  }
  if (selectedAlarm_ >= static_cast<int>(form_.alarms.size())) selectedAlarm_ = -1;
  if (selectedAlarm_ >= 0) selectRow(list, selectedAlarm_);
}

void SetupWindow::showGroups() {
  HWND list = control(IDC_GROUP_LIST);
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < form_.groups.size(); ++i) {
    const GroupEntry& g = form_.groups[i];
    setRow(list, static_cast<int>(i),
           {g.name, joined(g.numbers), g.allAlarms ? "alle" : joined(g.keywords), g.notices ? "ja" : ""});
  }
  if (selectedGroup_ >= static_cast<int>(form_.groups.size())) selectedGroup_ = -1;
  if (selectedGroup_ >= 0) selectRow(list, selectedGroup_);
}

void SetupWindow::onListNotify(const NMHDR& header) {
  if (header.code != LVN_ITEMCHANGED) return;
  const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
  if ((change.uNewState & LVIS_SELECTED) == 0 || (change.uOldState & LVIS_SELECTED) != 0) return;
  if (header.idFrom == IDC_ALARM_LIST) showAlarm(change.iItem);
  if (header.idFrom == IDC_GROUP_LIST) showGroup(change.iItem);
}

AlarmEntry SetupWindow::typedAlarm() const {
  AlarmEntry a;
  a.text = controlText(control(IDC_ALARM_TEXT));
  a.code = controlText(control(IDC_ALARM_CODE));
  a.steps = controlText(control(IDC_ALARM_STEPS));
  const std::string set = controlText(control(IDC_ALARM_TONE_SET));
  a.toneSet = set == kDefaultToneSet ? std::string() : set;
  return a;
}

void SetupWindow::showAlarm(int index) {
  if (index < 0 || index >= static_cast<int>(form_.alarms.size())) return;
  selectedAlarm_ = index;
  const AlarmEntry& a = form_.alarms[static_cast<size_t>(index)];
  setControlText(control(IDC_ALARM_TEXT), a.text);
  setControlText(control(IDC_ALARM_CODE), a.code);
  setControlText(control(IDC_ALARM_STEPS), a.steps);
  HWND sets = control(IDC_ALARM_TONE_SET);
  const std::wstring set = wide(a.toneSet.empty() ? std::string(kDefaultToneSet) : a.toneSet);
  LRESULT found =
      ::SendMessageW(sets, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(set.c_str()));
  if (found == CB_ERR) found = ::SendMessageW(sets, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(set.c_str()));
  ::SendMessageW(sets, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
  checkTypedCode();
}

// The code's check beside it: the reason in words, or that it is free.
void SetupWindow::checkTypedCode() {
  const AlarmEntry a = typedAlarm();
  std::string text;
  if (a.code.empty()) {
    text = a.steps.empty() ? "Code oder Schritte eintragen." : "";
  } else if (std::string why = checkCode(a.code, a.toneSet); !why.empty()) {
    text = why;
  } else if (const int other = duplicateCodeOf(form_, a, selectedAlarm_); other >= 0) {
    text = "Schon vergeben: Alarm " + std::to_string(other + 1) + " " +
           inQuotes(form_.alarms[static_cast<size_t>(other)].text) + ".";
  } else {
    text = "Code in Ordnung.";
  }
  setControlText(control(IDC_ALARM_CODE_CHECK), text);
}

void SetupWindow::addAlarm(bool replace) {
  if (replace && selectedAlarm_ < 0) {
    report("Ändern: zuerst einen Alarm in der Liste wählen.");
    return;
  }
  const AlarmEntry a = typedAlarm();
  const int other = a.code.empty() ? -1 : duplicateCodeOf(form_, a, replace ? selectedAlarm_ : -1);
  if (other >= 0) {
    const std::string why = "Der Code " + a.code + " ist schon vergeben: Alarm " + std::to_string(other + 1) + " " +
                            inQuotes(form_.alarms[static_cast<size_t>(other)].text) + ".";
    setControlText(control(IDC_ALARM_CODE_CHECK), why);
    report((replace ? "Nicht geändert. " : "Nicht angefügt. ") + why);
    return;
  }
  if (replace) {
    form_.alarms[static_cast<size_t>(selectedAlarm_)] = a;
  } else {
    form_.alarms.push_back(a);
    selectedAlarm_ = static_cast<int>(form_.alarms.size()) - 1;
  }
  showAlarms();
  report("Alarm " + std::to_string(selectedAlarm_ + 1) + " " + inQuotes(a.text) +
         (replace ? " geändert." : " angefügt.") + " Er gilt nach „Übernehmen“.");
}

void SetupWindow::removeAlarm() {
  if (selectedAlarm_ < 0) {
    report("Entfernen: zuerst einen Alarm in der Liste wählen.");
    return;
  }
  const std::string text = form_.alarms[static_cast<size_t>(selectedAlarm_)].text;
  form_.alarms.erase(form_.alarms.begin() + selectedAlarm_);
  selectedAlarm_ = -1;
  showAlarms();
  report("Alarm " + inQuotes(text) + " entfernt. Das gilt nach „Übernehmen“.");
}

GroupEntry SetupWindow::typedGroup() const {
  GroupEntry g;
  g.name = controlText(control(IDC_GROUP_NAME));
  g.numbers = splitLines(controlText(control(IDC_GROUP_NUMBERS)));
  g.keywords = splitLines(controlText(control(IDC_GROUP_KEYWORDS)));
  g.allAlarms = ::SendMessageW(control(IDC_GROUP_ALL), BM_GETCHECK, 0, 0) == BST_CHECKED;
  g.notices = ::SendMessageW(control(IDC_GROUP_NOTICES), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return g;
}

void SetupWindow::showGroup(int index) {
  if (index < 0 || index >= static_cast<int>(form_.groups.size())) return;
  selectedGroup_ = index;
  const GroupEntry& g = form_.groups[static_cast<size_t>(index)];
  setControlText(control(IDC_GROUP_NAME), g.name);
  setControlText(control(IDC_GROUP_NUMBERS), joinLines(g.numbers));
  setControlText(control(IDC_GROUP_KEYWORDS), joinLines(g.keywords));
  ::SendMessageW(control(IDC_GROUP_ALL), BM_SETCHECK, g.allAlarms ? BST_CHECKED : BST_UNCHECKED, 0);
  ::SendMessageW(control(IDC_GROUP_NOTICES), BM_SETCHECK, g.notices ? BST_CHECKED : BST_UNCHECKED, 0);
  checkTypedNumbers();
}

void SetupWindow::checkTypedNumbers() {
  const std::vector<std::string> numbers = splitLines(controlText(control(IDC_GROUP_NUMBERS)));
  std::string text = numbers.empty() ? "Noch keine Nummer." : "Nummern in Ordnung.";
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (const std::string why = checkPhoneNumber(numbers[i]); !why.empty()) {
      text = "Nummer " + std::to_string(i + 1) + " " + inQuotes(numbers[i]) + ": " + why;
      break;
    }
  }
  setControlText(control(IDC_GROUP_NUMBER_CHECK), text);
}

void SetupWindow::addGroup(bool replace) {
  if (replace && selectedGroup_ < 0) {
    report("Ändern: zuerst eine Gruppe in der Liste wählen.");
    return;
  }
  const GroupEntry g = typedGroup();
  // The numbers taken are judged beside them (a multi-line field filled by
  // another program reports no change).
  checkTypedNumbers();
  if (replace) {
    form_.groups[static_cast<size_t>(selectedGroup_)] = g;
  } else {
    form_.groups.push_back(g);
    selectedGroup_ = static_cast<int>(form_.groups.size()) - 1;
  }
  showGroups();
  report("Gruppe " + inQuotes(g.name) + (replace ? " geändert." : " angefügt.") + " Sie gilt nach „Übernehmen“.");
}

void SetupWindow::removeGroup() {
  if (selectedGroup_ < 0) {
    report("Entfernen: zuerst eine Gruppe in der Liste wählen.");
    return;
  }
  const std::string name = form_.groups[static_cast<size_t>(selectedGroup_)].name;
  form_.groups.erase(form_.groups.begin() + selectedGroup_);
  selectedGroup_ = -1;
  showGroups();
  report("Gruppe " + inQuotes(name) + " entfernt. Das gilt nach „Übernehmen“.");
}

}  // namespace kantiq::setup
