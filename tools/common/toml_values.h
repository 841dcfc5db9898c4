#pragma once

// toml++ as every companion program uses it, and the checks of single values
// that the readers of kantiq.toml and S.toml share. Each check gives the
// value, or a fault with its place in the file and a German text (UTF-8).
// The texts are clauses without a closing full stop: kantiq-config lists them
// as they are, the sender and the setup window end them as their own texts end.

// toml++ asserts in debug builds on some malformed table headers ("[.a]",
// "[[[") that its parser goes on to report as ordinary errors; a broken file
// must give a message, not an abort. Every file that uses toml++ includes it
// through this header, so its inline functions are the same in every program.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq::tool {

struct TomlFault {
  uint32_t line = 0;  // 0 when no place in the file is known
  uint32_t column = 0;
  std::string message;  // German, UTF-8, without the place
  // The value is of another kind than asked for, not one out of range;
  // kantiq-config adds the kind it found, and says a range its own way.
  bool wrongKind = false;

  // "Zeile N: " and the message; the message alone without a line.
  std::string text() const;
};

// A value read: none when it is absent or faulty, a fault when faulty.
template <typename T>
struct TomlValue {
  std::optional<T> value;
  std::optional<TomlFault> fault;
};

// "Zeile N: " for a node with a place in the file, otherwise "".
std::string linePrefix(const toml::node& node);

// A fault at the node's place.
TomlFault faultAt(const toml::node& node, std::string message, bool wrongKind = false);

// What a node is, for a message: "eine Zeichenkette", "eine ganze Zahl", ...
const char* tomlKindName(const toml::node& node);

// One node. `shown` is the key as the message names it ("\"pin\"",
// "detector.required_hits").
TomlValue<std::string> stringIn(const toml::node& node, std::string_view shown);
TomlValue<bool> booleanIn(const toml::node& node, std::string_view shown);
// An integer in [minimum, maximum].
TomlValue<int64_t> integerIn(const toml::node& node, std::string_view shown, int64_t minimum, int64_t maximum);
// A list of texts; a fault names the first entry that is not a text.
TomlValue<std::vector<std::string>> stringsIn(const toml::node& node, std::string_view shown);
// A table ([key]) and a list of tables ([[key]]); `key` is the bare key.
TomlValue<const toml::table*> tableIn(const toml::node& node, std::string_view key);
TomlValue<const toml::array*> tablesIn(const toml::node& node, std::string_view key);

// The same for the value of a table's key, named in quotation marks ("pin")
// or, for tables, as above; nothing at all when the key is absent.
TomlValue<std::string> stringAt(const toml::table& table, std::string_view key);
TomlValue<bool> booleanAt(const toml::table& table, std::string_view key);
TomlValue<int64_t> integerAt(const toml::table& table, std::string_view key, int64_t minimum, int64_t maximum);
TomlValue<std::vector<std::string>> stringsAt(const toml::table& table, std::string_view key);
TomlValue<const toml::table*> tableAt(const toml::table& table, std::string_view key);
TomlValue<const toml::array*> tablesAt(const toml::table& table, std::string_view key);

}  // namespace kantiq::tool
