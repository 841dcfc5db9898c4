#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace kantiq {

// The text of the result box: the newest line on top, each line framed as
// CR LF, blank, line, blank, and never more than kCapacityBytes bytes with
// the terminating zero.
class ResultText {
 public:
  static constexpr std::size_t kCapacityBytes = 5000;
  // CR LF, the two blanks and the terminating zero around every line.
  static constexpr std::size_t kFrameBytes = 5;
  static constexpr std::size_t kMaxLineBytes = kCapacityBytes - kFrameBytes;

  // Puts the line on top. When it does not fit beside the present text, all
  // older lines go first; a line that does not fit even into the emptied
  // box keeps its first kMaxLineBytes bytes.
  void append(std::string_view line);

  const char* c_str() const { return text_.data(); }
  std::size_t size() const { return size_; }

 private:
  std::array<char, kCapacityBytes> text_{};
  std::size_t size_ = 0;  // bytes before the terminating zero
};

// Hand-over of the result box's text from the analysis thread to the thread
// that owns the window. The writer never waits for the window's thread: it
// stores the newest text and learns whether the reader has to be told; the
// reader takes whatever is newest. The mutex guards only the copy.
class PendingText {
 public:
  // Stores the text; true when no notice is outstanding, so the caller must
  // send one (later texts ride on the same notice).
  bool publish(std::string_view text);
  // Takes the newest text and clears the outstanding notice.
  std::string take();

 private:
  std::mutex mutex_;
  std::string text_;
  bool noticePending_ = false;
};

}  // namespace kantiq
