#pragma once

// The window's scalar fields in one table: which control edits which key of
// which file, on which page, under which label; and how a problem the form
// check reports is named for the user ("Alarme, Alarm 3 (Code)") and on
// which page it is shown. Portable: the Win32 window reads the table, the
// tests read it natively. Texts are UTF-8.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "setup_form.h"

namespace kantiq::setup {

enum class Page { Alarms, Groups, Route, Input, Advanced };
inline constexpr int kPageCount = 5;

// The tab's title of each page.
std::string_view pageTitle(Page page);

// A value offered in a drop-down list and the words it is shown with.
struct Choice {
  std::string_view value;  // as written into the file; empty: not set
  std::string_view shown;
};

enum class FieldKind {
  Edit,      // typed freely
  Secret,    // typed, shown as dots
  Combo,     // typed, or picked from suggestions the window finds
  ChoiceOf,  // one of `choices`, nothing else
};

struct Field {
  int id;  // the control's id (einrichtung_ids.h)
  FileId file;
  std::string_view key;  // "section.key"
  Page page;
  std::string_view label;
  FieldKind kind = FieldKind::Edit;
  std::span<const Choice> choices = {};
};

// Every scalar field of the window, in page order.
std::span<const Field> allFields();
const Field* fieldById(int id);
const Field* fieldByKey(FileId file, std::string_view key);

// The value a control shows for a choice field's value, and back. A value
// that is none of the choices is shown as it stands.
std::string_view shownOf(const Field& field, std::string_view value);
std::string_view valueOf(const Field& field, std::string_view shown);

// Where a problem is, in the user's words: "Alarme, Alarm 3 (Code)",
// "Empfänger, Gruppe 2 (Nummern)", "SMS-Weg, Anschluss",
// "S.toml, Zeile 12".
std::string placeText(const Problem& problem);
// "<place>: <message>", one line of the report.
std::string problemLine(const Problem& problem);
// The page a problem is shown on.
Page pageOf(const Place& place);

// A multi-line field's lines without blanks at their ends, empty lines
// left out; and the lines joined for the field, with Windows line ends.
std::vector<std::string> splitLines(std::string_view text);
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace kantiq::setup
