#include "file_set.h"

#include <cerrno>
#include <fstream>

#include "common/cp1252.h"

namespace fs = std::filesystem;

namespace kantiq::setup {

namespace {

fs::path pathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string nameOf(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

// The system's texts come in the ANSI code page on Windows; the window
// shows UTF-8.
std::string reasonOf(const std::error_code& ec) {
  std::string text = ec.message();
  if (tool::utf8ToCp1252(text).malformed) text = tool::cp1252ToUtf8(text);
  return text;
}

// A name beside the target that nothing has yet: "Kantiq.ini.1.tmp".
fs::path freeNameBeside(const fs::path& target, const char* suffix) {
  std::error_code ec;
  for (int n = 1;; ++n) {
    fs::path candidate = target;
    candidate += "." + std::to_string(n) + suffix;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
}

// One file of the set on its way: where its new content waits, where its
// old file went.
struct Slot {
  const FileReplacement* file = nullptr;
  fs::path target;
  fs::path temporary;
  fs::path aside;     // empty: there was no old file, or it is not moved yet
  bool movedIn = false;
};

std::error_code writeTemporary(const fs::path& path, const std::string& content) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return std::error_code(errno ? errno : EIO, std::generic_category());
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.flush();
  if (!out) return std::error_code(errno ? errno : EIO, std::generic_category());
  out.close();
  if (out.fail()) return std::error_code(errno ? errno : EIO, std::generic_category());
  return {};
}

// The set's state on the disk: the temporary files are removed whatever
// happens, and until the set is done the old files go back on failure.
class FileSetChange {
 public:
  explicit FileSetChange(std::vector<Slot>& slots) : slots_(slots) {}
  FileSetChange(const FileSetChange&) = delete;
  FileSetChange& operator=(const FileSetChange&) = delete;
  ~FileSetChange() {
    std::error_code ec;
    for (Slot& slot : slots_) {
      if (!slot.temporary.empty() && !slot.movedIn) fs::remove(slot.temporary, ec);
    }
  }

  // Undoes the moves in the opposite order. The pairs not restored are returned.
  std::vector<std::pair<std::string, std::string>> putBack() {
    std::vector<std::pair<std::string, std::string>> notRestored;
    for (auto slot = slots_.rbegin(); slot != slots_.rend(); ++slot) {
      std::error_code ec;
      if (slot->movedIn) {
        fs::remove(slot->target, ec);
        slot->movedIn = false;
        slot->temporary.clear();
      }
      if (!slot->aside.empty()) {
        fs::rename(slot->aside, slot->target, ec);
        if (ec) notRestored.emplace_back(nameOf(slot->target), nameOf(slot->aside));
        slot->aside.clear();
      }
    }
    return notRestored;
  }

  // The set is in place: the old files go.
  void dropOldFiles() {
    for (Slot& slot : slots_) {
      std::error_code ec;
      if (!slot.aside.empty()) fs::remove(slot.aside, ec);
    }
  }

 private:
  std::vector<Slot>& slots_;
};

}  // namespace

std::string describe(const FileSetFailure& failure) {
  const char* step = "";
  switch (failure.step) {
    case FileSetStep::Check: step = "Die alte Datei kann nicht ersetzt werden"; break;
    case FileSetStep::WriteNew: step = "Die neue Datei kann neben der alten nicht geschrieben werden"; break;
    case FileSetStep::MoveAside: step = "Die alte Datei kann nicht beiseitegelegt werden"; break;
    case FileSetStep::MoveIn: step = "Die neue Datei kann nicht an ihren Platz gelegt werden"; break;
  }
  std::string text = failure.file + ": " + step + ": " + failure.reason + ".";
  if (failure.notRestored.empty()) {
    text += " Keine Datei wurde geändert.";
  } else {
    for (const auto& [target, now] : failure.notRestored) {
      text += " Achtung: Die alte Datei " + target + " konnte nicht zurückgelegt werden; sie liegt jetzt als " + now +
              " im Ordner.";
    }
  }
  return text;
}

FileSetResult replaceFileSet(const fs::path& folder, const std::vector<FileReplacement>& files,
                             const FileSetFault& fault) {
  FileSetResult result;
  std::vector<Slot> slots;
  std::error_code ec;
  const auto fail = [&](const fs::path& target, FileSetStep step, std::string reason) {
    result.failure = FileSetFailure{nameOf(target), step, std::move(reason), {}};
    result.written.clear();
    return result;
  };

  // What is to be written, and whether each old file can be replaced,
  // before anything is touched.
  for (const FileReplacement& file : files) {
    const fs::path target = folder / pathOf(file.name);
    const fs::file_status status = fs::symlink_status(target, ec);
    const bool present = fs::exists(status);
    if (file.onlyIfMissing && present) continue;
    if (present) {
      if (!fs::is_regular_file(status)) return fail(target, FileSetStep::Check, "Das ist keine gewöhnliche Datei");
      // Windows' read-only attribute shows as a file nobody may write.
      if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        return fail(target, FileSetStep::Check, "Die Datei ist schreibgeschützt");
      }
    }
    slots.push_back(Slot{&file, target, {}, {}, false});
  }
  FileSetChange change(slots);

  for (Slot& slot : slots) {
    slot.temporary = freeNameBeside(slot.target, ".tmp");
    if (const std::error_code error = writeTemporary(slot.temporary, slot.file->content)) {
      return fail(slot.target, FileSetStep::WriteNew, reasonOf(error));
    }
  }

  const auto move = [&](FileSetStep step, const Slot& slot, const fs::path& from, const fs::path& to) {
    std::error_code error = fault ? fault(step, nameOf(slot.target)) : std::error_code();
    if (!error) fs::rename(from, to, error);
    return error;
  };
  for (Slot& slot : slots) {
    if (fs::exists(fs::symlink_status(slot.target, ec))) {
      const fs::path aside = freeNameBeside(slot.target, ".alt");
      if (const std::error_code error = move(FileSetStep::MoveAside, slot, slot.target, aside)) {
        const std::string reason = reasonOf(error);
        const auto notRestored = change.putBack();
        fail(slot.target, FileSetStep::MoveAside, reason);
        result.failure->notRestored = notRestored;
        return result;
      }
      slot.aside = aside;
    }
    if (const std::error_code error = move(FileSetStep::MoveIn, slot, slot.temporary, slot.target)) {
      const std::string reason = reasonOf(error);
      const auto notRestored = change.putBack();
      fail(slot.target, FileSetStep::MoveIn, reason);
      result.failure->notRestored = notRestored;
      return result;
    }
    slot.movedIn = true;
  }
  change.dropOldFiles();
  for (const Slot& slot : slots) result.written.push_back(slot.file->name);
  return result;
}

}  // namespace kantiq::setup
