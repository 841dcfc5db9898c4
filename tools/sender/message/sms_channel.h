#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace kantiq::sender {

// Why an attempt failed, which decides what happens next.
enum class Failure {
  // This message failed; it may go later or through the other channel.
  MessageRetry,
  // The channel does not work right now (no answer, no network, gateway
  // unreachable or overloaded): the other channel takes the following
  // messages at once, this one is tried again in the next round.
  ChannelDown,
  // The network or the gateway refused this number or text: never retried.
  MessageRejected,
  // The channel cannot work in this run (a SIM that wants a PIN or PUK S.exe
  // will not enter, a configuration the gateway refuses): not tried again in
  // this run; the other channel, if there is one, takes over.
  ChannelUnusable,
};

struct SendOutcome {
  bool sent = false;
  std::string detail;  // German, Windows-1252: the reference on success, the reason otherwise
  Failure failure = Failure::MessageRetry;  // when not sent
  // Not sent as far as we know, but the request went out and its answer did
  // not come: the gateway may have taken it.
  bool mayHaveArrived = false;
};

inline SendOutcome failed(Failure kind, std::string reason) { return {false, std::move(reason), kind}; }

// True for the failures that are never retried.
inline bool isPermanent(Failure f) { return f == Failure::MessageRejected || f == Failure::ChannelUnusable; }

// One way of getting a text to a phone. `send` makes one attempt and never
// throws; the caller decides about retries. Right before the point after
// which the message may have gone out even if no answer comes (a modem given
// the text, a gateway given the request), a channel calls the commit hook,
// so the caller can note that the message is under way.
class SmsChannel {
 public:
  virtual ~SmsChannel() = default;
  virtual SendOutcome send(const std::string& number, const std::string& textCp1252) = 0;

  void setCommitHook(std::function<void()> hook) { commitHook_ = std::move(hook); }

 protected:
  void committing() {
    if (commitHook_) commitHook_();
  }

 private:
  std::function<void()> commitHook_;
};

}  // namespace kantiq::sender
