#include <cstdlib>

#include "platform/file_registry.h"

namespace kel {
namespace {

// The XDG settings folder: $XDG_CONFIG_HOME when it is an absolute path
// (relative ones are invalid by that convention), else $HOME/.config.
std::string SettingsFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
  return {};
}

// Looks the folder up on every call, so a changed environment is honoured.
class XdgRegistry : public Registry {
 public:
  std::string ReadString(const std::string& fullPath) override {
    return FileRegistry(SettingsFolder()).ReadString(fullPath);
  }
  void WriteString(const std::string& fullPath, const std::string& value) override {
    FileRegistry(SettingsFolder()).WriteString(fullPath, value);
  }
};

}  // namespace

Registry& SystemRegistry() {
  static XdgRegistry registry;
  return registry;
}

}  // namespace kel
