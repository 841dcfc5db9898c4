#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sender/message/outbox.h"
#include "sender/message/sms_channel.h"
#include "sender/modem/modem_session.h"
#include "sender/sim/pin_guard.h"

namespace kantiq::sender::testing {

// Time passes only when the code under test sleeps or waits for bytes.
class FakeClock : public SenderClock {
 public:
  int64_t nowMs() override { return now; }
  void sleepMs(int64_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  int64_t now = 1'000'000;
  std::vector<int64_t> sleeps;
};

class RecordingLog : public SendLog {
 public:
  void write(std::string_view line) override { lines.emplace_back(line); }
  std::string all() const {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
  }
  bool has(std::string_view part) const { return all().find(part) != std::string::npos; }
  std::vector<std::string> lines;
};

// The SIM state file, kept in memory; it can be made unreadable or
// read-only.
class MemoryStateFile : public StateFile {
 public:
  bool load(std::string& out) override {
    out = text;
    return !unreadable;
  }
  bool save(std::string_view t) override {
    if (readOnly) return false;
    text = std::string(t);
    ++saves;
    return true;
  }
  std::string text;
  bool unreadable = false;
  bool readOnly = false;
  int saves = 0;
};

// The outbox folder in memory; runs named in `alive` count as running.
class MemoryOutboxFolder : public OutboxFolder {
 public:
  bool prepare(std::string& reason) override {
    if (broken) reason = "Zugriff verweigert";
    return !broken;
  }
  std::vector<std::string> names() override {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : files) out.push_back(name);
    return out;
  }
  bool read(const std::string& name, std::string& bytes) override {
    const auto it = files.find(name);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
  bool write(const std::string& name, std::string_view bytes) override {
    if (readOnly) return false;
    files[name] = std::string(bytes);
    ++writes;
    return true;
  }
  bool remove(const std::string& name) override { return files.erase(name) == 1; }
  bool rename(const std::string& from, const std::string& to) override {
    const auto it = files.find(from);
    if (it == files.end() || files.count(to) != 0) return false;
    files[to] = it->second;
    files.erase(from);
    return true;
  }
  bool runAlive(std::string_view runId) override { return alive.count(std::string(runId)) != 0; }

  std::map<std::string, std::string> files;
  std::set<std::string> alive;
  bool broken = false;
  bool readOnly = false;
  int writes = 0;
};

// A GSM modem in text mode behind a serial line. It answers like a real one
// (echo until ATE0, "> " after AT+CMGS, +CMGS: n after Ctrl-Z) and can be
// told to ask for a PIN, count wrong PINs down to a locked SIM, refuse a
// message or a number, fall silent, or mix unsolicited lines into its
// answers.
class FakeModemLine : public ByteStream {
 public:
  explicit FakeModemLine(FakeClock& clock) : clock_(clock) {}

  // Behaviour.
  bool openFails = false;
  bool silent = false;            // answers nothing at all
  bool silentAfterText = false;   // takes the text, then says nothing
  bool noPrompt = false;          // AT+CMGS gets no "> "
  std::string pin;                // non-empty: the SIM asks for this PIN
  int pinAttempts = 3;            // the SIM's counter; at 0 it wants the PUK
  std::string attemptQuery;       // the one counter query it knows ("AT+CPINR=\"SIM PIN\"", "AT^SPIC", ...)
  int cmsErrors = 0;              // this many messages fail with +CMS ERROR: 500
  std::map<std::string, int> refusedNumbers;  // number -> the +CMS ERROR code it gets
  bool textModeRefused = false;
  bool extrasRefused = false;     // ERROR to AT+CMEE and AT+CSCS
  bool leftWaitingForText = false;  // a previous sender stopped after AT+CMGS
  std::string unsolicited;        // sent before every answer, e.g. "\r\nRING\r\n"
  size_t chunkBytes = 7;          // most bytes one read hands out
  std::string registration = "0,1";
  std::string signal = "17,99";
  int busyEntries = 0;            // PIN entries after power-up answered "+CME ERROR: 14" (SIM busy)
  int64_t readyAfterMs = 0;       // the SIM reports READY this long after the right PIN
  bool bareErrors = false;        // a wrong PIN gets a bare ERROR (no numbered codes)
  // The modem loses power: the SIM asks for its PIN again and is busy at first.
  void powerCycle(int busy) {
    unlocked_ = false;
    busyEntries = busy;
  }

  // What arrived.
  struct Sms {
    std::string number;
    std::string text;
  };
  std::vector<std::string> commands;
  std::vector<Sms> delivered;
  int opens = 0;
  int pinEntries = 0;
  std::string raw;

  bool open(std::string& reason) override {
    if (openFails) {
      reason = "Der Anschluss COM5 lässt sich nicht öffnen.";
      return false;
    }
    ++opens;
    isOpen_ = true;
    if (leftWaitingForText && opens == 1) inText_ = true;
    return true;
  }
  void close() override {
    isOpen_ = false;
    input_.clear();
    output_.clear();
    inText_ = false;
  }
  bool write(std::string_view bytes) override {
    if (!isOpen_) return false;
    raw += bytes;
    for (char c : bytes) take(c);
    return true;
  }
  int32_t read(char* buffer, int32_t capacity, int32_t timeoutMs) override {
    if (!isOpen_) return -1;
    if (output_.empty()) {
      clock_.now += timeoutMs;
      return 0;
    }
    // Hand out a few bytes at a time, as a serial line does.
    const size_t n = std::min<size_t>({output_.size(), static_cast<size_t>(capacity), chunkBytes});
    std::memcpy(buffer, output_.data(), n);
    output_.erase(0, n);
    return static_cast<int32_t>(n);
  }
  bool locked() const { return pinAttempts <= 0; }

 private:
  void answer(const std::string& s) {
    if (!silent) output_ += unsolicited + s;
  }
  std::string pinState() const {
    if (pin.empty() || unlocked_) return clock_.now >= readyAtMs_ ? "READY" : "BUSY";
    return locked() ? "SIM PUK" : "SIM PIN";
  }
  void take(char c) {
    if (inText_) {
      if (c == kEscape) {
        inText_ = false;
        input_.clear();
        answer("\r\nOK\r\n");
      } else if (c == kCtrlZ) {
        inText_ = false;
        if (echo_) answer(input_);
        if (silentAfterText) {
          input_.clear();
          return;
        }
        if (refusedNumbers.count(number_) != 0) {
          answer("\r\n+CMS ERROR: " + std::to_string(refusedNumbers[number_]) + "\r\n");
        } else if (cmsErrors > 0) {
          --cmsErrors;
          answer("\r\n+CMS ERROR: 500\r\n");
        } else {
          delivered.push_back({number_, input_});
          answer("\r\n+CMGS: " + std::to_string(delivered.size()) + "\r\n\r\nOK\r\n");
        }
        input_.clear();
      } else {
        input_ += c;
      }
      return;
    }
    if (c == kEscape) return;
    if (c != '\r') {
      input_ += c;
      return;
    }
    const std::string cmd = input_;
    input_.clear();
    commands.push_back(cmd);
    if (echo_) answer(cmd + "\r");
    if (cmd == "AT") {
      answer("\r\nOK\r\n");
    } else if (cmd == "ATE0") {
      echo_ = false;
      answer("\r\nOK\r\n");
    } else if (cmd == "AT+CMEE=1" || cmd == "AT+CSCS=\"GSM\"") {
      answer(extrasRefused ? "\r\nERROR\r\n" : "\r\nOK\r\n");
    } else if (cmd == "AT+CPIN?") {
      if (pinState() == "BUSY")
        answer("\r\n+CME ERROR: 14\r\n");
      else
        answer("\r\n+CPIN: " + pinState() + "\r\n\r\nOK\r\n");
    } else if (!attemptQuery.empty() && cmd == attemptQuery) {
      if (cmd == "AT+CPINR=\"SIM PIN\"")
        answer("\r\n+CPINR: SIM PIN," + std::to_string(pinAttempts) + ",3\r\n\r\nOK\r\n");
      else if (cmd == "AT^SPIC")
        answer("\r\n^SPIC: " + std::to_string(pinAttempts) + "\r\n\r\nOK\r\n");
      else if (cmd == "AT+QPINC=\"SC\"")
        answer("\r\n+QPINC: \"SC\"," + std::to_string(pinAttempts) + ",10\r\n\r\nOK\r\n");
    } else if (cmd.rfind("AT+CPIN=\"", 0) == 0) {
      ++pinEntries;
      if (locked()) {
        answer("\r\n+CME ERROR: 12\r\n");
      } else if (busyEntries > 0) {
        --busyEntries;
        answer("\r\n+CME ERROR: 14\r\n");
      } else if (!pin.empty() && cmd == "AT+CPIN=\"" + pin + "\"") {
        unlocked_ = true;
        readyAtMs_ = clock_.now + readyAfterMs;
        pinAttempts = 3;
        answer("\r\nOK\r\n");
      } else {
        --pinAttempts;
        answer(bareErrors ? "\r\nERROR\r\n" : "\r\n+CME ERROR: 16\r\n");
      }
    } else if (cmd == "AT+CMGF=1") {
      answer(textModeRefused ? "\r\nERROR\r\n" : "\r\nOK\r\n");
    } else if (cmd == "AT+CREG?") {
      answer("\r\n+CREG: " + registration + "\r\n\r\nOK\r\n");
    } else if (cmd == "AT+CSQ") {
      answer("\r\n+CSQ: " + signal + "\r\n\r\nOK\r\n");
    } else if (cmd == "AT+COPS?") {
      answer("\r\n+COPS: 0,0,\"Testnetz\",7\r\n\r\nOK\r\n");
    } else if (cmd.rfind("AT+CMGS=\"", 0) == 0 && cmd.back() == '"') {
      if (pinState() != "READY") {
        answer(pinState() == "BUSY" ? "\r\n+CMS ERROR: 314\r\n" : "\r\n+CMS ERROR: 311\r\n");
        return;
      }
      number_ = cmd.substr(9, cmd.size() - 10);
      if (!noPrompt) {
        inText_ = true;
        answer("\r\n> ");
      }
    } else {
      answer("\r\nERROR\r\n");
    }
  }

  FakeClock& clock_;
  bool isOpen_ = false;
  bool echo_ = true;
  bool unlocked_ = false;
  int64_t readyAtMs_ = 0;
  bool inText_ = false;
  std::string number_;
  std::string input_;
  std::string output_;
};

}  // namespace kantiq::sender::testing
