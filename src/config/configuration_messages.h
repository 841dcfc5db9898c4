#pragma once

// The texts with which the program refuses to start. All are Windows-1252.

#include <string>

#include "config/configuration_parser.h"

namespace kantiq {

// The project's home page, named in the newer-version message.
inline constexpr char kHomePageAddress[] = "https://kantiq.example.org";

inline constexpr char kCaptionError[] = "Fehler";
inline constexpr char kCaptionUnknownFormat[] = "Unbekanntes Format";

// A message box to show before the process ends.
struct StartupRefusal {
  std::string caption;
  std::string text;

  friend bool operator==(const StartupRefusal&, const StartupRefusal&) = default;
};

// Another instance holds the single-instance guard.
StartupRefusal alreadyRunningRefusal();
// "SMSConfig1.dat" or "SMSConfig2.dat" cannot be opened.
StartupRefusal missingConfigurationRefusal();
// The first problem of a parse that is not fit to run.
StartupRefusal refusalFor(const ConfigurationFinding& finding);

}  // namespace kantiq
