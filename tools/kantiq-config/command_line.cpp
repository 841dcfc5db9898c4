#include "command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kantiq::tool {

namespace {

struct Operand {
  const char* name;
  const char* help;
};

struct Subcommand {
  const char* name;
  CommandKind kind;
  const char* brief;    // one line of the general help
  const char* summary;  // the command's own help
  std::array<Operand, 2> operands;
  size_t operandCount;
  size_t requiredCount = operandCount;  // the rest may be left out
};

constexpr Subcommand kSubcommands[] = {
    {"write", CommandKind::Write, "schreibt SMSConfig1.dat, SMSConfig2.dat und Kantiq.ini nach ORDNER",
     "Liest eine Einrichtung (TOML) und schreibt SMSConfig1.dat, SMSConfig2.dat und Kantiq.ini\n"
     "in ORDNER. Einen Eingang, den Kantiq sich in Kantiq.ini gemerkt hat, behält write, wenn\n"
     "die Quelle keinen nennt. Bei einem Fehler in der Quelle wird nichts geschrieben; eine\n"
     "vorhandene Datei wird in einem Schritt ersetzt, so dass sie nie halb geschrieben\n"
     "zurückbleibt.",
     {{{"QUELLE", "Einrichtung im TOML-Format (Vorlage: kantiq.toml)"},
       {"ORDNER", "Ordner von Kantiq.exe; wird angelegt, wenn er fehlt"}}},
     2},
    {"show", CommandKind::Show, "gibt eine SMSConfig1.dat als TOML aus",
     "Entschlüsselt eine SMSConfig1.dat und gibt sie als TOML aus.",
     {{{"DATEI", "eine SMSConfig1.dat"}, {}}},
     1},
    {"check", CommandKind::Check, "meldet, was Kantiq laden würde, und jedes Problem",
     "Meldet, was Kantiq aus einer SMSConfig1.dat laden würde, und jedes Problem; liegt eine\n"
     "Kantiq.ini daneben, auch deren Einstellungen.",
     {{{"DATEI", "eine SMSConfig1.dat"}, {}}},
     1},
    {"encode", CommandKind::Encode, "verschlüsselt einen rohen Text ungeprüft (für Tests)",
     "Verschlüsselt einen rohen Einrichtungstext ohne jede Prüfung (für Testdateien).",
     {{{"TEXT", "der Einrichtungstext, z. B. 100#25#...#"}, {"AUSGABE", "die zu schreibende Datei"}}},
     2},
    {"decode", CommandKind::Decode, "gibt den rohen Text aus, wie Kantiq ihn entschlüsselt",
     "Gibt den rohen Text einer SMSConfig1.dat aus, wie Kantiq ihn entschlüsselt.",
     {{{"DATEI", "eine SMSConfig1.dat"}, {}}},
     1},
    {"inputs", CommandKind::Inputs, "listet die Aufnahmegeräte, wie [input] sie nennt",
     "Listet die Aufnahmegeräte (Eingänge), die Windows jetzt kennt, so wie sie in kantiq.toml\n"
     "unter [input] stehen. Mit NAME: Rückgabewert 0, wenn dieser Eingang da ist, sonst 1;\n"
     "ohne NAME: 0, wenn es überhaupt einen gibt. Kantiq fragt so nach einem Eingang, der\n"
     "beim Start fehlte.",
     {{{"NAME", "Name des Eingangs (wahlweise)"}, {"POSITION", "unter gleichnamigen, ab 1 (Vorgabe 1)"}}},
     2,
     0},
};

constexpr std::string_view kProgram = "kantiq-config";

constexpr std::string_view kExitCodes =
    "Rückgabewerte: 0 erledigt, 1 Quelle oder Datei für Kantiq ungeeignet (nichts geschrieben),\n"
    "2 fehlerhafter Aufruf, 3 eine Datei konnte nicht gelesen oder geschrieben werden.\n";

bool isHelp(std::string_view arg) { return arg == "-h" || arg == "--help" || arg == "/?"; }

bool endsWithToml(std::string_view arg) {
  constexpr std::string_view kSuffix = ".toml";
  if (arg.size() <= kSuffix.size()) return false;
  const std::string_view tail = arg.substr(arg.size() - kSuffix.size());
  for (size_t i = 0; i < kSuffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) != kSuffix[i]) return false;
  }
  return true;
}

std::string synopsis(const Subcommand& s) {
  std::string line = std::string(kProgram) + " " + s.name;
  for (size_t i = 0; i < s.operandCount; ++i) {
    line += std::string(i < s.requiredCount ? " " : " [") + s.operands[i].name;
  }
  line.append(s.operandCount - s.requiredCount, ']');
  return line;
}

std::string generalHelp() {
  static constexpr size_t kColumn = 40;
  std::string out =
      "kantiq-config schreibt, zeigt und prüft die Einrichtungsdateien, die Kantiq beim Start\n"
      "liest (SMSConfig1.dat, SMSConfig2.dat und Kantiq.ini).\n\nAufruf:\n";
  auto row = [&out](std::string left, std::string_view right) {
    left = "  " + left;
    left.resize(std::max(left.size() + 2, kColumn), ' ');
    out += left + std::string(right) + "\n";
  };
  auto more = [&out](std::string_view right) { out += std::string(kColumn, ' ') + std::string(right) + "\n"; };
  for (const Subcommand& s : kSubcommands) {
    row(synopsis(s), s.brief);
  }
  row(std::string(kProgram) + " QUELLE.toml", "wie write, in den Ordner dieses Programms");
  more("(auch: die Datei auf kantiq-config.exe ziehen);");
  more("wartet danach auf einen Tastendruck");
  row(std::string(kProgram) + " BEFEHL --help", "Hilfe zu einem Befehl");
  out += "\n";
  out += kExitCodes;
  return out;
}

std::string subcommandHelp(const Subcommand& s) {
  std::string out = "Aufruf: " + synopsis(s) + "\n\n" + s.summary + "\n\n";
  for (size_t i = 0; i < s.operandCount; ++i) {
    std::string name = std::string("  ") + s.operands[i].name;
    name.resize(12, ' ');
    out += name + s.operands[i].help + "\n";
  }
  out += "\n";
  out += kExitCodes;
  return out;
}

Command usage(std::string what) {
  return {CommandKind::Usage, {},
          what + "\nAufruf: " + std::string(kProgram) + " BEFEHL ...; Hilfe: " + std::string(kProgram) + " --help\n"};
}

Command parseSubcommand(const Subcommand& s, const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && isHelp(arg)) {
      return {CommandKind::Help, {}, subcommandHelp(s)};
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return usage("Unbekannte Option '" + arg + "' für '" + s.name + "'.");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() < s.requiredCount) {
    return usage("Für '" + std::string(s.name) + "' fehlt " + s.operands[operands.size()].name + " (" +
                 synopsis(s) + ").");
  }
  if (operands.size() > s.operandCount) {
    return usage("Zu viele Angaben für '" + std::string(s.name) + "': '" + operands[s.operandCount] + "' (" +
                 synopsis(s) + ").");
  }
  return {s.kind, std::move(operands), {}};
}

}  // namespace

Command parseCommandLine(const std::vector<std::string>& args) {
  if (args.size() < 2) return usage("Es fehlt ein Befehl.");
  const std::string& first = args[1];
  if (isHelp(first)) return {CommandKind::Help, {}, generalHelp()};
  for (const Subcommand& s : kSubcommands) {
    if (first == s.name) return parseSubcommand(s, args);
  }
  if (args.size() == 2 && endsWithToml(first)) return {CommandKind::Drop, {first}, {}};
  if (first.size() > 1 && first[0] == '-') return usage("Unbekannte Option '" + first + "'.");
  return usage("Unbekannter Befehl '" + first + "'.");
}

}  // namespace kantiq::tool
