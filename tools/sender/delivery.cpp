#include "delivery.h"

#include <algorithm>
#include <cstdio>

#include "sms_text.h"

namespace kantiq::sender {
namespace {

constexpr std::string_view kEmptyAlarmText = "Alarmierung (ohne Text)";

std::string attempts(int n) { return n == 1 ? "1 Versuch" : std::to_string(n) + " Versuchen"; }

std::vector<OutgoingMessage> shape(const std::vector<std::string>& numbers, std::string_view text,
                                   ChannelKind channel) {
  std::vector<std::string> parts;
  if (channel == ChannelKind::Modem)
    parts = splitIntoSmsParts(toGsmSafeText(text));
  else
    parts.emplace_back(text);  // gateways join long texts themselves
  std::vector<OutgoingMessage> out;
  for (const std::string& number : numbers) {
    for (size_t k = 0; k < parts.size(); ++k) {
      std::string label = number;
      if (parts.size() > 1)
        label += " (Teil " + std::to_string(k + 1) + "/" + std::to_string(parts.size()) + ")";
      out.push_back({number, parts[k], label});
    }
  }
  return out;
}

std::string channelName(const SenderConfig& config) {
  return config.channel == ChannelKind::Modem ? "Modem an " + config.modem.port : std::string("HTTP-Gateway");
}

}  // namespace

DeliveryReport deliverMessages(const std::vector<OutgoingMessage>& messages, SmsChannel& channel,
                               const RetrySettings& retry, SenderClock& clock, SendLog& log,
                               int64_t deadlineMs) {
  const size_t n = messages.size();
  std::vector<int> tries(n, 0);
  std::vector<bool> sent(n, false);
  std::vector<std::string> lastReason(n);
  bool outOfTime = false;
  int64_t delayMs = retry.firstDelayMs;

  for (int round = 1; round <= retry.maxAttempts && !outOfTime; ++round) {
    for (size_t i = 0; i < n; ++i) {
      if (sent[i]) continue;
      if (clock.nowMs() >= deadlineMs) {
        outOfTime = true;
        break;
      }
      ++tries[i];
      const SendOutcome outcome = channel.send(messages[i].number, messages[i].text);
      if (outcome.sent) {
        sent[i] = true;
        log.write("gesendet an " + messages[i].label + " (Versuch " + std::to_string(tries[i]) + "): " +
                  outcome.detail);
      } else {
        lastReason[i] = outcome.detail;
        log.write("Versuch " + std::to_string(tries[i]) + " an " + messages[i].label +
                  " fehlgeschlagen: " + outcome.detail);
      }
    }
    const bool allSent = std::all_of(sent.begin(), sent.end(), [](bool b) { return b; });
    if (allSent || outOfTime || round == retry.maxAttempts) break;
    const int64_t left = deadlineMs - clock.nowMs();
    if (left <= delayMs) {
      // No time for another round after this wait.
      outOfTime = true;
      break;
    }
    clock.sleepMs(delayMs);
    delayMs = std::min<int64_t>(delayMs * 2, retry.maxDelayMs);
  }

  DeliveryReport report;
  for (size_t i = 0; i < n; ++i) {
    if (sent[i]) {
      ++report.sent;
      continue;
    }
    ++report.failed;
    if (tries[i] == 0) {
      log.write("FEHLGESCHLAGEN an " + messages[i].label +
                ": das Zeitlimit war erreicht, bevor ein Versuch möglich war");
    } else {
      std::string line = "FEHLGESCHLAGEN an " + messages[i].label + " nach " + attempts(tries[i]) + ": " +
                         lastReason[i];
      if (tries[i] < retry.maxAttempts) line += " (Zeitlimit erreicht)";
      log.write(line);
    }
  }
  return report;
}

int runSendRequest(const SendRequest& request, const SenderConfig& config, SmsChannel& channel,
                   SenderClock& clock, SendLog& log, int64_t deadlineMs) {
  std::vector<std::string> numbers;
  std::string text;
  if (request.kind == SendRequest::Kind::Test) {
    std::string number;
    if (!normalisePhoneNumber(request.number, number)) {
      log.write("Test-SMS nicht gesendet: \"" + toGsmSafeText(request.number) +
                "\" ist keine gültige Mobilfunknummer.");
      return kExitBadCommandLine;
    }
    log.write("Test-SMS an " + number + " über " + channelName(config));
    numbers.push_back(number);
    text = config.testText;
  } else {
    text = request.text.empty() ? std::string(kEmptyAlarmText) : request.text;
    const std::vector<Recipient> recipients = selectRecipients(config, request.text);
    if (recipients.empty()) {
      log.write("Alarmierung \"" + text + "\": keine Empfängergruppe passt, es wird nichts gesendet.");
      return kExitNoRecipients;
    }
    std::string groups;
    for (const Recipient& r : recipients)
      if (groups.find("\"" + r.group + "\"") == std::string::npos)
        groups += (groups.empty() ? "" : ", ") + ("\"" + r.group + "\"");
    log.write("Alarmierung \"" + text + "\" an " + std::to_string(recipients.size()) + " Empfänger (" + groups +
              ") über " + channelName(config));
    for (const Recipient& r : recipients) numbers.push_back(r.number);
  }

  const std::vector<OutgoingMessage> messages = shape(numbers, text, config.channel);
  const DeliveryReport report = deliverMessages(messages, channel, config.retry, clock, log, deadlineMs);
  if (report.failed == 0) {
    log.write("Ende: " + std::string(report.sent == 1 ? "die Nachricht wurde" : "alle " + std::to_string(report.sent) +
                                                                               " Nachrichten wurden") +
              " gesendet.");
    return kExitAllSent;
  }
  log.write("Ende: " + std::to_string(report.sent) + " von " + std::to_string(messages.size()) +
            " Nachrichten gesendet, " + std::to_string(report.failed) + " fehlgeschlagen.");
  return kExitSomeFailed;
}

}  // namespace kantiq::sender

namespace kantiq::sender {

std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%04d %02d:%02d:%02d: ", day % 100, month % 100, year % 10000,
                hour % 100, minute % 100, second % 100);
  std::string line = stamp;
  for (char ch : text) line += static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
  line += "\r\n";
  return line;
}

}  // namespace kantiq::sender
