#pragma once

#include <string>

#include "platform/registry.h"

namespace kel {

/// Registry values kept as small text files under a base folder: the POSIX
/// stand-in for the current user's registry. "SOFTWARE\Arkwend\Ponderix\CommPort"
/// is the file <base>/Arkwend/Ponderix/CommPort holding just the string.
class FileRegistry : public Registry {
 public:
  /// `baseFolder` empty means no place to keep values: reads are empty and
  /// writes are dropped.
  explicit FileRegistry(std::string baseFolder) : base_(std::move(baseFolder)) {}

  std::string ReadString(const std::string& fullPath) override;
  void WriteString(const std::string& fullPath, const std::string& value) override;

  /// The file that holds `fullPath`, or empty when the path names nothing
  /// usable (no value name, or only "." and ".." parts).
  std::string ValueFile(const std::string& fullPath) const;

 private:
  std::string base_;
};

/// The longest string a value holds, as the registry read buffer allows.
inline constexpr size_t kRegistryValueMax = 256;

}  // namespace kel
