#pragma once

#include <map>
#include <string>

namespace kel {

/// String values under the current user's settings. A full path such as
/// "SOFTWARE\Arkwend\Ponderix\CommPort" names key and value, split at the
/// last backslash. On Windows this is HKEY_CURRENT_USER; on POSIX each value
/// is a text file under $XDG_CONFIG_HOME (default $HOME/.config; for root
/// either only when it lies in root's own folders), with the
/// leading "SOFTWARE" left out: ~/.config/Arkwend/Ponderix/CommPort.
class Registry {
 public:
  virtual ~Registry() = default;
  /// The string, or empty when missing, unreadable or not a string.
  virtual std::string ReadString(const std::string& fullPath) = 0;
  /// Sets the value; an empty value deletes it. Failures are silent.
  virtual void WriteString(const std::string& fullPath, const std::string& value) = 0;
};

Registry& SystemRegistry();

/// In-memory registry for tests.
class MapRegistry : public Registry {
 public:
  std::string ReadString(const std::string& fullPath) override {
    auto it = values_.find(fullPath);
    return it == values_.end() ? std::string() : it->second;
  }
  void WriteString(const std::string& fullPath, const std::string& value) override {
    if (value.empty()) values_.erase(fullPath); else values_[fullPath] = value;
  }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace kel
