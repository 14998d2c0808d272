#include "platform/posix/own_folder_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "platform/files.h"

namespace kel {

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NearestExisting(std::string path) {
  struct stat at {};
  while (path.size() > 1 && lstat(path.c_str(), &at) != 0) path = ParentFolder(path);
  return path;
}

bool IsOwnFolder(const std::string& path) {
  struct stat at {};
  if (lstat(path.c_str(), &at) != 0) return false;
  if (at.st_uid != geteuid()) return false;
  if (S_ISDIR(at.st_mode)) return true;
  if (!S_ISLNK(at.st_mode)) return false;
  struct stat target {};
  return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && target.st_uid == geteuid();
}

std::string PasswordFileHome(uid_t uid) {
  std::string content;
  if (ReadRegularFile("/etc/passwd", 4u << 20, content).outcome != ReadOutcome::kRead) return "";
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    // name:password:uid:gid:comment:home:shell
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, ':')) fields.push_back(field);
    if (fields.size() < 6 || fields[2] != std::to_string(uid)) continue;
    return !fields[5].empty() && fields[5][0] == '/' ? fields[5] : "";
  }
  return "";
}

std::string OwnHome(Environment& env) {
  const std::string home = env.Get("HOME");
  if (!home.empty() && home[0] == '/' && IsOwnFolder(home)) return home;
  return PasswordFileHome(geteuid());
}

}  // namespace kel
