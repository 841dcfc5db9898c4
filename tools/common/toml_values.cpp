#include "common/toml_values.h"

namespace kantiq::tool {

std::string TomlFault::text() const {
  return line > 0 ? "Zeile " + std::to_string(line) + ": " + message : message;
}

std::string linePrefix(const toml::node& node) {
  const auto line = node.source().begin.line;
  return line > 0 ? "Zeile " + std::to_string(line) + ": " : std::string();
}

TomlFault faultAt(const toml::node& node, std::string message, bool wrongKind) {
  const toml::source_position at = node.source().begin;
  return {at.line, at.column, std::move(message), wrongKind};
}

const char* tomlKindName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table: return "eine Tabelle";
    case toml::node_type::array: return "eine Liste";
    case toml::node_type::string: return "eine Zeichenkette";
    case toml::node_type::integer: return "eine ganze Zahl";
    case toml::node_type::floating_point: return "eine Gleitkommazahl";
    case toml::node_type::boolean: return "ein Wahrheitswert";
    default: return "ein Datum oder eine Uhrzeit";
  }
}

namespace {

template <typename T>
TomlValue<T> faulty(const toml::node& node, std::string message, bool wrongKind) {
  return {std::nullopt, faultAt(node, std::move(message), wrongKind)};
}

std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

}  // namespace

TomlValue<std::string> stringIn(const toml::node& node, std::string_view shown) {
  if (const auto* s = node.as_string()) return {s->get(), std::nullopt};
  return faulty<std::string>(node, std::string(shown) + " muss ein Text in Anführungszeichen sein", true);
}

TomlValue<bool> booleanIn(const toml::node& node, std::string_view shown) {
  if (const auto* b = node.as_boolean()) return {b->get(), std::nullopt};
  return faulty<bool>(node, std::string(shown) + " muss true oder false sein", true);
}

TomlValue<int64_t> integerIn(const toml::node& node, std::string_view shown, int64_t minimum, int64_t maximum) {
  const auto* integer = node.as_integer();
  if (integer == nullptr) return faulty<int64_t>(node, std::string(shown) + " muss eine ganze Zahl sein", true);
  const int64_t v = integer->get();
  if (v < minimum || v > maximum) {
    return faulty<int64_t>(node, std::string(shown) + " muss zwischen " + std::to_string(minimum) + " und " +
                                     std::to_string(maximum) + " liegen",
                           false);
  }
  return {v, std::nullopt};
}

TomlValue<std::vector<std::string>> stringsIn(const toml::node& node, std::string_view shown) {
  const toml::array* array = node.as_array();
  if (array == nullptr) {
    return faulty<std::vector<std::string>>(node, std::string(shown) + " muss eine Liste sein, z. B. [\"a\", \"b\"]",
                                            true);
  }
  std::vector<std::string> out;
  for (const toml::node& item : *array) {
    const auto* s = item.as_string();
    if (s == nullptr) {
      return faulty<std::vector<std::string>>(item, "Einträge von " + std::string(shown) + " müssen Texte sein", true);
    }
    out.push_back(s->get());
  }
  return {std::move(out), std::nullopt};
}

TomlValue<const toml::table*> tableIn(const toml::node& node, std::string_view key) {
  if (const toml::table* t = node.as_table()) return {t, std::nullopt};
  return faulty<const toml::table*>(node, "'" + std::string(key) + "' muss eine Tabelle sein ([" + std::string(key) +
                                              "]), nicht " + tomlKindName(node),
                                    true);
}

TomlValue<const toml::array*> tablesIn(const toml::node& node, std::string_view key) {
  if (const toml::array* a = node.as_array(); a != nullptr && a->is_array_of_tables()) return {a, std::nullopt};
  return faulty<const toml::array*>(node, "'" + std::string(key) + "' muss eine Liste von Tabellen sein ([[" +
                                              std::string(key) + "]]), nicht " + tomlKindName(node),
                                    true);
}

TomlValue<std::string> stringAt(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  return node ? stringIn(*node, quoted(key)) : TomlValue<std::string>{};
}

TomlValue<bool> booleanAt(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  return node ? booleanIn(*node, quoted(key)) : TomlValue<bool>{};
}

TomlValue<int64_t> integerAt(const toml::table& table, std::string_view key, int64_t minimum, int64_t maximum) {
  const toml::node* node = table.get(key);
  return node ? integerIn(*node, quoted(key), minimum, maximum) : TomlValue<int64_t>{};
}

TomlValue<std::vector<std::string>> stringsAt(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  return node ? stringsIn(*node, quoted(key)) : TomlValue<std::vector<std::string>>{};
}

TomlValue<const toml::table*> tableAt(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  return node ? tableIn(*node, key) : TomlValue<const toml::table*>{};
}

TomlValue<const toml::array*> tablesAt(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  return node ? tablesIn(*node, key) : TomlValue<const toml::array*>{};
}

}  // namespace kantiq::tool
