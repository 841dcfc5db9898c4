#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sender/message/outbox_folder.h"
#include "sender/message/send_log.h"
#include "sender/message/sms_channel.h"

namespace kantiq::sender {

// One message to one recipient as it waits in the outbox folder.
struct OutboxEntry {
  std::string name;  // the file's name in the outbox
  // A notice is for whoever looks after the PC; it always goes after alarms.
  enum class Kind { Alarm, Test, Notice } kind = Kind::Alarm;
  int64_t createdUnixS = 0;   // when its run stored it (wall clock, for its age)
  std::string createdStamp;   // the same as the send log writes it: "08.12.2026 17:41:25"
  std::string number;         // normalised
  std::string text;           // Windows-1252, as it goes out
  uint32_t partsSent = 0;     // parts of a long text a modem has already accepted
  std::string underWay;       // the channel of an attempt under way; empty when none is
  bool late = false;          // left by an earlier run; its text says so
  // Attempts whose request went out without an answer in time; the second
  // one ends the message as "vielleicht gesendet".
  uint32_t maybeSent = 0;
};

std::string encodeOutboxEntry(const OutboxEntry& entry);
// False if the text is not an entry S.exe wrote (the name is not touched).
bool decodeOutboxEntry(std::string_view text, OutboxEntry& out);

// Local time as the log writes it, and the same as seconds since 1970.
struct WallTime {
  int64_t unixS = 0;
  std::string stamp;  // "08.12.2026 17:41:25"
};

// The run's side of the outbox. A message file is named
// "<run id>-<number>.sms"; the run id begins with the time the run started,
// so names sort by age. Without a usable folder (none given, or it cannot
// be written) the run still sends, and says once that nothing is kept.
class Outbox {
 public:
  Outbox(OutboxFolder* folder, std::string runId, SendLog& log);

  // Stores the run's own messages, giving each its name.
  void store(std::vector<OutboxEntry>& entries);
  // Takes over what runs that have ended left behind, oldest first: test
  // messages, messages older than maxAgeHours and notices older than
  // kNoticeMaxAgeHours are logged as given up and removed; the others are
  // marked late and returned.
  std::vector<OutboxEntry> takeOver(const WallTime& now, int32_t maxAgeHours);
  // Writes an entry's progress or its under-way mark.
  void update(const OutboxEntry& entry);
  // The message is sent or has failed for good.
  void remove(const OutboxEntry& entry);

  bool keeping() const { return usable_; }

  // The run id in a message file's name; empty if it is not one.
  static std::string runOf(std::string_view fileName);

 private:
  std::string nextName();
  void lost(std::string_view what);

  OutboxFolder* folder_;
  std::string runId_;
  SendLog& log_;
  bool usable_ = false;
  bool complained_ = false;
  int next_ = 1;
};

// A notice that could not go out within a day tells nobody anything new.
inline constexpr int32_t kNoticeMaxAgeHours = 24;

// The text a late message goes out with: who reads it must see that the
// alarm (or the notice) is not new.
std::string lateText(std::string_view createdStamp, std::string_view text,
                     OutboxEntry::Kind kind = OutboxEntry::Kind::Alarm);

}  // namespace kantiq::sender
