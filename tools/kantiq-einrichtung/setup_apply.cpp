#include "setup_apply.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "config/startup.h"
#include "config/kantiq_settings.h"
#include "file_set.h"
#include "installation_files.h"

namespace fs = std::filesystem;

namespace kantiq::setup {

namespace {

constexpr char kMonitorCopyName[] = "kantiq (vorher).toml";
constexpr char kSenderCopyName[] = "S (vorher).toml";

Problem wholeFileProblem(FileId file, std::string message, uint32_t line = 0) {
  return Problem(Place::ofFile(file), std::move(message), line);
}

// The file as it is now; nullopt when it is not there or cannot be read
// (reading says which).
std::optional<std::string> readWhole(const fs::path& path, bool& unreadable) {
  unreadable = false;
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  if (!in && !in.eof()) {
    unreadable = true;
    return std::nullopt;
  }
  return text;
}

ApplyReport refused(std::vector<Problem> problems, std::string why) {
  ApplyReport report;
  report.problems = std::move(problems);
  report.summary = "Nichts geschrieben: " + std::move(why);
  return report;
}

std::string countOf(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

ApplyReport applySetup(const fs::path& folder, const SetupForm& form, bool monitorHandMade, bool senderHandMade) {
  // Warnings (a tone no detector set-up hears) do not keep the files back.
  std::vector<Problem> formProblems = checkForm(form);
  const auto n = static_cast<size_t>(
      std::count_if(formProblems.begin(), formProblems.end(), [](const Problem& p) { return !p.warning; }));
  if (n > 0) {
    return refused(std::move(formProblems),
                   n == 1 ? "Eine Angabe ist nicht in Ordnung." : std::to_string(n) + " Angaben sind nicht in Ordnung.");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return refused({wholeFileProblem(FileId::Monitor, "Der Ordner der Installation ist nicht da.")},
                   "Der Ordner der Installation ist nicht da.");
  }

  const std::string monitorText = renderMonitorFile(form);
  const std::string senderText = renderSenderFile(form);
  const tool::InstallationFiles files =
      tool::composeInstallation(monitorText, kMonitorFileName, readSettingsFile(folder));
  if (!files.ok()) {
    std::vector<Problem> problems;
    switch (files.problem) {
      case tool::InstallationProblem::Source:
        for (const tool::Diagnostic& d : files.diagnostics) {
          if (!d.warning) problems.push_back(wholeFileProblem(FileId::Monitor, d.message, d.line));
        }
        break;
      case tool::InstallationProblem::LoadBack:
        problems.push_back(wholeFileProblem(
            FileId::Monitor, "Kantiq würde die Alarme nicht so laden, wie sie geschrieben würden" +
                                 (files.loadBackFailure.empty() ? std::string(".") : ": " + files.loadBackFailure)));
        break;
      case tool::InstallationProblem::SettingsUnreadable:
        problems.push_back(wholeFileProblem(
            FileId::Monitor, std::string(kSettingsFileName) +
                                 " kann nicht gelesen werden; ein Eingang, den Kantiq darin gemerkt hat, ginge verloren."));
        break;
      case tool::InstallationProblem::None: break;
    }
    const std::string why = problems.empty() ? "Die Alarme lassen sich nicht für Kantiq schreiben."
                                             : problems.front().message;
    return refused(std::move(problems), why);
  }

  // Copies of hand-made files first: they go with the rest or not at all.
  ApplyReport report;
  std::vector<FileReplacement> set;
  std::vector<std::string> copies;  // the lines saying so
  const auto keepCopy = [&](FileId file, const char* name, const char* copyName) -> std::optional<Problem> {
    bool unreadable = false;
    const std::optional<std::string> old = readWhole(folder / name, unreadable);
    if (unreadable) {
      return wholeFileProblem(file, std::string(name) + " kann nicht gelesen werden; die Kopie " + copyName +
                                        " lässt sich nicht anlegen.");
    }
    if (old) {
      set.push_back({copyName, *old, false});
      copies.push_back(std::string("Die bisherige ") + name + " ist aufbewahrt als \"" + copyName + "\".");
      report.copiesKept.emplace_back(copyName);
    }
    return std::nullopt;
  };
  if (monitorHandMade) {
    if (auto problem = keepCopy(FileId::Monitor, kMonitorFileName, kMonitorCopyName)) {
      return refused({*problem}, problem->message);
    }
  }
  if (senderHandMade) {
    if (auto problem = keepCopy(FileId::Sender, kSenderFileName, kSenderCopyName)) {
      return refused({*problem}, problem->message);
    }
  }
  set.push_back({kMonitorFileName, monitorText, false});
  set.push_back({kSenderFileName, senderText, false});
  set.push_back({kConfigurationFileName,
                 std::string(files.storedConfiguration.begin(), files.storedConfiguration.end()), false});
  set.push_back({kPresenceFileName, "", true});
  set.push_back({kSettingsFileName, files.settingsText, false});

  const FileSetResult result = replaceFileSet(folder, set);
  if (!result.ok()) {
    const FileSetFailure& failure = *result.failure;
    const FileId file = failure.file == kSenderFileName || failure.file == kSenderCopyName ? FileId::Sender
                                                                                           : FileId::Monitor;
    const std::string text = describe(failure);
    return refused({wholeFileProblem(file, text)}, text);
  }

  report.written = true;
  std::string list;
  for (const std::string& name : result.written) {
    if (name == kMonitorCopyName || name == kSenderCopyName) continue;
    if (!list.empty()) list += ", ";
    list += name;
    if (name == kConfigurationFileName) {
      list += " (" + countOf(files.configuration.alarms.size(), "Alarm", "Alarme") + ")";
    }
  }
  report.summary = "Geschrieben: " + list + ".";
  for (const std::string& line : copies) report.summary += "\n" + line;
  return report;
}

}  // namespace kantiq::setup
