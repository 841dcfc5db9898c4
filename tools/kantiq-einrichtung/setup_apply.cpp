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

// The form's errors keep every file back; warnings (a tone no detector
// set-up hears) do not.
std::optional<ApplyReport> refusalOfForm(const SetupForm& form) {
  std::vector<Problem> formProblems = checkForm(form);
  const auto n = static_cast<size_t>(
      std::count_if(formProblems.begin(), formProblems.end(), [](const Problem& p) { return !p.warning; }));
  if (n == 0) return std::nullopt;
  return refused(std::move(formProblems),
                 n == 1 ? "Eine Angabe ist nicht in Ordnung." : std::to_string(n) + " Angaben sind nicht in Ordnung.");
}

// Why the installation files cannot be made from kantiq.toml, as problems of
// that file.
ApplyReport refusalOfInstallation(const tool::InstallationFiles& files) {
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

// The files to replace together: copies of hand-made files first, so they
// go with the rest or not at all.
struct FileSetPlan {
  std::vector<FileReplacement> set;
  std::vector<std::string> copyLines;  // the summary's lines about the copies
  std::vector<std::string> copiesKept;
};

// Adds a copy of the folder's file `name`, if there is one; a problem when
// it cannot be read.
std::optional<Problem> keepCopy(const fs::path& folder, FileId file, const char* name, const char* copyName,
                                FileSetPlan& plan) {
  bool unreadable = false;
  const std::optional<std::string> old = readWhole(folder / name, unreadable);
  if (unreadable) {
    return wholeFileProblem(file, std::string(name) + " kann nicht gelesen werden; die Kopie " + copyName +
                                      " lässt sich nicht anlegen.");
  }
  if (old) {
    plan.set.push_back({copyName, *old, false});
    plan.copyLines.push_back(std::string("Die bisherige ") + name + " ist aufbewahrt als \"" + copyName + "\".");
    plan.copiesKept.emplace_back(copyName);
  }
  return std::nullopt;
}

void addInstallationFiles(const std::string& monitorText, const std::string& senderText,
                          const tool::InstallationFiles& files, FileSetPlan& plan) {
  plan.set.push_back({kMonitorFileName, monitorText, false});
  plan.set.push_back({kSenderFileName, senderText, false});
  plan.set.push_back({kConfigurationFileName,
                      std::string(files.storedConfiguration.begin(), files.storedConfiguration.end()), false});
  plan.set.push_back({kPresenceFileName, "", true});
  plan.set.push_back({kSettingsFileName, files.settingsText, false});
}

ApplyReport refusalOfWriting(const FileSetFailure& failure) {
  const FileId file =
      failure.file == kSenderFileName || failure.file == kSenderCopyName ? FileId::Sender : FileId::Monitor;
  const std::string text = describe(failure);
  return refused({wholeFileProblem(file, text)}, text);
}

// "Geschrieben: ..." with the files written (the copies on lines of their own).
std::string writtenSummary(const std::vector<std::string>& written, const tool::InstallationFiles& files,
                           const std::vector<std::string>& copyLines) {
  std::string list;
  for (const std::string& name : written) {
    if (name == kMonitorCopyName || name == kSenderCopyName) continue;
    if (!list.empty()) list += ", ";
    list += name;
    if (name == kConfigurationFileName) {
      list += " (" + countOf(files.configuration.alarms.size(), "Alarm", "Alarme") + ")";
    }
  }
  std::string summary = "Geschrieben: " + list + ".";
  for (const std::string& line : copyLines) summary += "\n" + line;
  return summary;
}

}  // namespace

ApplyReport applySetup(const fs::path& folder, const SetupForm& form, bool monitorHandMade, bool senderHandMade) {
  if (auto refusal = refusalOfForm(form)) return std::move(*refusal);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return refused({wholeFileProblem(FileId::Monitor, "Der Ordner der Installation ist nicht da.")},
                   "Der Ordner der Installation ist nicht da.");
  }

  const std::string monitorText = renderMonitorFile(form);
  const std::string senderText = renderSenderFile(form);
  const tool::InstallationFiles files =
      tool::composeInstallation(monitorText, kMonitorFileName, readSettingsFile(folder));
  if (!files.ok()) return refusalOfInstallation(files);

  FileSetPlan plan;
  if (monitorHandMade) {
    if (auto problem = keepCopy(folder, FileId::Monitor, kMonitorFileName, kMonitorCopyName, plan)) {
      return refused({*problem}, problem->message);
    }
  }
  if (senderHandMade) {
    if (auto problem = keepCopy(folder, FileId::Sender, kSenderFileName, kSenderCopyName, plan)) {
      return refused({*problem}, problem->message);
    }
  }
  addInstallationFiles(monitorText, senderText, files, plan);

  const FileSetResult result = replaceFileSet(folder, plan.set);
  if (!result.ok()) return refusalOfWriting(*result.failure);

  ApplyReport report;
  report.written = true;
  report.copiesKept = std::move(plan.copiesKept);
  report.summary = writtenSummary(result.written, files, plan.copyLines);
  return report;
}

}  // namespace kantiq::setup
