#include "ui/result_text.h"

#include <cstring>

namespace kantiq {

void ResultText::append(std::string_view line) {
  if (line.size() > kMaxLineBytes) line = line.substr(0, kMaxLineBytes);
  while (kFrameBytes + line.size() + size_ > kCapacityBytes && !lineBytes_.empty()) {
    size_ -= lineBytes_.back();
    lineBytes_.pop_back();
  }

  const std::size_t head = 3 + line.size() + 1;  // CR LF blank line blank
  lineBytes_.push_front(head);
  std::memmove(text_.data() + head, text_.data(), size_);
  char* p = text_.data();
  *p++ = '\r';
  *p++ = '\n';
  *p++ = ' ';
  std::memcpy(p, line.data(), line.size());
  p += line.size();
  *p = ' ';
  size_ += head;
  text_[size_] = '\0';
}

bool PendingText::publish(std::string_view text) {
  std::lock_guard<std::mutex> hold(mutex_);
  text_.assign(text);
  unseen_ = true;
  const bool mustNotify = !noticePending_;
  noticePending_ = true;
  return mustNotify;
}

void PendingText::noticeFailed() {
  std::lock_guard<std::mutex> hold(mutex_);
  noticePending_ = false;
}

bool PendingText::take(std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  noticePending_ = false;
  if (!unseen_) return false;
  unseen_ = false;
  text = std::move(text_);
  text_.clear();
  return true;
}

}  // namespace kantiq
