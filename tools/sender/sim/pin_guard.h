#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sender/sim/state_file.h"
namespace kantiq::sender {

// What S.exe remembers about the SIM from one run to the next. The PIN
// itself is never stored: only a salted SHA-256 of the PIN that the SIM
// refused. (A PIN has four to eight digits, so the hash keeps it out of
// sight, not out of reach of someone who tries all of them.)
struct SimRecord {
  std::string salt;            // hex, made once
  std::string refusedPinHash;  // hex SHA-256 of salt and PIN; empty: no PIN refused
  int refusedEntries = 0;      // refused entries since the SIM last took a PIN
  // The modem took the last entry without saying no, but the SIM did not
  // report READY in time: a READY seen later means that PIN was right.
  bool awaitingReady = false;
};

std::string encodeSimRecord(const SimRecord& record);
// False if the text is not a record S.exe wrote.
bool decodeSimRecord(std::string_view text, SimRecord& out);

inline constexpr int kSimPinAttempts = 3;  // what a SIM allows before it wants the PUK
inline constexpr std::string_view kSimStateFileName = "SIM-Status.txt";

// Decides whether a PIN may be entered, and remembers the outcome across
// runs. The rules, so the SIM never locks:
//   - a PIN the SIM refused is not entered again until S.toml holds another;
//   - a PIN is never entered when only one attempt is left, as reported by
//     the modem or, when it reports nothing, counted from earlier refusals;
//   - a PIN counts as refused from the moment it is sent until the SIM is
//     seen to accept it, so a run stopped half-way errs on the safe side;
//   - when the state cannot be kept (the file cannot be read or written) and
//     the modem does not report the attempts left, no PIN is entered.
class PinGuard {
 public:
  explicit PinGuard(StateFile& file);

  // Checks and, when the answer is yes, records the entry as refused until
  // `accepted` says otherwise. False with a German reason: do not enter it.
  bool beginEntry(const std::string& pin, std::optional<int> attemptsLeft, std::string& reason);
  void accepted();
  // The SIM did not take the entry up (it was busy, its counter did not
  // drop): what was remembered before the entry holds again.
  void notTaken();
  // The modem took the entry without an error, but the SIM is not READY yet.
  void awaitingReady();
  // The SIM was found unlocked: whoever unlocked it reset its counter; if
  // it was our own entry waiting for READY, that PIN was right.
  void simReady();

  // Attempts left as S.exe counts them (kSimPinAttempts minus refusals it
  // remembers); absent when it cannot trust its memory.
  std::optional<int> countedAttemptsLeft() const;
  bool refusedBefore(const std::string& pin) const;
  bool memoryReliable() const { return reliable_; }

 private:
  std::string hashOf(const std::string& pin) const;
  bool store();

  StateFile& file_;
  SimRecord record_;
  SimRecord beforeEntry_;
  bool reliable_ = true;  // read without trouble (the last write, too)
};

}  // namespace kantiq::sender
