#include <string>

#include "platform/environment.h"
#include "platform/file_registry.h"
#include "platform/posix/own_folder_posix.h"

namespace kel {
namespace {

// The effective user's XDG settings folder: $XDG_CONFIG_HOME when it is an
// absolute path (relative ones are invalid by that convention) within a
// folder of the user's own, else .config in the user's own home. Settings
// never go into another user's folders (root under sudo keeping the
// caller's environment), where they would be left owned by root and the
// user's own runs could no longer replace or remove them.
std::string SettingsFolder() {
  Environment& env = SystemEnvironment();
  const std::string config = env.Get("XDG_CONFIG_HOME");
  if (!config.empty() && config[0] == '/' && IsOwnFolder(NearestExisting(config))) return config;
  const std::string home = OwnHome(env);
  return home.empty() ? std::string() : home + "/.config";
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
