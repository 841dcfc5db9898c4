#pragma once

// Notices for whoever looks after the alarm PC. Nobody watches Kantiq's
// window, so a broken link (a lost or silent input, SMS that did not go
// out, a failed modem or gateway, a locked SIM, a crash) is texted to the
// groups the sender's configuration marks for notices, once when it is
// found and once when it is over. A weekly sign of life says that the whole
// chain still works, so a fault Kantiq cannot see is found within a week.
//
// The desk decides what to tell and when; it keeps no clock and runs no
// sender. Its caller feeds it what happens, with the local time and a
// monotonic tick, and hands the notices it gives out to the sender.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "detector/time_value.h"
#include "dispatch/alarm_delivery.h"

namespace kantiq {

// The file beside the program where the desk keeps what it must know after
// a restart.
inline constexpr char kNoticeMemoryFileName[] = "Kantiq-Status.txt";

// At most this many notices an hour; more are joined into one.
inline constexpr int32_t kMaxNoticesPerHour = 4;
// Interruptions that come and go this often count as a fault of their own.
inline constexpr int32_t kFlappingCount = 3;
// Listening must have been back this long before "it is over" is told, and
// an interruption that comes back sooner belongs to the same fault.
inline constexpr int64_t kLongestSettleMs = 120000;

struct NoticeSettings {
  // A listening interruption longer than this is told.
  int64_t delayMs = 600000;
  // The weekly sign of life: day 1 (Monday) to 7 (Sunday), 0 for none, at
  // this many minutes after midnight, local time.
  int32_t signOfLifeDay = 1;
  int32_t signOfLifeMinute = 600;
};

// Why Kantiq is not listening.
enum class ListeningFault { None, SwitchedOff, DeviceLost, InputMissing, InputSilent };

// What the desk keeps between runs of the program.
struct NoticeMemory {
  TimeValue lastSeen = TimeValue::null();      // last time the program was known to run
  bool endedNormally = true;                   // false while it runs
  TimeValue lastSignOfLife = TimeValue::null();  // when the last one was handed to the sender
  TimeValue lastAlarm = TimeValue::null();
  std::string lastAlarmText;
  // Faults since the last sign of life, by kind.
  int32_t listeningFaults = 0;
  int32_t smsFaults = 0;     // alarms whose SMS did not all go out
  int32_t channelFaults = 0; // a channel or the SIM failed
  int32_t abnormalEnds = 0;

  bool operator==(const NoticeMemory&) const = default;
};

// The memory as the file holds it (Windows-1252, CR LF, German comment) and
// back; what cannot be read is left at its default.
std::string composeNoticeMemory(const NoticeMemory& memory);
NoticeMemory parseNoticeMemory(std::string_view text);

// "09.12.2026 10:02"
std::string formatNoticeTime(const TimeValue& time);

// The sign of life due at or before now and after the last one, if any: the
// last weekly time (day and minute of settings, local time) in
// (last, now]. With no last one, none is due before the first that comes.
std::optional<TimeValue> dueSignOfLife(const NoticeSettings& settings, const TimeValue& last, const TimeValue& now);

// A failed channel named in a sender's summary line (" Störung <route>:
// <reason>"): the route and the reason, or nothing.
struct ChannelTrouble {
  std::string route;
  std::string reason;
};
std::optional<ChannelTrouble> channelTroubleIn(std::string_view summary);

class NoticeDesk {
 public:
  // now: the program starts. The memory is what the last run left; a start
  // notice is queued at once, naming the time the last run was seen when it
  // did not end normally. A start that only hands over to a fresh instance
  // of the program is not told.
  NoticeDesk(NoticeSettings settings, NoticeMemory memory, const TimeValue& now, int64_t tickMs,
             bool quietStart = false);

  // How listening is, now: the window's timer calls it every half second.
  // label names the input for the texts.
  void listening(ListeningFault fault, std::string_view label, const TimeValue& now, int64_t tickMs);

  // An alarm was raised with this text.
  void alarmRaised(std::string_view text, const TimeValue& now);
  // A run of the sender for an alarm, the outbox or a notice ended; summary
  // is its summary line (senderSummaryLine), state what it means. For the
  // outbox, waitingAfter says whether alarm messages still wait.
  void alarmRun(std::string_view alarmText, DeliveryState state, std::string_view summary, const TimeValue& now);
  void outboxRun(DeliveryState state, bool waitingAfter, std::string_view summary, const TimeValue& now);
  // A notice run: exitCode as the sender ended; 4 means no group gets notices.
  void noticeRun(uint32_t exitCode, std::string_view summary, const TimeValue& now);

  // The next notice to hand to the sender now, within the hourly limit,
  // with the sign of life when it is due. Counts it as sent.
  std::optional<std::string> next(const TimeValue& now, int64_t tickMs);

  // The sender said no group gets notices; true once, for the window's line.
  bool takeNobodyToTell();

  // What to keep for the next run, as of now (the program runs).
  const NoticeMemory& memory() const { return memory_; }
  // Notices waiting for their turn.
  size_t queued() const { return queue_.size(); }

 private:
  struct Episode {
    bool active = false;
    bool told = false;           // the "since" notice went out
    TimeValue began;
    TimeValue lastEnd;
    int64_t beganTick = 0;
    bool down = false;            // an interruption is going on
    int64_t currentBeganTick = 0; // when it began
    int64_t endedTick = 0;        // when listening came back
    int64_t downMs = 0;           // interrupted time of the ended interruptions
    int32_t count = 0;
    ListeningFault lastFault = ListeningFault::None;
    std::string label;
  };

  void tell(std::string text);
  void startInterruption(ListeningFault fault, std::string_view label, const TimeValue& now, int64_t tickMs);
  void checkEpisode(const TimeValue& now, int64_t tickMs);
  void senderSaid(std::string_view summary, bool somethingSent, const TimeValue& now);

  NoticeSettings settings_;
  NoticeMemory memory_;
  std::deque<std::string> queue_;
  std::deque<int64_t> sentTicks_;  // of the notices of the last hour
  Episode episode_;
  bool smsTold_ = false;          // undelivered SMS told, not yet over
  std::string channelTold_;       // the failed route told, not yet over
  bool simTold_ = false;
  bool nobodyToTell_ = false;
  bool nobodyToTellShown_ = false;
  int64_t startTick_ = 0;
};

}  // namespace kantiq
