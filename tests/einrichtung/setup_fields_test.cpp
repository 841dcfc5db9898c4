// The setup window's field table against the form's own knowledge of the
// files, and the words a problem is reported with.

#include "setup_fields.h"

#include <gtest/gtest.h>

#include <set>

#include "einrichtung_ids.h"

namespace kantiq::setup {
namespace {

TEST(SetupFields, EveryFieldEditsAKeyTheFilesKnowWithAFittingControl) {
  std::set<int> ids;
  for (const Field& f : allFields()) {
    SCOPED_TRACE(std::string(f.key));
    const std::optional<ValueKind> kind = kindOf(f.file, f.key);
    ASSERT_TRUE(kind.has_value()) << "no such key in the example";
    // A flag is offered as a choice, never typed; a choice offers only
    // values of the key's kind.
    if (*kind == ValueKind::Flag) {
      EXPECT_EQ(f.kind, FieldKind::ChoiceOf);
      for (const Choice& c : f.choices) {
        if (!c.value.empty()) {
          EXPECT_TRUE(c.value == "true" || c.value == "false") << c.value;
        }
      }
    }
    EXPECT_TRUE(ids.insert(f.id).second) << "id used twice";
    EXPECT_EQ(fieldById(f.id), &f);
    EXPECT_EQ(fieldByKey(f.file, f.key), &f);
    EXPECT_FALSE(f.label.empty());
  }
}

TEST(SetupFields, EveryValueTheExamplesSetHasAField) {
  const SetupForm example = exampleForm();
  for (const auto& [settings, file] : {std::pair{&example.monitor, FileId::Monitor}, {&example.sender, FileId::Sender}})
    for (const auto& [key, value] : *settings) EXPECT_NE(fieldByKey(file, key), nullptr) << key << " = " << value;
}

TEST(SetupFields, ChoicesAreShownInWordsAndReadBack) {
  const Field* route = fieldById(IDC_KANAL);
  const Field* fallback = fieldById(IDC_ERSATZKANAL);
  ASSERT_NE(route, nullptr);
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(shownOf(*route, "http"), "http (SMS-Dienst im Internet)");
  EXPECT_EQ(valueOf(*route, "http (SMS-Dienst im Internet)"), "http");
  EXPECT_EQ(valueOf(*fallback, shownOf(*fallback, "")), "");
  // What a hand-made file holds beyond the choices stays as it is.
  EXPECT_EQ(valueOf(*route, shownOf(*route, "fax")), "fax");
}

struct PlaceRow {
  Place place;
  uint32_t line;
  std::string text;
  Page page;
};

TEST(SetupFields, AProblemIsNamedByPageAndFieldAndShownOnItsPage) {
  const PlaceRow rows[] = {
      {Place::ofAlarm(2, "code"), 0, "Alarme, Alarm 3 (Code)", Page::Alarms},
      {Place::ofAlarm(0, "steps"), 0, "Alarme, Alarm 1 (Schritte)", Page::Alarms},
      {Place::ofGroup(1, "nummern"), 0, "Empfänger, Gruppe 2 (Nummern)", Page::Groups},
      {Place::ofGroup(0, ""), 0, "Empfänger, Gruppe 1", Page::Groups},
      {Place::ofKey(FileId::Sender, "modem.anschluss"), 0, "SMS-Weg, Anschluss", Page::Route},
      {Place::ofKey(FileId::Monitor, "notices.sign_of_life"), 0, "Eingang und Hinweise, Wöchentliches Lebenszeichen",
       Page::Input},
      {Place::ofKey(FileId::Monitor, "detector.required_hits"), 0, "Erweitert, Treffer je Ton", Page::Advanced},
      {Place::ofKey(FileId::Sender, "wiederholung.versuche"), 0, "Erweitert, Runden je SMS", Page::Advanced},
      {Place::ofFile(FileId::Sender), 12, "S.toml, Zeile 12", Page::Route},
      {Place::ofKey(FileId::Monitor, "input.unknown"), 0, "kantiq.toml, input.unknown", Page::Alarms},
  };
  for (const PlaceRow& row : rows) {
    const Problem problem{row.place, "Grund.", row.line};
    EXPECT_EQ(problemLine(problem), row.text + ": Grund.");
    EXPECT_EQ(pageOf(row.place), row.page) << row.text;
  }
}

TEST(SetupFields, LinesOfAMultiLineFieldLoseBlanksAndEmptyLines) {
  EXPECT_EQ(splitLines(" +49 170 1234567 \r\n\r\n0172 1112223\r\n  \n"),
            (std::vector<std::string>{"+49 170 1234567", "0172 1112223"}));
  EXPECT_TRUE(splitLines("").empty());
  EXPECT_EQ(joinLines({"a", "b c"}), "a\r\nb c");
  EXPECT_EQ(splitLines(joinLines({"LZ Süd", "Löschzug 2"})), (std::vector<std::string>{"LZ Süd", "Löschzug 2"}));
}

}  // namespace
}  // namespace kantiq::setup
