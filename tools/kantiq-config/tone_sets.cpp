#include "tone_sets.h"

#include <cctype>

namespace kantiq::tool {

namespace {

constexpr ToneSet kToneSets[] = {
    // digit:        0     1     2     3     4     5     6     7     8     9
    {"ZVEI1", {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200}, 2600},
};

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const ToneSet* findToneSet(std::string_view name) {
  for (const ToneSet& set : kToneSets) {
    if (sameName(set.name, name)) return &set;
  }
  return nullptr;
}

std::string toneSetNames() {
  std::string names;
  for (const ToneSet& set : kToneSets) {
    if (!names.empty()) names += ", ";
    names += set.name;
  }
  return names;
}

std::vector<int32_t> expandCode(std::string_view code, const ToneSet& set) {
  std::vector<int32_t> tones;
  int32_t previous = 0;
  for (char c : code) {
    int32_t tone = set.digitHz[static_cast<size_t>(c - '0')];
    if (tone == previous) tone = set.repeatHz;
    tones.push_back(tone);
    previous = tone;
  }
  return tones;
}

std::optional<std::string> codeOfTones(const std::vector<int32_t>& tonesHz, const ToneSet& set) {
  if (tonesHz.empty()) return std::nullopt;
  std::string code;
  for (int32_t tone : tonesHz) {
    if (tone == set.repeatHz) {
      if (code.empty()) return std::nullopt;
      code.push_back(code.back());
      continue;
    }
    bool found = false;
    for (size_t d = 0; d < set.digitHz.size(); ++d) {
      if (set.digitHz[d] == tone) {
        code.push_back(static_cast<char>('0' + d));
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  if (expandCode(code, set) != tonesHz) return std::nullopt;
  return code;
}

}  // namespace kantiq::tool
