#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "modem_session.h"
#include "sms_channel.h"

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
  std::vector<std::string> lines;
};

// A GSM modem in text mode behind a serial line. It answers like a real one
// (echo until ATE0, "> " after AT+CMGS, +CMGS: n after Ctrl-Z) and can be
// told to ask for a PIN, refuse a message, or fall silent.
class FakeModemLine : public ByteStream {
 public:
  explicit FakeModemLine(FakeClock& clock) : clock_(clock) {}

  // Behaviour.
  bool openFails = false;
  bool silent = false;            // answers nothing at all
  bool silentAfterText = false;   // takes the text, then says nothing
  bool noPrompt = false;          // AT+CMGS gets no "> "
  std::string pin;                // non-empty: the SIM asks for this PIN
  int cmsErrors = 0;              // this many messages fail with +CMS ERROR: 500
  bool textModeRefused = false;
  bool leftWaitingForText = false;  // a previous sender stopped after AT+CMGS

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
    const size_t n = std::min<size_t>({output_.size(), static_cast<size_t>(capacity), 7});
    std::memcpy(buffer, output_.data(), n);
    output_.erase(0, n);
    return static_cast<int32_t>(n);
  }

 private:
  void answer(const std::string& s) {
    if (!silent) output_ += s;
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
        if (cmsErrors > 0) {
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
    } else if (cmd == "AT+CPIN?") {
      answer(pin.empty() || unlocked_ ? "\r\n+CPIN: READY\r\n\r\nOK\r\n" : "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
    } else if (cmd.rfind("AT+CPIN=\"", 0) == 0) {
      ++pinEntries;
      if (!pin.empty() && cmd == "AT+CPIN=\"" + pin + "\"") {
        unlocked_ = true;
        answer("\r\nOK\r\n");
      } else {
        answer("\r\n+CME ERROR: 16\r\n");
      }
    } else if (cmd == "AT+CMGF=1") {
      answer(textModeRefused ? "\r\nERROR\r\n" : "\r\nOK\r\n");
    } else if (cmd.rfind("AT+CMGS=\"", 0) == 0 && cmd.back() == '"') {
      if (!pin.empty() && !unlocked_) {
        answer("\r\n+CMS ERROR: 311\r\n");
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
  bool inText_ = false;
  std::string number_;
  std::string input_;
  std::string output_;
};

}  // namespace kantiq::sender::testing
