#pragma once

// Five-tone paging codes and the tone sets they are sent with.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq::tool {

struct ToneSet {
  std::string_view name;
  std::array<int32_t, 10> digitHz;  // index = digit 0 to 9
  int32_t repeatHz;                 // sent in place of a tone equal to the one before
};

// The tone set of that name (case-insensitive), or nullptr.
const ToneSet* findToneSet(std::string_view name);
std::string toneSetNames();  // for messages: "ZVEI1"

// The tones of a code of digits: a tone equal to the tone sent before it is
// replaced by the repeat tone ("111" is 1060, 2600, 1060 Hz in ZVEI1). The
// caller has checked that code holds only digits.
std::vector<int32_t> expandCode(std::string_view code, const ToneSet& set);

// The code whose expansion is exactly these tones, if there is one.
std::optional<std::string> codeOfTones(const std::vector<int32_t>& tonesHz, const ToneSet& set);

}  // namespace kantiq::tool
