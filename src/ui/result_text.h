#pragma once

#include <array>
#include <cstddef>
#include <deque>
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
  // The longest time stamp line an alarm puts above its alarm line.
  static constexpr std::size_t kStampLineBytes = 28;
  // A longer line keeps only its beginning, so that an alarm line always
  // fits into the box together with the time stamp line that follows it.
  static constexpr std::size_t kMaxLineBytes =
      kCapacityBytes - 2 * kFrameBytes - kStampLineBytes + 1;

  // Puts the line on top. When it does not fit beside the present text, the
  // oldest lines go, as many as needed: dropping them all at once would also
  // drop the alarm line just put in when its time stamp follows. A line
  // longer than kMaxLineBytes keeps its first kMaxLineBytes bytes.
  void append(std::string_view line);

  const char* c_str() const { return text_.data(); }
  std::size_t size() const { return size_; }

 private:
  std::array<char, kCapacityBytes> text_{};
  std::size_t size_ = 0;  // bytes before the terminating zero
  std::deque<std::size_t> lineBytes_;  // framed size of each line, newest first
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
  // The notice could not be sent: the next text sends one again. The text
  // itself stays for the reader to find.
  void noticeFailed();
  // Takes the newest text when there is one not taken yet, and clears the
  // outstanding notice either way.
  bool take(std::string& text);

 private:
  std::mutex mutex_;
  std::string text_;
  bool unseen_ = false;
  bool noticePending_ = false;
};

}  // namespace kantiq
