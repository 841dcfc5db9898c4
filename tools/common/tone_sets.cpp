#include "common/tone_sets.h"

#include <cctype>

namespace kantiq::tool {

namespace {

// Digit and repeat frequencies of the common five-tone systems, taken from
// published tables and cross-checked against each other:
//
//  [1] English Wikipedia, "Selcall", tone set table (CCIR, EEA, EIA, ZVEI I to
//      III, DZVEI, PZVEI)
//  [2] English Wikipedia, "CCIR (selcall)"
//  [3] Zetron Model 15 manual, table 7-7 "Five-Tone Groups and Timings"
//      (EIA, CCIR, ZVEI, EEA with their repeat tones)
//  [4] www.x31.com/~andy/keywords/Selcall.html (CCIR, EEA, ZVEI, DZVEI)
//  [5] klaus-paffenholz.de, "ZVEI-Verfahren" (the German TR BOS values)
//  [6] WAVECOM decoder manuals W61PC V7.5 and W74PC V9.1, "ZVEI-3" and
//      "DZVEI" tone allocation
//  [7] zs2brc.co.za, "Operation of Tone Call Facilities" (EEA)
//  [8] multimon-ng, demod_*.c (digit E is the repeat tone)
//  [9] svxlink, SelCall.tcl and SwSel5Decoder.cpp
//
//  ZVEI1  [1][3][4][5][8][9] agree.
//  ZVEI2  ZVEI1's digits [1][8][9], repeat 970 Hz [8][9].
//  DZVEI  digits [1][4][6][8][9]; repeat 2400 Hz [6][8][9] ([4] gives 810 Hz,
//         and 2400 Hz as the group tone).
//  ZVEI3  the sources split: [1] and [8] (and [9]'s older table) give
//         ZVEI1's digits, [8] with repeat 970 Hz, which makes it ZVEI2;
//         [6] and [9]'s revised table ("checking tones") give DZVEI's
//         digits with repeat 2400 Hz, which makes it DZVEI. Taken from [6]
//         and [9]: a decoder maker's manual and a table revised on purpose.
//  PZVEI  ZVEI1's digits [1][8][9]; repeat 2600 Hz [9]. [8] gives 2400 Hz,
//         the tone of digit 0, which no repeat tone can be.
//  CCIR   [1][2][3][4][8][9] agree.
//  CCITT  only [9] has it (in both its tables); no second table was found.
//         Its 1335 Hz is as [9] gives it, not the 1336 Hz of DTMF.
//  EEA    [1][3][4][7][8][9] agree: CCIR's frequencies (the systems differ in
//         tone length, 40 against 100 ms).
//  EIA    [1][3][8][9] agree.
//
// Where [1] is cited, its table was read for the digits; its repeat row was
// not available. So three pairs send the same frequencies: ZVEI1/PZVEI,
// DZVEI/ZVEI3 and CCIR/EEA. DZVEI, whose digits every source agrees on,
// stands before ZVEI3, so that codeInAnySet names it for their codes.
constexpr ToneSet kToneSets[] = {
    // name     digit 0     1     2     3     4     5     6     7     8     9   repeat
    {"ZVEI1", {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200}, 2600},
    {"ZVEI2", {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200}, 970},
    {"DZVEI", {2200, 970, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000}, 2400},
    {"ZVEI3", {2200, 970, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000}, 2400},
    {"PZVEI", {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200}, 2600},
    {"CCIR", {1981, 1124, 1197, 1275, 1358, 1446, 1540, 1640, 1747, 1860}, 2110},
    {"CCITT", {400, 697, 770, 852, 941, 1209, 1335, 1477, 1633, 1800}, 2300},
    {"EEA", {1981, 1124, 1197, 1275, 1358, 1446, 1540, 1640, 1747, 1860}, 2110},
    {"EIA", {600, 741, 882, 1023, 1164, 1305, 1446, 1587, 1728, 1869}, 459},
};

static_assert(kToneSets[0].name == "ZVEI1", "codes without tone_set, and show, prefer ZVEI1");

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

std::span<const ToneSet> allToneSets() { return kToneSets; }

const ToneSet* findToneSet(std::string_view name) {
  for (const ToneSet& set : kToneSets) {
    if (sameName(set.name, name)) return &set;
  }
  return nullptr;
}

const ToneSet& defaultToneSet() { return kToneSets[0]; }

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

std::optional<SetCode> codeInAnySet(const std::vector<int32_t>& tonesHz) {
  for (const ToneSet& set : kToneSets) {
    if (auto code = codeOfTones(tonesHz, set)) return SetCode{&set, std::move(*code)};
  }
  return std::nullopt;
}

}  // namespace kantiq::tool
