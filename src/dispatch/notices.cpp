#include "dispatch/notices.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kantiq {
namespace {

constexpr int64_t kHourMs = 3600000;
constexpr int64_t kTicksPerMinute = 60 * TimeValue::kTicksPerSecond;
// Interruptions in the first seconds after the start, while capture opens
// its device, are not faults.
constexpr int64_t kStartGraceMs = 15000;
// A gap in capture shorter than this is not an interruption.
constexpr int64_t kShortestInterruptionMs = 5000;

std::string quoted(std::string_view label) {
  return label.empty() ? std::string() : " \"" + std::string(label) + "\"";
}

// What is wrong, as a sentence, and what to do about it.
std::string faultSentence(ListeningFault fault, std::string_view label) {
  switch (fault) {
    case ListeningFault::SwitchedOff: return "Die Überwachung ist von Hand ausgeschaltet.";
    case ListeningFault::DeviceLost: return "Vom Aufnahmegerät" + quoted(label) + " kommt kein Signal.";
    case ListeningFault::InputMissing: return "Das Aufnahmegerät" + quoted(label) + " fehlt.";
    case ListeningFault::InputSilent: return "Am Eingang" + quoted(label) + " liegt kein Ton an.";
    case ListeningFault::None: break;
  }
  return {};
}

std::string advice(ListeningFault fault) {
  switch (fault) {
    case ListeningFault::SwitchedOff: return "Bitte am Alarm-PC \"Kantiq jetzt aktivieren\" drücken.";
    case ListeningFault::InputSilent: return "Bitte Kabel am Line-in und den Funkmeldeempfänger prüfen.";
    case ListeningFault::DeviceLost:
    case ListeningFault::InputMissing: return "Bitte Soundkarte und USB-Kabel am Alarm-PC prüfen.";
    case ListeningFault::None: break;
  }
  return {};
}

std::string duration(int64_t ms) {
  if (ms < 120000) return std::to_string(std::max<int64_t>(ms, 0) / 1000) + " s";
  return std::to_string((ms + 30000) / 60000) + " Min.";
}

std::string timesText(int32_t n) { return std::to_string(n) + "-mal"; }

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string formatStored(const TimeValue& t) {
  if (!t.isValid()) return {};
  char text[32];
  return t.format(text, sizeof text, "%Y-%m-%d %H:%M:%S") != nullptr ? std::string(text) : std::string();
}

TimeValue parseStored(std::string_view text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) return TimeValue::null();
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 || y < 1900 || y > 9999) return TimeValue::null();
  return TimeValue::fromCalendar(y, mo, d, h, mi, s);
}

int32_t parseCount(std::string_view text) {
  int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || n > 100000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::string formatNoticeTime(const TimeValue& time) {
  char text[32];
  if (!time.isValid() || time.format(text, sizeof text, "%d.%m.%Y %H:%M") == nullptr) return "?";
  return text;
}

std::string composeNoticeMemory(const NoticeMemory& m) {
  std::string text =
      "# Von Kantiq geschrieben: was es nach einem Neustart wissen muss\r\n"
      "# (wann es zuletzt lief, das letzte Lebenszeichen, die letzte Alarmierung).\r\n"
      "# Bitte nicht ändern.\r\n";
  const auto line = [&](std::string_view name, const std::string& value) {
    text.append(name).append(" = ").append(value).append("\r\n");
  };
  line("last_seen", formatStored(m.lastSeen));
  line("ended_normally", m.endedNormally ? "1" : "0");
  line("last_sign_of_life", formatStored(m.lastSignOfLife));
  line("last_alarm", formatStored(m.lastAlarm));
  std::string alarmText = m.lastAlarmText;
  for (char& c : alarmText) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  line("last_alarm_text", alarmText);
  line("listening_faults", std::to_string(m.listeningFaults));
  line("sms_faults", std::to_string(m.smsFaults));
  line("channel_faults", std::to_string(m.channelFaults));
  line("abnormal_ends", std::to_string(m.abnormalEnds));
  return text;
}

NoticeMemory parseNoticeMemory(std::string_view text) {
  NoticeMemory m;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view lineText = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (lineText.ends_with('\r')) lineText.remove_suffix(1);
    const size_t equals = lineText.find('=');
    if (lineText.starts_with('#') || equals == std::string_view::npos) continue;
    const std::string_view name = trimmed(lineText.substr(0, equals));
    const std::string_view value = trimmed(lineText.substr(equals + 1));
    if (name == "last_seen") m.lastSeen = parseStored(value);
    else if (name == "ended_normally") m.endedNormally = value != "0";
    else if (name == "last_sign_of_life") m.lastSignOfLife = parseStored(value);
    else if (name == "last_alarm") m.lastAlarm = parseStored(value);
    else if (name == "last_alarm_text") m.lastAlarmText = std::string(value);
    else if (name == "listening_faults") m.listeningFaults = parseCount(value);
    else if (name == "sms_faults") m.smsFaults = parseCount(value);
    else if (name == "channel_faults") m.channelFaults = parseCount(value);
    else if (name == "abnormal_ends") m.abnormalEnds = parseCount(value);
  }
  return m;
}

std::optional<TimeValue> dueSignOfLife(const NoticeSettings& settings, const TimeValue& last, const TimeValue& now) {
  if (settings.signOfLifeDay < 1 || settings.signOfLifeDay > 7 || !last.isValid() || !now.isValid()) {
    return std::nullopt;
  }
  CalendarFields today;
  if (!now.toCalendar(today)) return std::nullopt;
  // The calendar counts from Sunday (1); the setting from Monday (1).
  const int32_t wanted = settings.signOfLifeDay % 7 + 1;
  const int32_t daysBack = (today.dayOfWeek - wanted + 7) % 7;
  const TimeValue midnight = TimeValue::fromCalendar(today.year, today.month, today.day);
  int64_t at = midnight.ticks - daysBack * TimeValue::kTicksPerDay + settings.signOfLifeMinute * kTicksPerMinute;
  if (at > now.ticks) at -= 7 * TimeValue::kTicksPerDay;
  if (at <= last.ticks) return std::nullopt;
  return TimeValue::fromTicks(at);
}

std::optional<ChannelTrouble> channelTroubleIn(std::string_view summary) {
  constexpr std::string_view kMarker = " Störung ";
  const size_t at = summary.rfind(kMarker);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = summary.substr(at + kMarker.size());
  const size_t colon = rest.find(": ");
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  return ChannelTrouble{std::string(rest.substr(0, colon)), std::string(trimmed(rest.substr(colon + 2)))};
}

NoticeDesk::NoticeDesk(NoticeSettings settings, NoticeMemory memory, const TimeValue& now, int64_t tickMs,
                       bool quietStart)
    : settings_(settings), memory_(std::move(memory)), startTick_(tickMs) {
  const bool abnormal = !memory_.endedNormally && memory_.lastSeen.isValid();
  if (abnormal || !quietStart) {
    std::string text = "Kantiq gestartet am " + formatNoticeTime(now) + ".";
    if (abnormal) {
      text += " Zuletzt lief es am " + formatNoticeTime(memory_.lastSeen) +
              " und wurde nicht ordentlich beendet (Absturz oder Stromausfall?). Bis zum Start hat es keine "
              "Alarme gehört.";
      ++memory_.abnormalEnds;
    }
    tell(std::move(text));
  }
  // The first start ever: the first sign of life is the next one to come.
  if (!memory_.lastSignOfLife.isValid()) memory_.lastSignOfLife = now;
  memory_.lastSeen = now;
  memory_.endedNormally = false;
}

void NoticeDesk::tell(std::string text) { queue_.push_back(std::move(text)); }

void NoticeDesk::listening(ListeningFault fault, std::string_view label, const TimeValue& now, int64_t tickMs) {
  memory_.lastSeen = now;
  Episode& e = episode_;
  if (fault != ListeningFault::None) {
    if (!e.active) {
      e = Episode{};
      e.active = true;
      e.began = now;
      e.beganTick = tickMs;
    }
    if (!e.down) {
      e.down = true;
      e.currentBeganTick = tickMs;
      ++e.count;
    }
    e.lastFault = fault;
    e.label = std::string(label);
  } else if (e.active && e.down) {
    e.down = false;
    const int64_t lasted = tickMs - e.currentBeganTick;
    // Capture is restarted after every alarm, and opening the device at the
    // start takes a moment: neither is an interruption.
    const bool starting = e.beganTick - startTick_ < kStartGraceMs && tickMs - startTick_ < kStartGraceMs;
    if (lasted < kShortestInterruptionMs || (starting && e.count == 1)) {
      if (--e.count == 0) e = Episode{};
    } else {
      e.downMs += lasted;
      e.endedTick = tickMs;
      e.lastEnd = now;
    }
  }
  checkEpisode(now, tickMs);
}

void NoticeDesk::checkEpisode(const TimeValue& /*now*/, int64_t tickMs) {
  Episode& e = episode_;
  if (!e.active) return;
  if (e.down) {
    const bool longOne = tickMs - e.currentBeganTick >= settings_.delayMs;
    const bool flapping = e.count >= kFlappingCount && tickMs - e.beganTick >= settings_.delayMs;
    if (!e.told && (longOne || flapping)) {
      e.told = true;
      ++memory_.listeningFaults;
      if (e.count >= kFlappingCount) {
        tell("Kantiq hört seit " + formatNoticeTime(e.began) + " nur mit Unterbrechungen zu (" + timesText(e.count) +
             " ausgefallen, zuletzt: " + faultSentence(e.lastFault, e.label) + ") " + advice(e.lastFault));
      } else {
        tell("Kantiq hört seit " + formatNoticeTime(e.began) + " nicht zu: " + faultSentence(e.lastFault, e.label) +
             " Alarme werden nicht erkannt. " + advice(e.lastFault));
      }
    }
    return;
  }
  const int64_t settleMs = std::min(settings_.delayMs, kLongestSettleMs);
  if (tickMs - e.endedTick < settleMs) return;
  const std::string took = timesText(e.count) + " unterbrochen, zusammen " + duration(e.downMs);
  if (e.told) {
    tell("Kantiq hört wieder zu seit " + formatNoticeTime(e.lastEnd) + ". Die Störung ab " + formatNoticeTime(e.began) +
         " ist vorbei (" + took + ").");
  } else if (e.count >= kFlappingCount) {
    ++memory_.listeningFaults;
    tell("Kantiq hat zwischen " + formatNoticeTime(e.began) + " und " + formatNoticeTime(e.lastEnd) +
         " mehrmals kurz nicht zugehört (" + took + "; zuletzt: " + faultSentence(e.lastFault, e.label) +
         ") Jetzt hört es wieder zu. " + advice(e.lastFault));
  } else {
    ++memory_.listeningFaults;  // short: for the weekly sign of life only
  }
  e = Episode{};
}

void NoticeDesk::alarmRaised(std::string_view text, const TimeValue& now) {
  memory_.lastAlarm = now;
  memory_.lastAlarmText = std::string(text);
}

void NoticeDesk::senderSaid(std::string_view summary, bool allSent, const TimeValue& now) {
  const std::optional<ChannelTrouble> trouble = channelTroubleIn(summary);
  const std::string_view reason = trouble ? std::string_view(trouble->reason) : summary;
  const bool sim = (trouble || !allSent) && (contains(reason, "PUK") || contains(reason, "PIN"));
  if (sim) {
    if (!simTold_) {
      simTold_ = true;
      ++memory_.channelFaults;
      tell("Kantiq: Die SIM-Karte im Modem " +
           std::string(contains(reason, "PUK") ? "verlangt die PUK" : "nimmt die PIN nicht an") + " (seit " +
           formatNoticeTime(now) + "): " +
           std::string(reason) + (trouble ? " Die SMS gehen über den Ersatzweg." : " Über das Modem geht keine SMS hinaus.") +
           " Bitte die SIM-Karte in einem Handy entsperren und die PIN in S.toml prüfen.");
    }
  } else if (trouble && channelTold_ != trouble->route) {
    channelTold_ = trouble->route;
    ++memory_.channelFaults;
    tell("Kantiq: " + trouble->route + " gestört seit " + formatNoticeTime(now) + ": " + trouble->reason +
         " Die SMS gehen über den Ersatzweg. Bitte " + trouble->route + " prüfen, bevor auch der Ersatzweg ausfällt.");
  }
  // A run that sent everything by its first way: the channel works again.
  if (!trouble && allSent && contains(summary, "gesendet")) {
    if (!channelTold_.empty()) {
      tell("Kantiq: " + channelTold_ + " sendet wieder (" + formatNoticeTime(now) + ").");
      channelTold_.clear();
    }
    if (simTold_) {
      tell("Kantiq: Die SIM-Karte im Modem ist wieder bereit (" + formatNoticeTime(now) + ").");
      simTold_ = false;
    }
  }
}

void NoticeDesk::alarmRun(std::string_view alarmText, DeliveryState state, std::string_view summary,
                          const TimeValue& now) {
  // The sender may quote the alarm's text, which is no word of its own.
  std::string ownWords(summary);
  for (size_t at; !alarmText.empty() && (at = ownWords.find(alarmText)) != std::string::npos;) {
    ownWords.erase(at, alarmText.size());
  }
  senderSaid(ownWords, state == DeliveryState::Sent, now);
  if (state != DeliveryState::Waiting && state != DeliveryState::Failed) return;
  ++memory_.smsFaults;
  if (state == DeliveryState::Waiting) smsTold_ = true;
  tell("Kantiq: SMS zur Alarmierung \"" + std::string(alarmText) + "\" (" + formatNoticeTime(now) +
       ") nicht an alle gesendet: " + std::string(summary) +
       " Bitte Modem bzw. Gateway und SendeLog.txt am Alarm-PC prüfen.");
}

void NoticeDesk::outboxRun(DeliveryState state, bool waitingAfter, std::string_view summary, const TimeValue& now) {
  senderSaid(summary, state == DeliveryState::Sent, now);
  if (smsTold_ && state == DeliveryState::Sent && !waitingAfter) {
    smsTold_ = false;
    tell("Kantiq: Die wartenden SMS sind jetzt alle gesendet (" + formatNoticeTime(now) + ").");
  }
}

void NoticeDesk::noticeRun(uint32_t exitCode, std::string_view summary, const TimeValue& now) {
  if (exitCode == kSenderExitNoRecipients) {
    nobodyToTell_ = true;
    return;
  }
  senderSaid(summary, exitCode == 0 || exitCode == 7, now);
}

bool NoticeDesk::takeNobodyToTell() {
  if (!nobodyToTell_ || nobodyToTellShown_) return false;
  nobodyToTellShown_ = true;
  return true;
}

std::optional<std::string> NoticeDesk::next(const TimeValue& now, int64_t tickMs) {
  if (dueSignOfLife(settings_, memory_.lastSignOfLife, now)) {
    std::string faults;
    const auto add = [&](int32_t n, std::string_view what, std::string_view how) {
      if (n <= 0) return;
      if (!faults.empty()) faults += ", ";
      faults.append(what).append(" ").append(timesText(n)).append(" ").append(how);
    };
    add(memory_.listeningFaults, "Zuhören", "unterbrochen");
    add(memory_.smsFaults, "SMS", "nicht an alle gesendet");
    add(memory_.channelFaults, "Modem/Gateway/SIM", "gestört");
    add(memory_.abnormalEnds, "Kantiq", "nicht ordentlich beendet");
    const std::string lastAlarm =
        memory_.lastAlarm.isValid()
            ? formatNoticeTime(memory_.lastAlarm) + " \"" + memory_.lastAlarmText + "\""
            : std::string("keine bekannt");
    tell("Kantiq läuft. Letzte Alarmierung " + lastAlarm + ", Störungen seit dem letzten Lebenszeichen: " +
         (faults.empty() ? std::string("keine") : faults) + ".");
    memory_.lastSignOfLife = now;
    memory_.listeningFaults = memory_.smsFaults = memory_.channelFaults = memory_.abnormalEnds = 0;
  }
  while (!sentTicks_.empty() && tickMs - sentTicks_.front() >= kHourMs) sentTicks_.pop_front();
  if (queue_.empty() || sentTicks_.size() >= static_cast<size_t>(kMaxNoticesPerHour)) return std::nullopt;
  std::string text = std::move(queue_.front());
  queue_.pop_front();
  // The last notice the hour allows carries all that waits.
  if (sentTicks_.size() + 1 == static_cast<size_t>(kMaxNoticesPerHour)) {
    while (!queue_.empty()) {
      text += " / " + queue_.front();
      queue_.pop_front();
    }
  }
  sentTicks_.push_back(tickMs);
  return text;
}

}  // namespace kantiq
