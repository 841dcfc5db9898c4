#include "config/configuration_messages.h"

#include <string_view>

namespace kantiq {

namespace {

constexpr std::string_view kMissingConfiguration =
    "'Brevalo Kantiq' ist noch nicht korrekt für den Betrieb konfiguriert.\n\n"
    "Grund: Kann Konfigurationsdatei von 'Brevalo' für 'Brevalo Kantiq' nicht finden.\n"
    "Bitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq' in den "
    "Optionseinstellungen.";

// The format-error text as the program has always shown it, closing quote
// missing included.
constexpr std::string_view kFormatError =
    "'Brevalo Kantiq' hat einen Fehler in der Konfigurationsdatei festgestellt.\n"
    "Bitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq erneut.";

constexpr std::string_view kNewerVersionHead =
    "Es wurde eine Konfigurationsdatei von einer weiterentwickelten 'Brevalo Kantiq'-Version "
    "gefunden.\nDiese 'Brevalo Kantiq'-Version ist nicht in der Lage, die Datei zu öffnen.\n"
    "Laden Sie sich die aktuelle 'Brevalo Kantiq'-Version von unserer Homepage '";
constexpr std::string_view kNewerVersionTail =
    "'\nherunter, installieren Sie diese und versuchen Sie den Vorgang erneut. ";

constexpr std::string_view kAlreadyRunning = "'Brevalo Kantiq' ist bereits gestartet";

// The refusals for files the program cannot run safely with share one frame.
constexpr std::string_view kRefusalHead =
    "'Brevalo Kantiq' hat einen Fehler in der Konfigurationsdatei festgestellt.\n\nGrund: ";
constexpr std::string_view kRefusalTail =
    "\nBitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq' erneut.";

// An alarm's text inside a message: at most this many bytes, control
// characters shown as blanks.
constexpr size_t kQuotedTextBytes = 60;

std::string quoteAlarm(const ConfigurationFinding& finding) {
  std::string quoted = "Die Alarmierung Nr. " + std::to_string(finding.entry + 1) + " '";
  const std::string& text = finding.alarmText;
  for (size_t i = 0; i < text.size() && i < kQuotedTextBytes; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    quoted.push_back(b < 0x20 ? ' ' : text[i]);
  }
  if (text.size() > kQuotedTextBytes) quoted += "...";
  quoted += "'";
  return quoted;
}

std::string reasonFor(const ConfigurationFinding& f) {
  const std::string value = std::to_string(f.value);
  switch (f.problem) {
    case ConfigurationProblem::DataTooLong:
      return "Die Konfigurationsdatei ist zu groß (mehr als 65535 Zeichen).";
    case ConfigurationProblem::RequiredHitsOutOfRange:
      return "Die Anzahl der Treffer je Ton (" + value + ") liegt nicht zwischen 1 und 5.";
    case ConfigurationProblem::TooManyAlarms:
      return "Die Konfigurationsdatei enthält " + value +
             " Alarmierungen, es sind höchstens 999 möglich.";
    case ConfigurationProblem::StepCountTooLarge:
      return quoteAlarm(f) + " hat " + value + " Töne, es sind höchstens 10 möglich.";
    case ConfigurationProblem::StepCountNegative:
      return quoteAlarm(f) + " hat eine ungültige Anzahl Töne (" + value + ").";
    case ConfigurationProblem::AlarmWithoutSteps:
      return quoteAlarm(f) + " hat keine Töne.";
    case ConfigurationProblem::EntryCutShort:
      return quoteAlarm(f) + " ist unvollständig, die Datei endet mitten im Eintrag.";
    case ConfigurationProblem::ParametersIncomplete:
      return "Die Erkennungsparameter sind unvollständig (" + value + " von 10).";
    default:
      return {};
  }
}

}  // namespace

StartupRefusal alreadyRunningRefusal() {
  return {kCaptionError, std::string(kAlreadyRunning)};
}

StartupRefusal missingConfigurationRefusal() {
  return {kCaptionError, std::string(kMissingConfiguration)};
}

StartupRefusal refusalFor(const ConfigurationFinding& finding) {
  switch (finding.problem) {
    case ConfigurationProblem::FormatZero:
      return {kCaptionError, std::string(kFormatError)};
    case ConfigurationProblem::FormatUnknown:
      return {kCaptionUnknownFormat,
              std::string(kNewerVersionHead) + kHomePageAddress + std::string(kNewerVersionTail)};
    default:
      return {kCaptionError, std::string(kRefusalHead) + reasonFor(finding) + std::string(kRefusalTail)};
  }
}

}  // namespace kantiq
