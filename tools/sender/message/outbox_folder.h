#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kantiq::sender {

// The outbox folder beside S.exe. Every write replaces a file as a whole:
// written to a temporary file, flushed to disk, then renamed into place.
class OutboxFolder {
 public:
  virtual ~OutboxFolder() = default;
  // Makes the folder if needed; false with a German reason.
  virtual bool prepare(std::string& reason) = 0;
  virtual std::vector<std::string> names() = 0;  // every file in it, sorted by name
  virtual bool read(const std::string& name, std::string& bytes) = 0;
  virtual bool write(const std::string& name, std::string_view bytes) = 0;
  virtual bool remove(const std::string& name) = 0;
  // One step; false if `from` is gone (another run took it) or `to` exists.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  // Whether the run of that id is still going (it holds a mark only a
  // living process can hold).
  virtual bool runAlive(std::string_view runId) = 0;
};

}  // namespace kantiq::sender
