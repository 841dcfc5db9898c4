#include "sender/message/outbox.h"

#include "sender/config/sender_config.h"

#include <algorithm>
#include <cstdio>

namespace kantiq::sender {
namespace {

constexpr std::string_view kHeader = "Kantiq-Postausgang 1";
constexpr std::string_view kMessageSuffix = ".sms";
constexpr std::string_view kTemporarySuffix = ".tmp";  // the folder's writes go through "<name>.tmp"
constexpr std::string_view kDamagedSuffix = ".defekt";
constexpr size_t kNumberDigits = 4;

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string toHex(std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

bool fromHex(std::string_view hex, std::string& out) {
  out.clear();
  if (hex.size() % 2 != 0) return false;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]);
    const int lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool toNumber(std::string_view s, int64_t& out) {
  if (s.empty() || s.size() > 18 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  out = std::stoll(std::string(s));
  return true;
}

bool printable(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
}

}  // namespace

std::string encodeOutboxEntry(const OutboxEntry& e) {
  std::string out(kHeader);
  out += "\r\nart=" + std::string(e.kind == OutboxEntry::Kind::Test     ? "test"
                                   : e.kind == OutboxEntry::Kind::Notice ? "hinweis"
                                                                         : "alarm");
  out += "\r\nerstellt=" + std::to_string(e.createdUnixS);
  out += "\r\nzeit=" + e.createdStamp;
  out += "\r\nnummer=" + e.number;
  out += "\r\ntext=" + toHex(e.text);
  out += "\r\ngesendete_teile=" + std::to_string(e.partsSent);
  out += "\r\nnachgesendet=" + std::string(e.late ? "1" : "0");
  out += "\r\nunterwegs=" + e.underWay;
  if (e.maybeSent > 0) out += "\r\nvielleicht=" + std::to_string(e.maybeSent);
  out += "\r\nende\r\n";
  return out;
}

bool decodeOutboxEntry(std::string_view text, OutboxEntry& out) {
  OutboxEntry e;
  if (text.substr(0, kHeader.size()) != kHeader) return false;
  int fields = 0;
  bool ended = false;
  size_t at = kHeader.size();
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line == "ende") {
      ended = true;
      break;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    int64_t n = 0;
    if (key == "art" && (value == "alarm" || value == "test" || value == "hinweis")) {
      e.kind = value == "test"      ? OutboxEntry::Kind::Test
               : value == "hinweis" ? OutboxEntry::Kind::Notice
                                    : OutboxEntry::Kind::Alarm;
    } else if (key == "erstellt" && toNumber(value, n)) {
      e.createdUnixS = n;
    } else if (key == "zeit" && printable(value)) {
      e.createdStamp = std::string(value);
    } else if (key == "nummer" && isPlainPhoneNumber(value)) {
      e.number = std::string(value);
    } else if (key == "text" && fromHex(value, e.text)) {
    } else if (key == "gesendete_teile" && toNumber(value, n) && n < 100) {
      e.partsSent = static_cast<uint32_t>(n);
    } else if (key == "nachgesendet" && (value == "0" || value == "1")) {
      e.late = value == "1";
    } else if (key == "unterwegs" && printable(value)) {
      e.underWay = std::string(value);
    } else if (key == "vielleicht" && toNumber(value, n) && n < 10) {
      e.maybeSent = static_cast<uint32_t>(n);
      continue;  // written only when not 0
    } else {
      return false;
    }
    ++fields;
  }
  // A file cut short (it never is, being renamed into place whole) or one
  // of another kind is not taken for a message.
  if (!ended || fields != 8) return false;
  e.name = out.name;
  out = std::move(e);
  return true;
}

std::string lateText(std::string_view createdStamp, std::string_view text, OutboxEntry::Kind kind) {
  // "08.12.2026 17:41:25" -> "08.12. 17:41"
  std::string when(createdStamp);
  if (createdStamp.size() >= 16) when = std::string(createdStamp.substr(0, 6)) + " " + std::string(createdStamp.substr(11, 5));
  return std::string(kind == OutboxEntry::Kind::Notice ? "Nachgesendet, Hinweis vom " : "Nachgesendet, Alarm vom ") +
         when + ": " + std::string(text);
}

Outbox::Outbox(OutboxFolder* folder, std::string runId, SendLog& log)
    : folder_(folder), runId_(std::move(runId)), log_(log) {
  std::string reason = "es ist keiner eingerichtet";
  usable_ = folder_ != nullptr && folder_->prepare(reason);
  if (!usable_) {
    complained_ = true;
    log_.write("Postausgang nicht nutzbar (" + reason +
               "): Die Nachrichten werden gesendet, aber nicht gesichert; bricht S.exe ab, gehen sie verloren.");
  }
}

std::string Outbox::runOf(std::string_view fileName) {
  if (!endsWith(fileName, kMessageSuffix)) return {};
  const size_t stem = fileName.size() - kMessageSuffix.size();
  if (stem < kNumberDigits + 2 || fileName[stem - kNumberDigits - 1] != '-') return {};
  return std::string(fileName.substr(0, stem - kNumberDigits - 1));
}

std::string Outbox::nextName() {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", next_++ % 10000);
  return runId_ + "-" + number + std::string(kMessageSuffix);
}

void Outbox::lost(std::string_view what) {
  if (complained_) return;
  complained_ = true;
  log_.write("Postausgang: " + std::string(what) +
             " lässt sich nicht schreiben; die Nachrichten dieses Laufs sind nicht mehr gesichert.");
}

void Outbox::store(std::vector<OutboxEntry>& entries) {
  for (OutboxEntry& e : entries) {
    e.name = nextName();
    if (usable_ && !folder_->write(e.name, encodeOutboxEntry(e))) lost(e.name);
  }
}

void Outbox::update(const OutboxEntry& entry) {
  if (usable_ && !folder_->write(entry.name, encodeOutboxEntry(entry))) lost(entry.name);
}

void Outbox::remove(const OutboxEntry& entry) {
  if (usable_ && !folder_->remove(entry.name)) lost(entry.name);
}

std::vector<OutboxEntry> Outbox::takeOver(const WallTime& now, int32_t maxAgeHours) {
  std::vector<OutboxEntry> out;
  if (!usable_) return out;
  for (const std::string& name : folder_->names()) {
    if (endsWith(name, kTemporarySuffix)) {
      // A write that was cut off; the file it was for is still whole.
      const std::string run = runOf(name.substr(0, name.size() - kTemporarySuffix.size()));
      if (!run.empty() && run != runId_ && !folder_->runAlive(run)) folder_->remove(name);
      continue;
    }
    const std::string run = runOf(name);
    if (run.empty() || run == runId_ || folder_->runAlive(run)) continue;
    OutboxEntry e;
    e.name = nextName();
    if (!folder_->rename(name, e.name)) continue;  // another run was quicker
    std::string bytes;
    if (!folder_->read(e.name, bytes) || !decodeOutboxEntry(bytes, e)) {
      folder_->rename(e.name, e.name + std::string(kDamagedSuffix));
      log_.write("Postausgang: Die Datei " + name + " ist unlesbar und wird als " + e.name +
                 std::string(kDamagedSuffix) + " beiseitegelegt.");
      continue;
    }
    const int64_t ageS = now.unixS - e.createdUnixS;
    const bool notice = e.kind == OutboxEntry::Kind::Notice;
    const std::string what = (e.kind == OutboxEntry::Kind::Test ? "Test-SMS an "
                              : notice                          ? "Hinweis-SMS an "
                                                                : "Nachricht an ") +
                             e.number + " vom " + e.createdStamp;
    if (e.kind == OutboxEntry::Kind::Test) {
      // Its sender has long told the user it did not go out.
      log_.write("AUFGEGEBEN: Die " + what + " aus einem abgebrochenen Lauf wird nicht nachgesendet.");
      folder_->remove(e.name);
      continue;
    }
    const int32_t limitHours = notice ? std::min(maxAgeHours, kNoticeMaxAgeHours) : maxAgeHours;
    if (ageS > static_cast<int64_t>(limitHours) * 3600) {
      log_.write("AUFGEGEBEN: Die " + what + " ist älter als " + std::to_string(limitHours) +
                 " Stunden und wird nicht mehr gesendet: \"" + e.text + "\"");
      folder_->remove(e.name);
      continue;
    }
    std::string line = "Postausgang: Die " + what + " aus einem früheren Lauf wird nachgesendet (verspätet)";
    if (!e.underWay.empty()) {
      line += "; sie war beim Abbruch schon unterwegs (" + e.underWay +
              ") und ist vielleicht angekommen, wird aber sicherheitshalber noch einmal gesendet";
      e.underWay.clear();
    }
    log_.write(line + ".");
    if (!e.late && e.partsSent == 0) e.text = lateText(e.createdStamp, e.text, e.kind);
    e.late = true;
    update(e);
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace kantiq::sender
