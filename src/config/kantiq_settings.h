#pragma once

// Kantiq's own settings, apart from the alarm configuration: which sound
// input to listen to and how long a silent input may stay silent before it
// counts as a fault. They live in "Kantiq.ini" beside the program, written
// by kantiq-config from kantiq.toml and read once at start. A missing file
// or a missing line gives the default; a line that cannot be read gives the
// default too and a message for the result box, and the file is left as it
// is. The one thing Kantiq writes itself is the input it found as the
// default on its first start, so that it stays on that input afterwards.
//
// The file is Windows-1252 text, one "name = value" per line; '#' starts a
// comment line. Names are English, comments German.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq {

inline constexpr char kSettingsFileName[] = "Kantiq.ini";

// The longest input name the sound system reports (31 characters).
inline constexpr size_t kMaxInputNameLength = 31;

// The limits of input_position and silence_limit_s.
inline constexpr int32_t kMaxInputPosition = 99;
inline constexpr int64_t kMaxSilenceLimitS = 86400;
inline constexpr int64_t kMinSmsRetryS = 30;
inline constexpr int64_t kMaxSmsRetryS = 86400;
inline constexpr int64_t kMinNoticeDelayS = 10;
inline constexpr int64_t kMaxNoticeDelayS = 86400;

// Kantiq reads no more of the file than this.
inline constexpr size_t kMaxSettingsBytes = 64 * 1024;

struct KantiqSettings {
  // The recording input by its name (Windows-1252), and which of the inputs
  // of that name, counted from 1 (two identical USB sound cards have the
  // same name). Empty: none chosen yet, the default input is taken and
  // remembered.
  std::string inputName;
  int32_t inputPosition = 1;
  // An input that carries no signal at all for this long is a fault; 0
  // switches the check off.
  int64_t silenceLimitMs = 120000;
  // While SMS of an alarm wait undelivered, the sender tries again this often.
  int64_t smsRetryMs = 180000;
  // Notices to whoever looks after the PC: listening interrupted this long
  // is told; the weekly sign of life on day 1 (Monday) to 7, 0 for none, at
  // this many minutes after midnight.
  int64_t noticeDelayMs = 600000;
  int32_t signOfLifeDay = 1;
  int32_t signOfLifeMinute = 600;

  bool operator==(const KantiqSettings&) const = default;
};

struct SettingsReading {
  KantiqSettings settings;
  // The file was there and could be read.
  bool found = false;
  // The file was there but could not be read (problems says so).
  bool unreadable = false;
  // One German line per problem (Windows-1252), for the result box; each
  // names the line and says which default is used instead.
  std::vector<std::string> problems;
};

// Reads the text of a settings file.
SettingsReading parseSettings(std::string_view text);

// The file in folder; missing gives the defaults and no problem, one that
// cannot be read gives the defaults and a problem.
SettingsReading readSettingsFile(const std::filesystem::path& folder);

// The text of a settings file holding these settings, with German comments;
// parseSettings reads it back to the same settings (the silence limit is
// written in whole seconds, control characters of the name as spaces).
std::string composeSettings(const KantiqSettings& settings);

// The text with the input set to name and position, everything else kept as
// it is: the input lines are replaced where they are, or added at the end
// with a comment saying Kantiq remembered them.
std::string withRememberedInput(std::string_view text, std::string_view name, int32_t position);

// Writes withRememberedInput of the present file (or of nothing, when there
// is none) into folder, replacing the file in one step. False, with the
// file as it was, when that fails; nothing is written either when the
// present file exists but cannot be read, or is longer than Kantiq reads.
bool rememberInput(const std::filesystem::path& folder, std::string_view name, int32_t position);

// Writes bytes into file in one step: a temporary file beside it, renamed
// over it. False, with the file as it was, when that fails.
bool replaceFileWith(const std::filesystem::path& file, std::string_view bytes);
// The text of a small file (at most kMaxSettingsBytes); false when it is
// missing or cannot be read.
bool readSmallFile(const std::filesystem::path& file, std::string& text);

}  // namespace kantiq
