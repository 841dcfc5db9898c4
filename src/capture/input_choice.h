#pragma once

// Which sound input capture opens. An input is asked for by its name and by
// its place among the inputs of that name (two identical USB sound cards
// have the same name), never by its number, which changes whenever an input
// comes or goes. No name asks for the system's default input; once found,
// that one is kept by name from then on.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq {

struct InputRequest {
  std::string name;  // empty: the default input
  int32_t position = 1;  // among the inputs of that name, from 1

  bool operator==(const InputRequest&) const = default;
};

struct FoundInput {
  uint32_t deviceId = 0;
  InputRequest input;
};

// The input asked for in a list of input names (index = device number).
std::optional<FoundInput> findInput(const std::vector<std::string>& names, const InputRequest& wanted);

// Device deviceId of the list as a request that finds it again.
std::optional<FoundInput> inputAt(const std::vector<std::string>& names, uint32_t deviceId);

// How the window and the result box name an input: its name, and its place
// when it is not the first of that name ("USB Audio (2.)").
std::string inputLabel(const InputRequest& input);

// Whether a buffer carries no signal at all: every sample within one step
// of the same value (a muted source, an unplugged line-in on a quiet card).
// 8-bit samples are unsigned bytes, 16-bit ones signed little-endian.
bool bufferIsFlat(int32_t bitsPerSample, const uint8_t* data, int32_t samples);

// Keeps time of an input that carries no signal. A period of flat buffers
// longer than the limit makes the input silent, once per period; the first
// buffer with signal ends it. Gaps without buffers (a restart, an outage)
// neither end a period nor count as signal.
class SilenceWatch {
 public:
  struct Change {
    bool silent = false;
    int64_t atMs = 0;  // silent since, or signal again at
  };

  // limitMs 0 switches the watch off.
  explicit SilenceWatch(int64_t limitMs = 0) : limitMs_(limitMs) {}

  // A completed buffer; a change when the input has just become silent or
  // just carries signal again.
  std::optional<Change> buffer(bool flat, int64_t nowMs);
  // Monitoring switched off: the next period starts afresh.
  void reset();

  bool silent() const { return silent_; }
  int64_t limitMs() const { return limitMs_; }

 private:
  int64_t limitMs_;
  bool inPeriod_ = false;
  bool silent_ = false;
  int64_t periodStartMs_ = 0;
};

}  // namespace kantiq
