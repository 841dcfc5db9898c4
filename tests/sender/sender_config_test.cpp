#include "sender/config/sender_config.h"

#include <gtest/gtest.h>

#include <string>

#include "sender/text/sms_text.h"

namespace kantiq::sender {
namespace testing {
std::string_view exampleSenderConfig();
}
namespace {

// Configuration files are UTF-8; the sources here are compiled to
// Windows-1252, so file texts with umlauts are written with escapes.

const char* const kModemConfig = R"(
kanal = "modem"

[modem]
anschluss = "com5"
pin = "1234"
antwortzeit_s = 5

[wiederholung]
versuche = 3
erste_wartezeit_s = 2
laengste_wartezeit_s = 8
gesamtzeit_min = 10

[[gruppe]]
name = "Wehrführung"
alle_alarme = true
nummern = ["+49 170 1111111", "0171/2222222"]

[[gruppe]]
name = "Löschzug Süd"
stichworte = ["LZ Süd", "Löschzug 2"]
nummern = ["+491703333333", "+49 170 1111111"]
)";

ConfigResult parseUtf8(const std::string& cp1252Text) { return parseSenderConfig(cp1252ToUtf8(cp1252Text)); }

TEST(SenderConfigParse, FullModemConfiguration) {
  const ConfigResult r = parseUtf8(kModemConfig);
  ASSERT_TRUE(r.ok) << r.error;
  const SenderConfig& c = r.config;
  EXPECT_EQ(c.channel, ChannelKind::Modem);
  EXPECT_EQ(c.modem.port, "COM5");
  EXPECT_EQ(c.modem.pin, "1234");
  EXPECT_EQ(c.modem.replyTimeoutMs, 5000);
  EXPECT_EQ(c.modem.sendTimeoutMs, 60000);
  EXPECT_EQ(c.retry.maxAttempts, 3);
  EXPECT_EQ(c.retry.firstDelayMs, 2000);
  EXPECT_EQ(c.retry.maxDelayMs, 8000);
  EXPECT_EQ(c.retry.totalLimitMs, 600000);
  ASSERT_EQ(c.groups.size(), 2u);
  EXPECT_EQ(c.groups[0].name, "Wehrführung");
  EXPECT_EQ(c.groups[0].numbers, (std::vector<std::string>{"+491701111111", "01712222222"}));
  EXPECT_EQ(c.groups[1].keywords, (std::vector<std::string>{"lz süd", "löschzug 2"}));
  EXPECT_EQ(c.testText, kDefaultTestText);
}

TEST(SenderConfigParse, HttpConfigurationWithDefaults) {
  const ConfigResult r = parseSenderConfig(R"(
kanal = "http"
test_text = "Probe"
[http]
url = "https://sms.example.net:8443/api/send"
format = "json"
inhalt = '{"to":"{nummer}","text":"{text}"}'
kopfzeilen = { Authorization = "Bearer abc", X-Api-Key = "k1" }
erfolg_status = [200, 202]
erfolg_text = "queued"
[[gruppe]]
alle_alarme = true
nummern = ["+491701111111"]
)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.config.channel, ChannelKind::Http);
  EXPECT_EQ(r.config.http.method, "POST");
  EXPECT_EQ(r.config.http.format, BodyFormat::Json);
  EXPECT_EQ(r.config.http.headers.size(), 2u);
  EXPECT_EQ(r.config.http.successStatuses, (std::vector<int32_t>{200, 202}));
  EXPECT_EQ(r.config.http.timeoutMs, 30000);
  EXPECT_EQ(r.config.retry.totalLimitMs, 15 * 60000);
  EXPECT_EQ(r.config.groups[0].name, "Gruppe 1");
  EXPECT_EQ(r.config.testText, "Probe");
}

TEST(SenderConfigParse, MistakesGiveGermanMessagesWithTheLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;  // part of the message
  };
  const std::string group = "\n[[gruppe]]\nalle_alarme = true\nnummern = [\"+491701111111\"]\n";
  const std::string modem = "kanal = \"modem\"\n[modem]\nanschluss = \"COM3\"\n";
  const Case cases[] = {
      {"empty file", "", "Es fehlt \"kanal\""},
      {"not toml", "kanal = modem\n", "Zeile 1: Die Datei ist kein gültiges TOML"},
      {"unknown channel", "kanal = \"fax\"" + group, "\"kanal\" muss \"modem\" oder \"http\" sein"},
      {"missing section", "kanal = \"modem\"" + group, "der Abschnitt [modem] fehlt"},
      {"bad port", "kanal = \"modem\"\n[modem]\nanschluss = \"LPT1\"" + group, "Zeile 3: \"anschluss\""},
      {"port zero", "kanal = \"modem\"\n[modem]\nanschluss = \"COM0\"" + group, "\"anschluss\""},
      {"typo", modem + "baudrat = 9600" + group, "Zeile 4: Unbekannter Eintrag \"baudrat\" in [modem]"},
      {"pin letters", modem + "pin = \"12a4\"" + group, "\"pin\" muss aus 4 bis 8 Ziffern"},
      {"pin number", modem + "pin = 1234" + group, "\"pin\" muss ein Text"},
      {"timeout range", modem + "sendezeit_s = 100000" + group, "zwischen 5 und 300"},
      {"no groups", modem, "keine Empfängergruppe"},
      {"bad number", modem + "\n[[gruppe]]\nalle_alarme = true\nnummern = [\"0170-CALL-ME\"]\n",
       "\"0170-CALL-ME\" ist keine gültige Mobilfunknummer"},
      {"no numbers", modem + "\n[[gruppe]]\nname = \"Leer\"\nalle_alarme = true\n", "Gruppe \"Leer\" hat keine"},
      {"never chosen", modem + "\n[[gruppe]]\nnummern = [\"+491701111111\"]\n", "würde nie benachrichtigt"},
      {"no notices either", modem + "\n[[gruppe]]\nhinweise = false\nnummern = [\"+491701111111\"]\n",
       "würde nie benachrichtigt"},
      {"notices not a switch", modem + "\n[[gruppe]]\nhinweise = \"ja\"\nnummern = [\"+491701111111\"]\n",
       "\"hinweise\" muss true oder false sein"},
      {"notices without numbers", modem + "\n[[gruppe]]\nname = \"Wart\"\nhinweise = true\n", "Gruppe \"Wart\" hat keine"},
      {"empty keyword", modem + "\n[[gruppe]]\nstichworte = [\" \"]\nnummern = [\"+491701111111\"]\n",
       "ein Stichwort ist leer"},
      {"retry order", modem + "[wiederholung]\nerste_wartezeit_s = 60\nlaengste_wartezeit_s = 10\n" + group,
       "\"laengste_wartezeit_s\" darf nicht kleiner"},
      {"total too long", modem + "[wiederholung]\ngesamtzeit_min = 300\n" + group, "zwischen 1 und 60"},
      {"bad url", "kanal = \"http\"\n[http]\nurl = \"ftp://x\"" + group, "\"url\" ist keine gültige Adresse"},
      {"body without format", "kanal = \"http\"\n[http]\nurl = \"http://x/\"\ninhalt = \"a\"" + group,
       "aber kein \"format\""},
      {"header injection",
       "kanal = \"http\"\n[http]\nurl = \"http://x/\"\nkopfzeilen = { A = \"x\\r\\nEvil: 1\" }" + group,
       "keinen Zeilenumbruch"},
      {"status range", "kanal = \"http\"\n[http]\nurl = \"http://x/\"\nerfolg_status = [2000]" + group,
       "keinen gültigen HTTP-Status"},
      {"group not array of tables", "gruppe = 5\n" + modem, "[[gruppe]]"},
      {"section not a table", "kanal = \"modem\"\nmodem = 5" + group,
       "Zeile 2: 'modem' muss eine Tabelle sein ([modem]), nicht eine ganze Zahl."},
      {"symbol outside cp1252", "test_text = \"\xE2\x98\x83\"\n" + modem + group, "Windows-Zeichensatz"},
      {"fallback same", "ersatzkanal = \"modem\"\n" + modem + group, "muss der andere Weg sein"},
      {"fallback unknown", "ersatzkanal = \"brieftaube\"\n" + modem + group, "\"ersatzkanal\" muss \"modem\""},
      {"fallback section", "ersatzkanal = \"http\"\n" + modem + group,
       "\"ersatzkanal\" ist \"http\", aber der Abschnitt [http] fehlt"},
      {"proxy", "kanal = \"http\"\n[http]\nurl = \"http://x/\"\nproxy = \"proxy\"" + group, "\"proxy\" muss"},
      {"outbox age", modem + "[postausgang]\nhoechstalter_h = 0\n" + group, "zwischen 1 und 336"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ConfigResult r = parseSenderConfig(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
  }
}

TEST(SenderConfigParse, FallbackChannelOutboxAndProxy) {
  const std::string group = "\n[[gruppe]]\nalle_alarme = true\nnummern = [\"+491701111111\"]\n";
  const std::string both = "kanal = \"http\"\nersatzkanal = \"modem\"\n[modem]\nanschluss = \"COM4\"\n"
                           "[http]\nurl = \"https://sms.example.net/send\"\nproxy = \"http://proxy.local:3128/\"\n"
                           "[postausgang]\nhoechstalter_h = 6\n" + group;
  const ConfigResult r = parseSenderConfig(both);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.config.channel, ChannelKind::Http);
  EXPECT_EQ(r.config.fallback, ChannelKind::Modem);
  EXPECT_EQ(r.config.modem.port, "COM4");
  EXPECT_EQ(r.config.http.proxyMode, HttpSettings::Proxy::Named);
  EXPECT_EQ(r.config.http.proxy, "proxy.local:3128");
  EXPECT_EQ(r.config.outbox.maxAgeHours, 6);

  // A configuration written before these keys existed means what it meant:
  // one channel, the system's proxy, a day in the outbox.
  const ConfigResult old = parseUtf8(kModemConfig);
  ASSERT_TRUE(old.ok) << old.error;
  EXPECT_EQ(old.config.fallback, std::nullopt);
  EXPECT_EQ(old.config.outbox.maxAgeHours, 24);
  EXPECT_EQ(old.config.retry.maxDelayMs, 8000);
  const ConfigResult direct =
      parseSenderConfig("kanal = \"http\"\n[http]\nurl = \"http://x/\"\nproxy = \"direkt\"" + group);
  ASSERT_TRUE(direct.ok) << direct.error;
  EXPECT_EQ(direct.config.http.proxyMode, HttpSettings::Proxy::Direct);
}

TEST(SenderConfigParse, GarbageNeverCrashes) {
  std::string junk;
  for (int i = 0; i < 3000; ++i) junk += static_cast<char>((i * 7919) % 256);
  EXPECT_FALSE(parseSenderConfig(junk).ok);
  for (const char* header : {"[[[", "[.a]", "[[ [x]]", "[=]", "[]", "[\xFF]"}) {
    const ConfigResult r = parseSenderConfig(header);
    EXPECT_FALSE(r.ok) << header;
    EXPECT_NE(r.error.find("kein gültiges TOML"), std::string::npos) << r.error;
  }
  EXPECT_FALSE(parseSenderConfig(std::string(10000, '[')).ok);
  EXPECT_FALSE(parseSenderConfig("kanal = \"modem\"\n[modem]\nanschluss = \"COM99999999999999999\"\n").ok);
}

TEST(SenderConfigParse, ShippedExampleIsValid) {
  const ConfigResult r = parseSenderConfig(testing::exampleSenderConfig());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.config.channel, ChannelKind::Modem);
  EXPECT_EQ(r.config.groups.size(), 4u);
  EXPECT_EQ(selectRecipients(r.config, "Einsatz für LZ SÜD").size(), 3u);
  ASSERT_EQ(selectNoticeRecipients(r.config).size(), 1u);
  EXPECT_EQ(selectNoticeRecipients(r.config)[0].group, "Gerätewart");
}

TEST(PhoneNumbers, NormalisedOrRefused) {
  std::string out;
  EXPECT_TRUE(normalisePhoneNumber(" +49 (170) 123-45/67 ", out));
  EXPECT_EQ(out, "+491701234567");
  EXPECT_TRUE(normalisePhoneNumber("112", out));
  EXPECT_FALSE(normalisePhoneNumber("", out));
  EXPECT_FALSE(normalisePhoneNumber("12", out));
  EXPECT_FALSE(normalisePhoneNumber("+", out));
  EXPECT_FALSE(normalisePhoneNumber("49+170", out));
  EXPECT_FALSE(normalisePhoneNumber("0170\"\r\nAT+CPIN", out)) << "nothing can reach the modem's command line";
  EXPECT_FALSE(normalisePhoneNumber(std::string(21, '1'), out));
}

TEST(RecipientSelection, GroupsChosenByKeywordAndAllAlarms) {
  const ConfigResult r = parseUtf8(kModemConfig);
  ASSERT_TRUE(r.ok) << r.error;

  const auto plain = selectRecipients(r.config, "Brandmeldeanlage Schule");
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(plain[0].number, "+491701111111");
  EXPECT_EQ(plain[1].number, "01712222222");

  const auto south = selectRecipients(r.config, "Alarm LÖSCHZUG 2 Wohnhausbrand");
  ASSERT_EQ(south.size(), 3u) << "the number in both groups is texted once";
  EXPECT_EQ(south[2].number, "+491703333333");
  EXPECT_EQ(south[2].group, "Löschzug Süd");

  SenderConfig onlyKeywords = r.config;
  onlyKeywords.groups.erase(onlyKeywords.groups.begin());
  EXPECT_TRUE(selectRecipients(onlyKeywords, "Probealarm").empty());
  EXPECT_TRUE(selectRecipients(onlyKeywords, "").empty());
  EXPECT_EQ(selectRecipients(onlyKeywords, "lz süd").size(), 2u);
}

TEST(RecipientSelection, NoticesGoOnlyToGroupsMarkedForThemAndNeverMixWithAlarms) {
  const std::string text = std::string(kModemConfig) + R"(
[[gruppe]]
name = "Gerätewart"
hinweise = true
nummern = ["0160 9999999", "+49 170 1111111"]

[[gruppe]]
name = "Wehrführer"
stichworte = ["Wehrführer"]
hinweise = true
nummern = ["0160 8888888", "0160 9999999"]
)";
  const ConfigResult r = parseUtf8(text);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.config.groups.size(), 4u);
  EXPECT_FALSE(r.config.groups[0].notices) << "absent means no notices";

  // Each number once, in the order of the file; the alarm groups' numbers
  // only where a notice group lists them too.
  const auto notices = selectNoticeRecipients(r.config);
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].number, "01609999999");
  EXPECT_EQ(notices[0].group, "Gerätewart");
  EXPECT_EQ(notices[1].number, "+491701111111");
  EXPECT_EQ(notices[2].number, "01608888888");
  EXPECT_EQ(notices[2].group, "Wehrführer");

  // Alarm selection is as it was: the notice-only group never gets one,
  // the mixed group by its keyword only.
  struct Case {
    const char* alarm;
    std::vector<std::string> numbers;
  };
  const Case cases[] = {
      {"Brand Schule", {"+491701111111", "01712222222"}},
      {"Alarm LZ Süd", {"+491701111111", "01712222222", "+491703333333"}},
      {"Wehrführer zur Wache", {"+491701111111", "01712222222", "01608888888", "01609999999"}},
      {"Gerätewart", {"+491701111111", "01712222222"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alarm);
    std::vector<std::string> got;
    for (const Recipient& rec : selectRecipients(r.config, c.alarm)) got.push_back(rec.number);
    EXPECT_EQ(got, c.numbers);
  }

  const ConfigResult plain = parseUtf8(kModemConfig);
  ASSERT_TRUE(plain.ok) << plain.error;
  EXPECT_TRUE(selectNoticeRecipients(plain.config).empty()) << "alarm groups get no notices";
}

}  // namespace
}  // namespace kantiq::sender
