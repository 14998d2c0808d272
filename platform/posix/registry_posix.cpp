#include <unistd.h>

#include <string>

#include "platform/environment.h"
#include "platform/file_registry.h"
#include "platform/posix/own_folder_posix.h"

namespace kel {
namespace {

// The XDG settings folder: $XDG_CONFIG_HOME when it is an absolute path
// (relative ones are invalid by that convention), else $HOME/.config. For
// root, either counts only within a folder of root's own, else root's own
// home is used: root under sudo -E keeps the caller's environment, and
// would leave root's files among the caller's settings, which the caller's
// own runs could then neither replace nor remove. Any other user's files
// are the user's own wherever the environment leads.
std::string SettingsFolder() {
  Environment& env = SystemEnvironment();
  const bool root = geteuid() == 0;
  const std::string config = env.Get("XDG_CONFIG_HOME");
  if (!config.empty() && config[0] == '/' && (!root || IsOwnFolder(NearestExisting(config)))) {
    return config;
  }
  std::string home = env.Get("HOME");
  if (root) home = OwnHome(env);
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
