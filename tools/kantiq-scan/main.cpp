// kantiq-scan: runs the detector over audio files as live capture would and
// prints every alarm it raises.
//
// Exit status: 0 when at least one alarm was raised, 1 when none was,
// 2 for a usage or configuration error, 3 when an audio file could not be
// read (the other files are still scanned).

#include <CLI/CLI.hpp>
#include <samplerate.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "configuration_source.h"
#include "scanner.h"
#include "text_output.h"

namespace {

using kantiq::scan::CaptureFormat;
using kantiq::scan::RaisedAlarm;
using kantiq::scan::Scanner;

constexpr sf_count_t kReadFrames = 8192;

struct FileResult {
  std::string file;
  bool readable = false;
  std::string error;
  double audioSeconds = 0;
  std::vector<RaisedAlarm> alarms;
};

struct SndFile {
  SndFile() = default;
  SndFile(const SndFile&) = delete;
  SndFile& operator=(const SndFile&) = delete;
  SNDFILE* handle = nullptr;
  ~SndFile() {
    if (handle != nullptr) sf_close(handle);
  }
};

struct Resampler {
  Resampler() = default;
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  SRC_STATE* state = nullptr;
  ~Resampler() {
    if (state != nullptr) src_delete(state);
  }
};

// Reads one file, mixes it to mono, resamples it to the capture rate and
// feeds it to the scanner.
FileResult scanFile(const std::string& path, Scanner& scanner, const CaptureFormat& format) {
  FileResult result;
  result.file = path;
  SF_INFO info{};
  SndFile file;
  file.handle = sf_open(path.c_str(), SFM_READ, &info);
  if (file.handle == nullptr) {
    result.error = sf_strerror(nullptr);
    return result;
  }
  if (info.channels < 1 || info.samplerate < 1) {
    result.error = "no audio channels";
    return result;
  }
  scanner.startRecording();
  const double ratio = static_cast<double>(format.sampleRate) / info.samplerate;
  Resampler resampler;
  if (info.samplerate != format.sampleRate) {
    int err = 0;
    resampler.state = src_new(SRC_SINC_MEDIUM_QUALITY, 1, &err);
    if (resampler.state == nullptr) {
      result.error = src_strerror(err);
      return result;
    }
  }
  std::vector<float> interleaved(static_cast<size_t>(kReadFrames) * static_cast<size_t>(info.channels));
  std::vector<float> mono(static_cast<size_t>(kReadFrames));
  std::vector<float> resampled(static_cast<size_t>(kReadFrames * ratio) + 256);
  bool ended = false;
  while (!ended) {
    const bool isMono = info.channels == 1;
    const sf_count_t got = sf_readf_float(file.handle, isMono ? mono.data() : interleaved.data(), kReadFrames);
    ended = got < kReadFrames;
    for (sf_count_t i = 0; !isMono && i < got; ++i) {
      float sum = 0;
      for (int c = 0; c < info.channels; ++c) sum += interleaved[static_cast<size_t>(i * info.channels + c)];
      mono[static_cast<size_t>(i)] = sum / static_cast<float>(info.channels);
    }
    if (resampler.state == nullptr) {
      scanner.feed(std::span<const float>(mono.data(), static_cast<size_t>(got)));
      continue;
    }
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(got);
    data.src_ratio = ratio;
    data.end_of_input = ended ? 1 : 0;
    do {
      data.data_out = resampled.data();
      data.output_frames = static_cast<long>(resampled.size());
      if (const int err = src_process(resampler.state, &data); err != 0) {
        result.error = src_strerror(err);
        return result;
      }
      scanner.feed(std::span<const float>(resampled.data(), static_cast<size_t>(data.output_frames_gen)));
      data.data_in += data.input_frames_used;
      data.input_frames -= data.input_frames_used;
    } while (data.input_frames > 0 || (ended && data.output_frames_gen > 0));
  }
  result.readable = true;
  result.audioSeconds = static_cast<double>(scanner.samplesFed()) / format.sampleRate;
  result.alarms = scanner.raised();
  return result;
}

struct Options {
  std::string configPath;
  std::string textPath;
  std::vector<std::string> files;
  CaptureFormat format;
  int32_t height = kantiq::ToneDetector::kSpectrogramHeightPx;
  bool json = false;
  bool quiet = false;
};

// Reads the command line into `options`; an exit status when the program
// should end here (help shown: 0, a usage error: 2).
std::optional<int> parseOptions(int argc, char** argv, Options& options) {
  CLI::App app{"Runs Kantiq's tone-sequence detector over audio files and prints the alarms it raises."};
  CaptureFormat& format = options.format;
  auto* config = app.add_option("--config", options.configPath, "the program's configuration file (SMSConfig1.dat)")
                     ->check(CLI::ExistingFile);
  auto* text = app.add_option("--text", options.textPath, "a configuration's decoded text instead")
                   ->check(CLI::ExistingFile)
                   ->excludes(config);
  app.add_option("--bits", format.bits, "capture sample width")->check(CLI::IsMember({8, 16}));
  app.add_option("--rate", format.sampleRate, "capture sample rate in Hz")
      ->check(CLI::IsMember({11025, 22050, 44100}));
  app.add_option("--points", format.points, "points per transform")->check(CLI::IsMember({256, 512, 1024, 2048}));
  auto* perBuffer = app.add_option("--samples-per-buffer", format.samplesPerBuffer,
                                   "samples per capture buffer (default 1472, at most the points)")
                        ->check(CLI::PositiveNumber);
  app.add_option("--height", options.height,
                 "spectrogram height in pixels; bins at or above it are not examined")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--json", options.json, "print one JSON document instead of lines");
  app.add_flag("--quiet,-q", options.quiet, "no throughput line on standard error");
  app.add_option("files", options.files, "audio files (anything libsndfile reads)")->required();
  try {
    app.parse(argc, argv);
    if (config->count() + text->count() == 0) throw CLI::RequiredError("--config or --text");
    if (perBuffer->count() == 0) format.samplesPerBuffer = std::min(format.samplesPerBuffer, format.points);
    if (format.samplesPerBuffer > format.points) {
      throw CLI::ValidationError("--samples-per-buffer", "must not exceed --points");
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  return std::nullopt;
}

struct Totals {
  double audioSeconds = 0;
  size_t alarms = 0;
  bool unreadable = false;
};

// Adds up the files' results and names each file that could not be read.
Totals totalsOf(const std::vector<FileResult>& results) {
  Totals totals;
  for (const FileResult& r : results) {
    totals.audioSeconds += r.audioSeconds;
    totals.alarms += r.alarms.size();
    if (!r.readable) {
      totals.unreadable = true;
      std::fprintf(stderr, "kantiq-scan: %s: %s\n", r.file.c_str(), r.error.c_str());
    }
  }
  return totals;
}

std::string jsonReport(const std::vector<FileResult>& results, double audioSeconds, double elapsed, double factor) {
  using kantiq::scan::jsonString;
  std::string out = "{\"files\": [";
  for (size_t i = 0; i < results.size(); ++i) {
    const FileResult& r = results[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"file\": " + jsonString(r.file) + ", \"readable\": " + (r.readable ? "true" : "false");
    if (!r.readable) out += ", \"error\": " + jsonString(r.error);
    out += ", \"audioSeconds\": " + std::to_string(r.audioSeconds) + ", \"alarms\": [";
    for (size_t k = 0; k < r.alarms.size(); ++k) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%lld.%03lld", static_cast<long long>(r.alarms[k].milliseconds / 1000),
                    static_cast<long long>(r.alarms[k].milliseconds % 1000));
      out += std::string(k ? ", " : "") + "{\"seconds\": " + seconds +
             ", \"text\": " + jsonString(kantiq::scan::cp1252ToUtf8(r.alarms[k].text)) + "}";
    }
    out += "]}";
  }
  out += "\n], \"audioSeconds\": " + std::to_string(audioSeconds) + ", \"elapsedSeconds\": " +
         std::to_string(elapsed) + ", \"realTimeFactor\": " + std::to_string(factor) + "}\n";
  return out;
}

// One line per alarm: file, seconds into it, text.
void printLines(const std::vector<FileResult>& results) {
  for (const FileResult& r : results) {
    for (const RaisedAlarm& a : r.alarms) {
      std::printf("%s\t%lld.%03lld\t%s\n", r.file.c_str(), static_cast<long long>(a.milliseconds / 1000),
                  static_cast<long long>(a.milliseconds % 1000), kantiq::scan::cp1252ToUtf8(a.text).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> status = parseOptions(argc, argv, options)) return *status;

  auto detector = std::make_unique<kantiq::ToneDetector>();
  std::string error;
  const bool loaded = options.textPath.empty()
                          ? kantiq::scan::loadScrambledConfiguration(options.configPath, *detector, error)
                          : kantiq::scan::loadConfigurationText(options.textPath, *detector, error);
  if (!loaded) {
    std::fprintf(stderr, "kantiq-scan: %s\n", kantiq::scan::cp1252ToUtf8(error).c_str());
    return 2;
  }
  detector->offlineHeight = options.height;

  Scanner scanner(*detector, options.format);
  std::vector<FileResult> results;
  const auto started = std::chrono::steady_clock::now();
  for (const std::string& f : options.files) results.push_back(scanFile(f, scanner, options.format));
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const Totals totals = totalsOf(results);
  const double factor = elapsed > 0 ? totals.audioSeconds / elapsed : 0;
  if (options.json)
    std::fputs(jsonReport(results, totals.audioSeconds, elapsed, factor).c_str(), stdout);
  else
    printLines(results);
  if (!options.quiet) {
    std::fprintf(stderr, "kantiq-scan: %.1f s of audio in %.3f s, %.0f times real time\n", totals.audioSeconds,
                 elapsed, factor);
  }
  if (totals.unreadable) return 3;
  return totals.alarms > 0 ? 0 : 1;
}
