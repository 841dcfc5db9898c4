#include "tool_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace kantiq::tool {

namespace fs = std::filesystem;

namespace {

// An open file descriptor, closed when the owner goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (a deferred write
  // error of some file systems only shows up here).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A temporary file that is removed unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  fs::path path_;
};

FileFailure failure(std::string step, int error) {
  return {std::move(step), error, std::strerror(error)};
}

bool writeAll(int fd, std::span<const uint8_t> bytes, int& error) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

fs::path pathFromUtf8(const std::string& utf8) { return fs::path(utf8); }

std::string utf8FromPath(const fs::path& path) { return path.string(); }

fs::path programFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

void prepareConsole() {}

void waitForKey() {
  // A terminal delivers the key with the line; a pipe with its first byte.
  (void)std::getchar();
}

std::optional<FileFailure> replaceFile(const fs::path& target, std::span<const uint8_t> bytes) {
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  // A name of its own, so that neither a second writer nor a temporary file
  // left behind by a crash is ever overwritten or taken for ours.
  FileDescriptor fd;
  fs::path temporaryPath;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temporaryPath = folder / (target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                              std::to_string(attempt) + ".tmp");
    fd = FileDescriptor(::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.valid() && errno != EEXIST) {
      return failure("Die neue Datei kann neben der alten nicht angelegt werden", errno);
    }
  }
  if (!fd.valid()) return failure("Die neue Datei kann neben der alten nicht angelegt werden", EEXIST);
  TemporaryFile temporary(temporaryPath);

  // The new file keeps the old one's permissions.
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    (void)::fchmod(fd.get(), old.st_mode & 07777);
  }
  int error = 0;
  if (!writeAll(fd.get(), bytes, error)) return failure("Die neue Datei kann nicht geschrieben werden", error);
  if (::fsync(fd.get()) != 0) return failure("Die neue Datei kann nicht auf den Datenträger geschrieben werden", errno);
  if (!fd.close()) return failure("Die neue Datei kann nicht geschrieben werden", errno);
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
    return failure("Die alte Datei kann nicht ersetzt werden", errno);
  }
  temporary.keep();
  // Make the rename itself durable. The file is replaced either way, so a
  // folder that cannot be synced is no failure of the replacement.
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) (void)::fsync(dir.get());
  return std::nullopt;
}

// No sound system is asked here: the inputs are Windows'.
std::vector<std::string> soundInputNames() { return {}; }

}  // namespace kantiq::tool
