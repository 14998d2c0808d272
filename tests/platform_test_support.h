#pragma once

#include <string>
#include <vector>

namespace kel {

/// The arguments this process was started with, as its C runtime split
/// them, the program name first.
std::vector<std::string> OwnArguments();

/// Sets (or, with a null value, removes) a variable of this process's
/// environment, so that a child started afterwards inherits it.
void SetProcessEnvironment(const char* name, const char* value);

/// A fresh empty folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return path_; }
  /// path() + separator + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

/// Writes `text` to `path`, replacing it; true on success.
bool WriteTextFile(const std::string& path, const std::string& text);
/// The whole content of `path`, or empty when it cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace kel
