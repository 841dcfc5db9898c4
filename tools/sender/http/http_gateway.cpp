#include "sender/http/http_gateway.h"

#include <algorithm>
#include <cstdio>

#include "common/json_text.h"
#include "sender/text/sms_text.h"

namespace kantiq::sender {
namespace {

constexpr std::string_view kNumberPlaceholder = "{nummer}";
constexpr std::string_view kTextPlaceholder = "{text}";
constexpr size_t kReasonBodyChars = 80;

std::string percentEncode(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Replaces the placeholders in one pass, so a text containing "{nummer}" is
// not itself expanded.
std::string fillTemplate(std::string_view tmpl, std::string_view number, std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < tmpl.size()) {
    if (tmpl.substr(i, kNumberPlaceholder.size()) == kNumberPlaceholder) {
      out += number;
      i += kNumberPlaceholder.size();
    } else if (tmpl.substr(i, kTextPlaceholder.size()) == kTextPlaceholder) {
      out += text;
      i += kTextPlaceholder.size();
    } else {
      out += tmpl[i++];
    }
  }
  return out;
}

// A short, printable excerpt of an answer for the send log.
std::string excerpt(std::string_view body) {
  std::string out;
  for (char ch : body.substr(0, kReasonBodyChars)) {
    const auto c = static_cast<unsigned char>(ch);
    out += (c < 0x20 || c >= 0x7F) ? ' ' : ch;
  }
  if (body.size() > kReasonBodyChars) out += "...";
  return out;
}

}  // namespace

HttpRequest buildGatewayRequest(const HttpSettings& settings, std::string_view number,
                                std::string_view textUtf8) {
  HttpRequest request;
  request.method = settings.method;
  const std::string url =
      fillTemplate(settings.url, percentEncode(number), percentEncode(textUtf8));
  parseUrl(url, request.target);  // checked with the placeholders in place; encoding keeps it valid
  request.headers = settings.headers;
  const auto hasHeader = [&](std::string_view name) {
    return std::any_of(request.headers.begin(), request.headers.end(), [&](const auto& h) {
      return std::equal(h.first.begin(), h.first.end(), name.begin(), name.end(),
                        [](char a, char b) { return (a | 0x20) == (b | 0x20); });
    });
  };
  switch (settings.format) {
    case BodyFormat::None:
      break;
    case BodyFormat::Form:
      request.body = fillTemplate(settings.bodyTemplate, percentEncode(number), percentEncode(textUtf8));
      if (!hasHeader("Content-Type"))
        request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
      break;
    case BodyFormat::Json:
      request.body = fillTemplate(settings.bodyTemplate, tool::jsonEscape(number), tool::jsonEscape(textUtf8));
      if (!hasHeader("Content-Type")) request.headers.emplace_back("Content-Type", "application/json");
      break;
    case BodyFormat::Text:
      request.body = fillTemplate(settings.bodyTemplate, number, textUtf8);
      if (!hasHeader("Content-Type"))
        request.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
      break;
  }
  return request;
}

namespace {

struct WinHttpError {
  uint32_t code;
  const char* words;
  Failure failure;
};

constexpr WinHttpError kWinHttpErrors[] = {
    {12002, "Zeitüberschreitung", Failure::ChannelDown},
    {12004, "interner Fehler von WinHTTP", Failure::ChannelDown},
    {12005, "die Adresse ist ungültig", Failure::ChannelUnusable},
    {12006, "die Adresse beginnt nicht mit http:// oder https://", Failure::ChannelUnusable},
    {12007, "der Name des Servers lässt sich nicht auflösen (DNS, keine Internetverbindung?)", Failure::ChannelDown},
    {12017, "der Vorgang wurde abgebrochen", Failure::ChannelDown},
    {12029, "der Server nimmt keine Verbindung an oder ist nicht erreichbar", Failure::ChannelDown},
    {12030, "die Verbindung wurde unterbrochen", Failure::ChannelDown},
    {12031, "die Verbindung wurde vom Server zurückgesetzt", Failure::ChannelDown},
    {12037, "das Zertifikat des Servers ist abgelaufen oder noch nicht gültig", Failure::ChannelUnusable},
    {12038, "das Zertifikat gehört nicht zu diesem Servernamen", Failure::ChannelUnusable},
    {12044, "der Server verlangt ein Client-Zertifikat", Failure::ChannelUnusable},
    {12045, "das Zertifikat des Servers stammt von einer unbekannten Stelle", Failure::ChannelUnusable},
    {12057, "der Widerruf des Zertifikats ließ sich nicht prüfen", Failure::ChannelDown},
    {12150, "eine Kopfzeile der Antwort fehlt", Failure::ChannelDown},
    {12152, "der Server hat ungültig geantwortet", Failure::ChannelDown},
    {12156, "zu viele Weiterleitungen", Failure::ChannelUnusable},
    {12157, "die verschlüsselte Verbindung (TLS) kam nicht zustande; fehlt TLS 1.2 unter Windows?",
     Failure::ChannelUnusable},
    {12166, "das Proxy-Skript ist fehlerhaft", Failure::ChannelDown},
    {12167, "das Proxy-Skript lässt sich nicht laden", Failure::ChannelDown},
    {12169, "das Zertifikat des Servers ist ungültig", Failure::ChannelUnusable},
    {12170, "das Zertifikat des Servers wurde widerrufen", Failure::ChannelUnusable},
    {12175, "Sicherheitsfehler der verschlüsselten Verbindung (Zertifikat oder TLS-Version)", Failure::ChannelUnusable},
    {12178, "kein Proxy-Skript gefunden", Failure::ChannelDown},
    {12180, "die automatische Proxy-Erkennung ist fehlgeschlagen", Failure::ChannelDown},
};

}  // namespace

std::string describeWinHttpError(uint32_t code) {
  for (const WinHttpError& e : kWinHttpErrors)
    if (e.code == code) return std::string(e.words) + " (WinHTTP-Fehler " + std::to_string(code) + ")";
  return "Fehler " + std::to_string(code);
}

Failure classifyWinHttpError(uint32_t code) {
  for (const WinHttpError& e : kWinHttpErrors)
    if (e.code == code) return e.failure;
  return Failure::ChannelDown;
}

SendOutcome judgeGatewayResponse(const HttpSettings& settings, const HttpResponse& response) {
  if (!response.completed) {
    SendOutcome out = failed(response.transportFailure, response.transportError);
    out.mayHaveArrived = response.mayHaveArrived;
    return out;
  }
  const bool statusOk =
      settings.successStatuses.empty()
          ? (response.status >= 200 && response.status <= 299)
          : std::find(settings.successStatuses.begin(), settings.successStatuses.end(), response.status) !=
                settings.successStatuses.end();
  const std::string status = "HTTP " + std::to_string(response.status);
  const int32_t code = response.status;
  if (!statusOk) {
    std::string reason = status;
    if (!response.body.empty()) reason.append(" (").append(excerpt(response.body)).append(")");
    Failure kind = Failure::ChannelDown;
    if (code >= 200 && code <= 299) {
      kind = Failure::MessageRejected;
    } else if (code >= 300 && code <= 399) {
      kind = Failure::ChannelUnusable;
    } else if (code == 401 || code == 403 || code == 404 || code == 405 || code == 407 || code == 410 ||
               code == 415) {
      kind = Failure::ChannelUnusable;
    } else if (code >= 400 && code <= 499 && code != 408 && code != 429) {
      kind = Failure::MessageRejected;
    }
    return failed(kind, reason);
  }
  if (!settings.successPattern.empty() && response.body.find(settings.successPattern) == std::string::npos) {
    std::string pattern;
    if (!utf8ToCp1252(settings.successPattern, pattern)) pattern = "?";
    std::string reason = status;
    reason.append(", aber die Antwort enthält nicht \"").append(excerpt(pattern));
    reason.append("\" (").append(excerpt(response.body)).append(")");
    return failed(Failure::MessageRejected, reason);
  }
  return {true, status, Failure::MessageRetry};
}

SendOutcome HttpGatewayChannel::send(const std::string& number, const std::string& textCp1252) {
  if (!isPlainPhoneNumber(number))
    return failed(Failure::MessageRejected, "\"" + toGsmSafeText(number) + "\" ist keine gültige Mobilfunknummer.");
  const std::string text = settings_.gsmSafeText ? toGsmSafeText(textCp1252) : textCp1252;
  const HttpRequest request = buildGatewayRequest(settings_, number, cp1252ToUtf8(text));
  committing();
  return judgeGatewayResponse(settings_, client_.perform(request, settings_.timeoutMs));
}

}  // namespace kantiq::sender
