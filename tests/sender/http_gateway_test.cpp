#include "sender/http/http_gateway.h"

#include <gtest/gtest.h>

#include "sender/delivery/check_report.h"

namespace kantiq::sender {
namespace {

TEST(GatewayUrl, ParsesHostPortAndPath) {
  ParsedUrl u;
  ASSERT_TRUE(parseUrl("https://sms.example.net:8443/api/send?x=1", u));
  EXPECT_TRUE(u.secure);
  EXPECT_EQ(u.host, "sms.example.net");
  EXPECT_EQ(u.port, 8443);
  EXPECT_EQ(u.pathAndQuery, "/api/send?x=1");
  ASSERT_TRUE(parseUrl("http://127.0.0.1", u));
  EXPECT_EQ(u.port, 80);
  EXPECT_EQ(u.pathAndQuery, "/");
  ASSERT_TRUE(parseUrl("http://h?to={nummer}", u));
  EXPECT_EQ(u.pathAndQuery, "/?to={nummer}");
  for (const char* bad : {"ftp://h/", "http://", "http://:80/", "http://h:0/", "http://h:70000/",
                          "http://user@h/", "http://h/a b", "http://h:8x/"}) {
    EXPECT_FALSE(parseUrl(bad, u)) << bad;
  }
}

HttpSettings gateway(BodyFormat format, std::string body) {
  HttpSettings s;
  s.url = "http://127.0.0.1:8080/send?an={nummer}";
  s.format = format;
  s.bodyTemplate = std::move(body);
  s.headers = {{"X-Api-Key", "geheim"}};
  return s;
}

TEST(GatewayRequest, PlaceholdersAreEscapedForWhereTheyStand) {
  const std::string utf8 = "Brand \"S\xC3\xBC" "d\" & Co {nummer} 100%";

  const HttpRequest form = buildGatewayRequest(gateway(BodyFormat::Form, "to={nummer}&msg={text}"),
                                               "+491701111111", utf8);
  EXPECT_EQ(form.method, "POST");
  EXPECT_EQ(form.target.host, "127.0.0.1");
  EXPECT_EQ(form.target.port, 8080);
  EXPECT_EQ(form.target.pathAndQuery, "/send?an=%2B491701111111");
  EXPECT_EQ(form.body, "to=%2B491701111111&msg=Brand%20%22S%C3%BCd%22%20%26%20Co%20%7Bnummer%7D%20100%25");
  EXPECT_EQ(form.headers.back(), (std::pair<std::string, std::string>{"Content-Type", "application/x-www-form-urlencoded"}));

  const HttpRequest json = buildGatewayRequest(gateway(BodyFormat::Json, R"({"to":"{nummer}","text":"{text}"})"),
                                               "+491701111111", utf8 + "\\\n");
  EXPECT_EQ(json.body, "{\"to\":\"+491701111111\",\"text\":\"Brand \\\"S\xC3\xBC" "d\\\" & Co {nummer} 100%\\\\\\n\"}");
  EXPECT_EQ(json.headers.size(), 2u);
  EXPECT_EQ(json.headers[0].first, "X-Api-Key");

  HttpSettings typed = gateway(BodyFormat::Text, "{text}");
  typed.headers.emplace_back("content-type", "text/x-sms");
  const HttpRequest plain = buildGatewayRequest(typed, "112", "a&b");
  EXPECT_EQ(plain.body, "a&b");
  EXPECT_EQ(plain.headers.size(), 2u) << "a configured content type is kept, not doubled";
}

TEST(GatewayResponse, StatusAndPatternDecide) {
  HttpSettings s;
  HttpResponse r;
  r.completed = true;
  r.status = 200;
  r.body = "{\"status\":\"queued\"}";
  EXPECT_TRUE(judgeGatewayResponse(s, r).sent);
  r.status = 204;
  EXPECT_TRUE(judgeGatewayResponse(s, r).sent);

  r.status = 500;
  r.body = "Internal\r\nError";
  const SendOutcome failed = judgeGatewayResponse(s, r);
  EXPECT_FALSE(failed.sent);
  EXPECT_EQ(failed.detail, "HTTP 500 (Internal  Error)");

  s.successStatuses = {202};
  r.status = 200;
  EXPECT_FALSE(judgeGatewayResponse(s, r).sent) << "only the listed statuses count";
  r.status = 202;
  r.body = "{\"status\":\"rejected\"}";
  s.successPattern = "\"queued\"";
  const SendOutcome noPattern = judgeGatewayResponse(s, r);
  EXPECT_FALSE(noPattern.sent);
  EXPECT_NE(noPattern.detail.find("enthält nicht"), std::string::npos) << noPattern.detail;
  r.body = "{\"status\":\"queued\"}";
  EXPECT_TRUE(judgeGatewayResponse(s, r).sent);

  HttpResponse none;
  none.transportError = "Keine Verbindung zu 127.0.0.1.";
  EXPECT_EQ(judgeGatewayResponse(s, none).detail, "Keine Verbindung zu 127.0.0.1.");
}

TEST(GatewayResponse, FailuresAreClassified) {
  struct Case {
    int32_t status;
    Failure failure;
  };
  const Case cases[] = {
      {500, Failure::ChannelDown},     {503, Failure::ChannelDown},     {408, Failure::ChannelDown},
      {429, Failure::ChannelDown},     {400, Failure::MessageRejected}, {422, Failure::MessageRejected},
      {401, Failure::ChannelUnusable}, {403, Failure::ChannelUnusable}, {404, Failure::ChannelUnusable},
      {302, Failure::ChannelUnusable}, {201, Failure::MessageRejected},  // not listed as success
  };
  HttpSettings s;
  s.successStatuses = {200};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    HttpResponse r;
    r.completed = true;
    r.status = c.status;
    const SendOutcome out = judgeGatewayResponse(s, r);
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.failure, c.failure);
  }
  HttpResponse cut;
  cut.transportFailure = classifyWinHttpError(12175);
  EXPECT_EQ(judgeGatewayResponse(s, cut).failure, Failure::ChannelUnusable) << "a certificate will not mend itself";
  EXPECT_EQ(classifyWinHttpError(12029), Failure::ChannelDown);
  EXPECT_EQ(classifyWinHttpError(4711), Failure::ChannelDown);
  EXPECT_EQ(describeWinHttpError(12007),
            "der Name des Servers lässt sich nicht auflösen (DNS, keine Internetverbindung?) (WinHTTP-Fehler 12007)");
  EXPECT_EQ(describeWinHttpError(4711), "Fehler 4711");
}

class RecordingClient : public HttpClient {
 public:
  HttpResponse perform(const HttpRequest& request, int32_t timeoutMs) override {
    requests.push_back(request);
    timeouts.push_back(timeoutMs);
    HttpResponse r;
    r.completed = true;
    r.status = 200;
    return r;
  }
  std::vector<HttpRequest> requests;
  std::vector<int32_t> timeouts;
};

TEST(GatewayChannel, SendsUtf8OrGsmSafeTextAsConfigured) {
  RecordingClient client;
  HttpSettings s = gateway(BodyFormat::Form, "{text}");
  s.timeoutMs = 7000;
  HttpGatewayChannel channel(client, s);
  EXPECT_TRUE(channel.send("+491701111111", "Gefahr € ü").sent);
  s.gsmSafeText = true;
  EXPECT_TRUE(channel.send("+491701111111", "Gefahr € ü").sent);
  ASSERT_EQ(client.requests.size(), 2u);
  EXPECT_EQ(client.requests[0].body, "Gefahr%20%E2%82%AC%20%C3%BC");
  EXPECT_EQ(client.requests[1].body, "Gefahr%20EUR%20ue");
  EXPECT_EQ(client.timeouts[0], 7000);
}

// Whatever an outbox file or a caller hands over, only a plain number goes
// into a modem command or a gateway request.
TEST(NumberCheck, OnlyPlainNumbersReachTheModemOrTheGateway) {
  const char* bad[] = {"0170\";ATD", "+49 170 1111111", "+", "12", "0170+1", "012345678901234567890123", ""};
  RecordingClient client;
  const HttpSettings s = gateway(BodyFormat::Form, "{text}");
  HttpGatewayChannel channel(client, s);
  for (const char* number : bad) {
    SCOPED_TRACE(number);
    const SendOutcome out = channel.send(number, "Text");
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.failure, Failure::MessageRejected);
    EXPECT_TRUE(isPlainPhoneNumber("+491701111111") && isPlainPhoneNumber("01701111111"));
    EXPECT_FALSE(isPlainPhoneNumber(number));
  }
  EXPECT_TRUE(client.requests.empty());
}

// The check names what it saw; a server that merely answers proves nothing
// about sending, and the verdict does not pretend otherwise.
TEST(GatewayCheck, NamesFaultsAndDoesNotCallAnAnswerProof) {
  struct Case {
    int32_t status;      // 0: no answer, `problem` says why
    const char* problem;
    bool fault;
    const char* words;   // in the gateway's lines
  };
  const Case cases[] = {
      {401, "", true, "Der Server lehnt den Zugang ab (HTTP 401): Zugangsdaten oder API-Schlüssel"},
      {403, "", true, "Der Server lehnt den Zugang ab (HTTP 403): Zugangsdaten oder API-Schlüssel"},
      {407, "", true, "Der Proxy verlangt eine Anmeldung (HTTP 407)"},
      {503, "", true, "Das Gateway meldet eine Störung (HTTP 503)"},
      {405, "", false, "HTTP 405 beweist weder, dass das Gateway SMS annimmt, noch das Gegenteil"},
      {404, "", false, "HTTP 404 beweist weder, dass das Gateway SMS annimmt, noch das Gegenteil"},
      {200, "", false, "ob es SMS annimmt, zeigt erst eine Test-SMS"},
      {0, "Keine Verbindung zu sms.example.net:443: die verschlüsselte Verbindung (TLS) kam nicht zustande", true,
       "die verschlüsselte Verbindung (TLS) kam nicht zustande"},
  };
  SenderConfig config;
  config.channel = ChannelKind::Http;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    GatewayProbe probe;
    probe.host = "sms.example.net";
    probe.port = 443;
    probe.secure = true;
    probe.resolved = true;
    probe.answered = c.status != 0;
    probe.status = c.status;
    probe.problem = c.problem;
    const CheckReport report = buildCheckReport(config, "S.toml", nullptr, &probe);
    std::string all;
    for (const std::string& l : report.lines) all += l + "\n";
    EXPECT_NE(all.find(c.words), std::string::npos) << all;
    EXPECT_EQ(report.canSend, !c.fault) << all;
    EXPECT_EQ(all.find("kann eine SMS gesendet werden"), std::string::npos) << all;
    EXPECT_EQ(report.summary.find("kann gesendet werden"), std::string::npos) << report.summary;
  }
}

// The check says who gets notices, or how to make someone get them, and
// that a longest wait beyond 15 seconds counts as 15.
TEST(GatewayCheck, SaysWhoGetsNoticesAndHowLongItWaits) {
  struct Case {
    bool noticeGroup;
    int32_t longestWaitS;
    std::vector<const char*> lines;  // each somewhere in the report
  };
  const Case cases[] = {
      {false, 15,
       {"Hinweise: Keine Gruppe bekommt Hinweise, also erfährt niemand per SMS von Störungen am Alarm-PC. "
        "Dafür bei einer Gruppe (z. B. dem Gerätewart) \"hinweise = true\" eintragen.\n"}},
      {true, 120,
       {"  \"Gerätewart\": keine Alarmierungen, Hinweise; 2 Nummern\n",
        "  \"Führung\": alle Alarmierungen, Hinweise; 1 Nummer\n",
        "Hinweise an: \"Führung\", \"Gerätewart\" (2 Nummern)\n",
        "Hinweis: \"laengste_wartezeit_s\" = 120 zählt als 15 Sekunden; länger wartet S.exe zwischen zwei Runden "
        "nie.\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.noticeGroup);
    SenderConfig config;
    config.channel = ChannelKind::Http;
    config.retry.maxDelayMs = c.longestWaitS * 1000;
    config.groups.push_back({"Führung", true, {}, {"+491701111111"}, c.noticeGroup});
    if (c.noticeGroup) config.groups.push_back({"Gerätewart", false, {}, {"+491709999999", "+491701111111"}, true});
    GatewayProbe probe;
    probe.answered = true;
    probe.status = 200;
    const CheckReport report = buildCheckReport(config, "S.toml", nullptr, &probe);
    std::string all;
    for (const std::string& l : report.lines) all += l + "\n";
    for (const char* line : c.lines) EXPECT_NE(all.find(line), std::string::npos) << all;
    EXPECT_EQ(all.find("zählt als") == std::string::npos, c.longestWaitS <= 15) << all;
  }
}

}  // namespace
}  // namespace kantiq::sender
