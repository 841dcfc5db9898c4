#pragma once

// The result box: an edit control and the text it shows. The text is built
// on the thread that raises alarms and handed to the window's thread by a
// posted notice, so raising never waits for the window.

#include <windows.h>

#include <string_view>

#include "ui/result_text.h"

namespace kantiq {

class TextBox {
 public:
  TextBox() = default;
  void bind(HWND control, HWND dialog) {
    control_ = control;
    dialog_ = dialog;
  }
  HWND control() const { return control_; }
  // The thread that raises alarms: builds the new text and tells the
  // window's thread.
  void append(std::string_view line);
  // The window's thread, on kMsgResultText and on its timer: shows the
  // newest text if there is one it has not shown.
  void show();

 private:
  HWND control_ = nullptr;
  HWND dialog_ = nullptr;
  ResultText text_;
  PendingText pending_;
};

}  // namespace kantiq
