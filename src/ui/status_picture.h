#pragma once

namespace kantiq {

// Which of the status pictures the main window shows. Green ("On") only
// while a signal really arrives and every alarm's SMS went out: a monitor
// that is switched on but deaf, or whose messages wait, is not all well.
enum class StatusPicture { On, Off, Fault, Silent, NoInput, SmsWaiting };

struct StatusFacts {
  bool switchedOff = false;      // monitoring switched off by hand
  bool delivering = false;       // capture delivers frames to the analysis
  bool inputMissing = false;     // the chosen input is not there
  bool inputSilent = false;      // frames arrive, but hold no signal
  bool messagesWaiting = false;  // an alarm's SMS wait in the sender's outbox
};

// The worst that is true wins: off, then no frames (a missing input named
// as such), then silence, then waiting messages.
constexpr StatusPicture chooseStatusPicture(const StatusFacts& f) {
  if (f.switchedOff) return StatusPicture::Off;
  if (!f.delivering) return f.inputMissing ? StatusPicture::NoInput : StatusPicture::Fault;
  if (f.inputSilent) return StatusPicture::Silent;
  return f.messagesWaiting ? StatusPicture::SmsWaiting : StatusPicture::On;
}

}  // namespace kantiq
