#include "sender/delivery/delivery.h"

#include <cstdio>

#include "sender/text/sms_text.h"

namespace kantiq::sender {

std::string routeName(const SenderConfig& config, ChannelKind kind) {
  return kind == ChannelKind::Modem ? "Modem an " + config.modem.port : std::string("HTTP-Gateway");
}

std::vector<std::string> partsFor(ChannelKind kind, const OutboxEntry& entry) {
  if (kind == ChannelKind::Modem || entry.partsSent > 0) return splitIntoSmsParts(toGsmSafeText(entry.text));
  return {entry.text};  // gateways join long texts themselves
}

std::string formatStamp(int year, int month, int day, int hour, int minute, int second) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%04d %02d:%02d:%02d", day % 100, month % 100, year % 10000,
                hour % 100, minute % 100, second % 100);
  return stamp;
}

std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text) {
  std::string line = formatStamp(year, month, day, hour, minute, second) + ": ";
  for (char ch : text) line += static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
  line += "\r\n";
  return line;
}

std::string cappedWaitNote(const RetrySettings& retry) {
  if (retry.maxDelayMs <= kMaxRetryWaitMs) return {};
  return "Hinweis: \"laengste_wartezeit_s\" = " + std::to_string(retry.maxDelayMs / 1000) +
         " zählt als " + std::to_string(kMaxRetryWaitMs / 1000) +
         " Sekunden; länger wartet S.exe zwischen zwei Runden nie.";
}

}  // namespace kantiq::sender
