#pragma once

// What the setup window edits: the values of kantiq.toml (alarms, detector,
// input, notices) and of S.toml (route, recipients), as the user typed them.
// The form is read from the two files, written back in the form of the
// shipped examples (their comments included), and judged by the readers
// kantiq-config and S.exe use themselves: a value is only as valid as those
// readers find the file it is written into.
//
// Texts are UTF-8 throughout.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kantiq::setup {

enum class FileId { Monitor, Sender };  // kantiq.toml, S.toml

inline constexpr char kMonitorFileName[] = "kantiq.toml";
inline constexpr char kSenderFileName[] = "S.toml";

// "section.key" (or "key" at the top of the file) -> the value as typed:
// a text without its quotes, a number's digits, "true"/"false" for a flag,
// and for the few values that are TOML of their own (a list of numbers, the
// HTTP headers, a hand-made alarm's steps) that TOML. A key that is absent
// stays a comment in the file, and the program's default applies.
using Settings = std::map<std::string, std::string>;

struct AlarmEntry {
  std::string text;
  std::string code;     // digits; empty when steps are given
  std::string toneSet;  // empty: the default set (ZVEI1)
  std::string steps;    // TOML list as typed, e.g. "[1160, 1270, [1240, 1860]]"; empty for a code
  friend bool operator==(const AlarmEntry&, const AlarmEntry&) = default;
};

struct GroupEntry {
  std::string name;
  bool allAlarms = false;
  bool notices = false;  // gets the notices for whoever looks after the PC
  std::vector<std::string> keywords;
  std::vector<std::string> numbers;  // as typed
  friend bool operator==(const GroupEntry&, const GroupEntry&) = default;
};

struct SetupForm {
  Settings monitor;  // kantiq.toml, e.g. "detector.required_hits", "input.name", "notices.sign_of_life"
  std::vector<AlarmEntry> alarms;
  Settings sender;  // S.toml, e.g. "kanal", "modem.anschluss", "modem.pin", "http.url"
  std::vector<GroupEntry> groups;
  friend bool operator==(const SetupForm&, const SetupForm&) = default;
};

// How a key's value is written: as a quoted text, a bare number, true or
// false, or TOML as it stands. Every key the examples know, set or in a
// comment, has a kind; nullopt for any other key.
enum class ValueKind { Text, Number, Flag, Toml };
std::optional<ValueKind> kindOf(FileId file, std::string_view key);

// The value the example gives a key (set or in a comment), e.g. the
// detector's defaults for the "Erweitert" page; empty when it gives none.
std::string exampleValue(FileId file, std::string_view key);

// What a problem is about: a key of a file, or an alarm or group entry (its
// index, and a field name of the entry such as "code" or "nummern"), or the
// file as a whole (key and entry empty).
struct Place {
  FileId file = FileId::Monitor;
  std::string key;
  int alarm = -1;
  int group = -1;
  std::string field;

  static Place ofFile(FileId file) { return Place{file, {}, -1, -1, {}}; }
  static Place ofKey(FileId file, std::string key) { return Place{file, std::move(key), -1, -1, {}}; }
  static Place ofAlarm(int index, std::string field) { return Place{FileId::Monitor, {}, index, -1, std::move(field)}; }
  static Place ofGroup(int index, std::string field) { return Place{FileId::Sender, {}, -1, index, std::move(field)}; }
  friend bool operator==(const Place&, const Place&) = default;
};

struct Problem {
  Problem() = default;
  Problem(Place at, std::string why, uint32_t inLine = 0, bool onlyWarning = false)
      : place(std::move(at)), message(std::move(why)), line(inLine), warning(onlyWarning) {}

  Place place;
  std::string message;  // German, for the user
  uint32_t line = 0;    // in the written file, when a reader named one
  // Written all the same (a tone no detector set-up hears, say); only the
  // other problems keep the files from being written.
  bool warning = false;
};

// The examples' own values: what a fresh installation shows.
SetupForm exampleForm();

struct LoadedSetup {
  SetupForm form;
  // The file could not be read as a form (a syntax error, a key the
  // readers do not know): its line and reason; the form holds the example's
  // values for that file then.
  std::vector<Problem> problems;
  bool monitorFromExample = false;  // kantiq.toml missing or broken
  bool senderFromExample = false;
  // The file holds more than the window writes back (own comments, another
  // order): writing replaces it, so the user is told and a copy is kept.
  bool monitorHandMade = false;
  bool senderHandMade = false;
};

// Reads the two files' texts; nullopt for a file that does not exist.
LoadedSetup loadSetup(const std::optional<std::string>& monitorText, const std::optional<std::string>& senderText);

// The files in the form of the shipped examples: their comments, their
// order, the example's commented lines for what is not set.
std::string renderMonitorFile(const SetupForm& form);
std::string renderSenderFile(const SetupForm& form);

// Everything wrong with the form: the values checked one by one as below,
// then both rendered files read by kantiq-config's reader (every problem)
// and S.exe's (the first it finds), each problem placed where it belongs.
std::vector<Problem> checkForm(const SetupForm& form);

// Checks of one value while it is typed: empty when fine, else the reason.
std::string checkCode(std::string_view code, std::string_view toneSet);
std::string checkPhoneNumber(std::string_view number);
std::string checkNumberValue(std::string_view typed);  // digits, optional leading '-'
// A code already used by another alarm (index `except` is skipped): the
// other alarm's index, else -1. Codes compare by their tones, so the same
// digits in another tone set are a different code.
int duplicateCodeOf(const SetupForm& form, const AlarmEntry& alarm, int except);

}  // namespace kantiq::setup
