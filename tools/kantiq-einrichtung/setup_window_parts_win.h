#pragma once

// What the parts of the setup window share: the window's state and the
// small helpers for UTF-8 texts in Unicode controls. Only the window's own
// files include this.

#include <windows.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/dispatch_job_win.h"
#include "setup_fields.h"
#include "setup_form.h"
#include "ui/worker_share.h"
#include "win32/owners_win.h"

namespace kantiq::setup {

// UTF-8 <-> UTF-16. A text that is not UTF-8 is read as Windows-1252, the
// program's own character set.
std::wstring wide(std::string_view text);
std::wstring wideFrom1252(std::string_view text);
std::string utf8(std::wstring_view text);

std::string controlText(HWND control);
void setControlText(HWND control, std::string_view text);
int messageBox(HWND owner, std::string_view text, std::string_view caption, UINT type);

// A run of S.exe the window started and waits for.
enum class SenderRun { None, Check, Test };

class SetupWindow {
 public:
  explicit SetupWindow(std::filesystem::path folder);

  // The main dialog's and the pages' messages.
  INT_PTR onMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR onPageMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  // setup_window_win.cpp: opening, pages, fields, applying, closing.
  void open(HWND dialog);
  void afterOpen();
  void loadFiles();
  void createPages();
  void showPage(Page page);
  void selectPage(Page page);
  HWND control(int id) const;
  void fillChoices();
  void showFields();
  void collectFields();
  void putDefaults();
  bool monitorChanged() const;
  bool senderChanged() const;
  void report(const std::string& text);
  void reportProblems(const std::vector<Problem>& problems, std::string_view heading);
  bool apply();
  bool confirmHandMade();
  void offerRestart();
  void close();
  void onCommand(int id, int code);
  void onDestroy();

  // setup_lists_win.cpp: the alarms and the groups.
  void setUpLists();
  void showAlarms();
  void showGroups();
  void onListNotify(const NMHDR& header);
  AlarmEntry typedAlarm() const;
  void showAlarm(int index);
  void checkTypedCode();
  void addAlarm(bool replace);
  void removeAlarm();
  GroupEntry typedGroup() const;
  void showGroup(int index);
  void checkTypedNumbers();
  void addGroup(bool replace);
  void removeGroup();

  // setup_sender_run_win.cpp: "Prüfen" and "Test-SMS".
  bool senderFileCurrent();
  void startCheck();
  void startTest();
  void startSender(SenderRun kind, std::string commandLine);
  void senderEnded();

  std::filesystem::path folder_;
  HWND dialog_ = nullptr;
  std::array<UniqueWindow, kPageCount> pages_;
  SetupForm form_;              // as the controls and lists hold it
  SetupForm applied_;           // as the files hold it
  bool monitorOnDisk_ = false;  // applied_ is what the file says
  bool senderOnDisk_ = false;
  bool monitorHandMade_ = false;
  bool senderHandMade_ = false;
  std::vector<Problem> loadProblems_;
  bool fromExample_ = false;
  int selectedAlarm_ = -1;
  int selectedGroup_ = -1;
  bool showingEntry_ = false;  // fields are being filled from a list entry

  SenderRun running_ = SenderRun::None;
  std::shared_ptr<WorkerShare<SenderRunResult>> share_;
  UniqueHandle worker_;
};

inline constexpr UINT kMsgAfterOpen = WM_APP + 1;
inline constexpr UINT kMsgSenderEnded = WM_APP + 2;

}  // namespace kantiq::setup
