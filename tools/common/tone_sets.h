#pragma once

// Five-tone paging codes and the tone sets they are sent with: one table of
// data (tone_sets.cpp) shared by kantiq-config, which turns codes into steps
// and back, and by the test signal kit, which sends calls in every set.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq::tool {

struct ToneSet {
  std::string_view name;
  std::array<int32_t, 10> digitHz;  // index = digit 0 to 9
  int32_t repeatHz;                 // sent in place of a tone equal to the one before
};

// Every known set, in table order: ZVEI1 first.
std::span<const ToneSet> allToneSets();

// The tone set of that name (case-insensitive), or nullptr.
const ToneSet* findToneSet(std::string_view name);
// The set a code without tone_set is read in.
const ToneSet& defaultToneSet();
std::string toneSetNames();  // for messages: "ZVEI1, ZVEI2, ..."

// The tones of a code of digits: a tone equal to the tone sent before it is
// replaced by the repeat tone ("111" is 1060, 2600, 1060 Hz in ZVEI1). The
// caller has checked that code holds only digits.
std::vector<int32_t> expandCode(std::string_view code, const ToneSet& set);

// The code whose expansion in this set is exactly these tones, if there is one.
std::optional<std::string> codeOfTones(const std::vector<int32_t>& tonesHz, const ToneSet& set);

struct SetCode {
  const ToneSet* set;
  std::string code;
};
// The code of these tones in the first set of the table that has one. Some
// sets send the same frequencies (PZVEI those of ZVEI1, for one): the table
// order decides, and ZVEI1 comes first.
std::optional<SetCode> codeInAnySet(const std::vector<int32_t>& tonesHz);

}  // namespace kantiq::tool
