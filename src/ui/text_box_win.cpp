#include "ui/text_box_win.h"

#include <string>

#include "ui/window_messages_win.h"

namespace kantiq {

void TextBox::append(std::string_view line) {
  text_.append(line);
  if (pending_.publish(std::string_view(text_.c_str(), text_.size())) &&
      !::PostMessageA(dialog_, kMsgResultText, 0, 0)) {
    // A full queue, say: the next line tries again, and the window's timer
    // finds this text meanwhile.
    pending_.noticeFailed();
  }
}

void TextBox::show() {
  std::string text;
  if (!pending_.take(text)) return;
  ::SendMessageA(control_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace kantiq
