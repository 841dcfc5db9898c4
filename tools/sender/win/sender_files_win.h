#pragma once

// The files S.exe keeps beside itself: the send log, the SIM state and the
// outbox folder; and the mark that says a run is still going.

#include <cstdint>
#include <string>
#include <string_view>

#include "sender/message/outbox.h"
#include "sender/message/outbox_folder.h"
#include "sender/message/send_log.h"
#include "sender/message/sms_channel.h"
#include "sender/sim/pin_guard.h"
#include "sender/sim/state_file.h"
#include "win32/owners_win.h"

namespace kantiq::sender {

// Replaces `path` as a whole: writes "<path>.tmp", flushes it to disk and
// renames it over the old file in one step. A failure leaves the old file.
bool replaceFileWhole(const std::string& path, std::string_view bytes);

// Appends each line on its own (open, write, close), so a line is on disk
// at once and a second sender running for a test can append too. A log
// that has grown past kMaxSendLogBytes is moved to "SendeLog.alt.txt"
// (replacing the one before) when a run starts. A line that cannot be
// written is remembered, so the run can say so in its exit code.
class FileSendLog : public SendLog {
 public:
  explicit FileSendLog(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  void write(std::string_view text) override;
  // Starts a new log if this one is too big.
  void rotateIfLarge();
  bool failed() const { return failedError_ != 0; }
  uint32_t failedError() const { return failedError_; }

 private:
  std::string path_;
  uint32_t failedError_ = 0;
};

inline constexpr int64_t kMaxSendLogBytes = 1024 * 1024;

class WinStateFile : public StateFile {
 public:
  explicit WinStateFile(std::string path) : path_(std::move(path)) {}
  bool load(std::string& text) override;
  bool save(std::string_view text) override { return replaceFileWhole(path_, text); }

 private:
  std::string path_;
};

// A named mutex every user's sender can wait for; `owned`: taken at once.
// Null when it cannot be made.
HANDLE createSharedMutex(const std::string& name, bool owned);

// Held for the whole run: a named mutex only a living process can own.
class RunMark {
 public:
  explicit RunMark(const std::string& runId);
  bool held() const { return mutex_.valid(); }

 private:
  UniqueHandle mutex_;
};

class WinOutboxFolder : public OutboxFolder {
 public:
  explicit WinOutboxFolder(std::string folder) : folder_(std::move(folder)) {}
  bool prepare(std::string& reason) override;
  std::vector<std::string> names() override;
  bool read(const std::string& name, std::string& bytes) override;
  bool write(const std::string& name, std::string_view bytes) override {
    return replaceFileWhole(path(name), bytes);
  }
  bool remove(const std::string& name) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool runAlive(std::string_view runId) override;

 private:
  std::string path(const std::string& name) const { return folder_ + "\\" + name; }
  std::string folder_;
};

// A file's whole text; false if it exists but cannot be read.
bool readWholeFile(const std::string& path, std::string& text, bool& absent, size_t maxBytes);

}  // namespace kantiq::sender
