#include "capture/input_choice.h"

#include <algorithm>

namespace kantiq {

std::optional<FoundInput> findInput(const std::vector<std::string>& names, const InputRequest& wanted) {
  int32_t seen = 0;
  for (size_t id = 0; id < names.size(); ++id) {
    if (names[id] != wanted.name) continue;
    if (++seen == wanted.position) return FoundInput{static_cast<uint32_t>(id), wanted};
  }
  return std::nullopt;
}

std::optional<FoundInput> inputAt(const std::vector<std::string>& names, uint32_t deviceId) {
  if (deviceId >= names.size()) return std::nullopt;
  const std::string& name = names[deviceId];
  const auto position =
      static_cast<int32_t>(std::count(names.begin(), names.begin() + deviceId + 1, name));
  return FoundInput{deviceId, InputRequest{name, position}};
}

std::string inputLabel(const InputRequest& input) {
  if (input.position <= 1) return input.name;
  return input.name + " (" + std::to_string(input.position) + ".)";
}

bool bufferIsFlat(int32_t bitsPerSample, const uint8_t* data, int32_t samples) {
  if (samples <= 0) return true;
  int32_t low = 0;
  int32_t high = 0;
  for (int32_t i = 0; i < samples; ++i) {
    int32_t v = 0;
    if (bitsPerSample == 8) {
      v = data[i];
    } else {
      v = static_cast<int16_t>(static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
    }
    if (i == 0) {
      low = high = v;
    } else {
      low = std::min(low, v);
      high = std::max(high, v);
      // Within one step of a middle value: at most two steps from end to end.
      if (high - low > 2) return false;
    }
  }
  return true;
}

std::optional<SilenceWatch::Change> SilenceWatch::buffer(bool flat, int64_t nowMs) {
  if (limitMs_ <= 0) return std::nullopt;
  if (!flat) {
    inPeriod_ = false;
    if (!silent_) return std::nullopt;
    silent_ = false;
    return Change{false, nowMs};
  }
  if (!inPeriod_) {
    inPeriod_ = true;
    periodStartMs_ = nowMs;
  }
  if (silent_ || nowMs - periodStartMs_ < limitMs_) return std::nullopt;
  silent_ = true;
  return Change{true, periodStartMs_};
}

void SilenceWatch::reset() {
  inPeriod_ = false;
  silent_ = false;
}

}  // namespace kantiq
