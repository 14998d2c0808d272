#include "platform/record_folder.h"

namespace kel {

namespace {

// The folder part and the name part of a POSIX path; the folder of
// "/LogFiles" is "/".
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// An absolute path without trailing slashes ("/" stays), so that names
// joined to it never meet a "//"; empty for a relative or empty one.
std::string AbsoluteFolder(std::string path) {
  if (path.empty() || path[0] != '/') return {};
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string JoinTo(const std::string& folder, const std::string& name) {
  return folder == "/" ? folder + name : folder + "/" + name;
}

}  // namespace

std::string UserStateFolder(const std::string& programName, Environment& env) {
  // Relative values are invalid by the XDG convention and are ignored.
  const std::string state = AbsoluteFolder(env.Get("XDG_STATE_HOME"));
  if (!state.empty()) return JoinTo(state, programName);
  const std::string home = AbsoluteFolder(env.Get("HOME"));
  if (!home.empty()) return JoinTo(home, ".local/state/" + programName);
  return {};
}

bool IsSystemCommandFolder(const std::string& folder) {
  static const char* const kCommandFolders[] = {"/bin",       "/sbin",           "/usr/bin",
                                                "/usr/sbin",  "/usr/local/bin",  "/usr/local/sbin",
                                                "/usr/games", "/usr/local/games"};
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (const char* system : kCommandFolders) {
    if (path == system) return true;
  }
  return false;
}

std::string ChooseRecordFolder(const std::string& besidePath, bool besideWritable,
                               const std::string& programName, Environment& env) {
  if (besideWritable && !IsSystemCommandFolder(FolderOf(besidePath))) return besidePath;
  const std::string user = UserStateFolder(programName, env);
  if (user.empty()) return besidePath;
  return user + "/" + NameOf(besidePath);
}

std::string ChooseWindowsRecordFolder(const std::string& besidePath, bool besideWritable,
                                      const std::string& programName, Environment& env) {
  if (besideWritable) return besidePath;
  std::string local = env.Get("LOCALAPPDATA");
  // Absolute: a drive and a separator (C:\Users) or a share (\\host\share).
  const bool absolute =
      (local.size() >= 3 && local[1] == ':' && (local[2] == '\\' || local[2] == '/')) ||
      (local.size() >= 2 && local[0] == '\\' && local[1] == '\\');
  if (!absolute) return besidePath;
  while (local.size() > 3 && (local.back() == '\\' || local.back() == '/')) local.pop_back();
  if (local.back() != '\\' && local.back() != '/') local += '\\';
  const size_t cut = besidePath.find_last_of("\\/");
  const std::string name = cut == std::string::npos ? besidePath : besidePath.substr(cut + 1);
  return local + programName + "\\" + name;
}

}  // namespace kel
