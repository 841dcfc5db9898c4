#include "wache_logic.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "config/program_exit.h"

namespace kantiq::wache {
namespace {

std::string seconds(int64_t ms) { return std::to_string((ms + 500) / 1000) + " s"; }

}  // namespace

std::optional<Times> parseTestTimes(std::string_view text, Times base) {
  Times times = base;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of(" ,;", at);
    const std::string_view pair = text.substr(at, end == std::string_view::npos ? text.size() - at : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = pair.substr(0, equals);
    const std::string_view digits = pair.substr(equals + 1);
    int64_t value = 0;
    const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || rest != digits.data() + digits.size() || value <= 0) return std::nullopt;
    if (name == "haenger") {
      times.hangLimitMs = value;
    } else if (name == "pause") {
      times.restartPauseMs = value;
    } else if (name == "antwort") {
      times.answerWaitMs = value;
    } else if (name == "takt") {
      times.checkEveryMs = value;
    } else if (name == "neustarts" && value <= 1000) {
      times.restartsPerWindow = static_cast<int32_t>(value);
    } else if (name == "fenster") {
      times.budgetWindowMs = value;
    } else {
      return std::nullopt;
    }
  }
  return times;
}

KantiqEnd classifyExit(uint32_t code, std::optional<uint32_t> announced) {
  switch (code) {
    case kExitClosed:
      return announced == kExitClosed ? KantiqEnd::Closed : KantiqEnd::Crashed;
    case kExitStartRefused:
      return KantiqEnd::StartRefused;
    case kExitAlreadyRunning:
      return KantiqEnd::AlreadyRunning;
    case kExitStartAgain:
      return KantiqEnd::StartAgain;
    default:
      return KantiqEnd::Crashed;
  }
}

std::string exitCodeText(uint32_t code) {
  if (code < 0x10000) return std::to_string(code);
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

void RestartBudget::forget(int64_t nowMs) {
  while (!taken_.empty() && nowMs - taken_.front() >= windowMs_) taken_.pop_front();
}

bool RestartBudget::take(int64_t nowMs) {
  forget(nowMs);
  if (static_cast<int32_t>(taken_.size()) >= max_) return false;
  taken_.push_back(nowMs);
  return true;
}

int32_t RestartBudget::used(int64_t nowMs) {
  forget(nowMs);
  return static_cast<int32_t>(taken_.size());
}

void HangWatch::restart(int64_t nowMs) {
  lastLookMs_ = nowMs;
  lastAnswerMs_ = nowMs;
  beat_ = 0;
  beatChangedMs_ = nowMs;
}

void HangWatch::looking(int64_t nowMs) {
  if (nowMs - lastLookMs_ > limitMs_ / 2) restart(nowMs);
  lastLookMs_ = nowMs;
}

void HangWatch::workerBeat(uint32_t beat, int64_t nowMs) {
  if (beat == beat_) return;
  beat_ = beat;
  beatChangedMs_ = nowMs;
}

HangWatch::Hang HangWatch::check(int64_t nowMs) const {
  if (nowMs - lastAnswerMs_ >= limitMs_) return Hang::Window;
  if (beat_ != 0 && nowMs - beatChangedMs_ >= limitMs_) return Hang::Worker;
  return Hang::None;
}

std::string Care::budgetSpent() const {
  return "Schon " + std::to_string(budget_.max()) + " Neustarts in " + seconds(times_.budgetWindowMs);
}

std::string Care::restartNote(int64_t nowMs) {
  return "Neustart in " + seconds(times_.restartPauseMs) + " (" + std::to_string(budget_.used(nowMs)) +
         ". von höchstens " + std::to_string(budget_.max()) + " in " + seconds(times_.budgetWindowMs) + ").";
}

Decision Care::restartOrGiveUp(const std::string& reason, int64_t nowMs) {
  if (!budget_.take(nowMs)) {
    return {Step::GiveUp, reason + " " + budgetSpent() +
                              ": Die Wache gibt auf und startet Kantiq nicht mehr neu. Kantiq bitte von Hand starten."};
  }
  return {Step::RestartAfterPause, reason + " " + restartNote(nowMs)};
}

Decision Care::ended(uint32_t code, std::optional<uint32_t> announced, int64_t nowMs) {
  switch (classifyExit(code, announced)) {
    case KantiqEnd::Closed:
      return {Step::End, "Kantiq wurde beendet (Fenster geschlossen). Die Wache endet."};
    case KantiqEnd::StartRefused:
      return {Step::GiveUp,
              "Kantiq startet nicht: Die Einrichtung (SMSConfig1.dat, SMSConfig2.dat) fehlt oder ist fehlerhaft. "
              "Die Wache startet Kantiq nicht neu und endet."};
    case KantiqEnd::AlreadyRunning:
      return {Step::Adopt, "Kantiq läuft bereits: Die Wache übernimmt das laufende Kantiq."};
    case KantiqEnd::StartAgain:
      return {Step::StartNow, "Kantiq startet sich neu, um eine neue Einrichtung zu lesen oder um ein neu erkanntes "
                                "Aufnahmegerät zu nutzen."};
    case KantiqEnd::Crashed:
      break;
  }
  const std::string how = code == kExitClosed ? ", ohne sich abzumelden" : "";
  return restartOrGiveUp("Kantiq ist unerwartet beendet worden (Code " + exitCodeText(code) + how + ").", nowMs);
}

Decision Care::hung(HangWatch::Hang hang, int64_t nowMs) {
  const std::string what = hang == HangWatch::Hang::Worker
                               ? "Kantiqs Auswertung kommt seit " + seconds(times_.hangLimitMs) + " nicht voran"
                               : "Kantiqs Fenster antwortet seit " + seconds(times_.hangLimitMs) + " nicht";
  if (!budget_.take(nowMs)) {
    // Ended without a successor, Kantiq would not even show what holds it.
    return {Step::GiveUp, what + ". " + budgetSpent() +
                              ": Die Wache gibt auf und lässt Kantiq, wie es ist. "
                              "Kantiq bitte von Hand beenden und neu starten."};
  }
  return {Step::RestartAfterPause, what + ": Die Wache beendet Kantiq. " + restartNote(nowMs)};
}

Decision Care::startFailed(uint32_t error, int64_t nowMs) {
  return restartOrGiveUp("Kantiq.exe kann nicht gestartet werden (Fehler " + std::to_string(error) + ").", nowMs);
}

std::string formatLogLine(int year, int month, int day, int hour, int minute, int second, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%04d %02d:%02d:%02d: ", day % 100, month % 100, year % 10000,
                hour % 100, minute % 100, second % 100);
  std::string line = stamp;
  for (const char ch : text) line += static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
  line += "\r\n";
  return line;
}

std::string oldLogPath(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".alt";
  return path.substr(0, dot) + ".alt" + path.substr(dot);
}

}  // namespace kantiq::wache
