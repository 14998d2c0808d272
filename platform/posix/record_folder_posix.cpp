#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/record_folder.h"

namespace kel {

namespace {

// Whether this user may make and write files in the folder at `path`.
bool CanWriteIn(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether the user can keep the record folder `besidePath` where it is:
// a folder standing there must be writable, else the program's folder
// must be, to create it (or to fail there as before, when something else
// stands at the name).
bool BesideWritable(const std::string& besidePath) {
  struct stat info {};
  if (stat(besidePath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return CanWriteIn(besidePath);
  return CanWriteIn(ParentFolder(besidePath));
}

// A folder of this user's own at `path`: a real folder owned by this
// user, or a link owned by this user to such a folder. Anything else (a
// link or folder someone else put there in a shared place, or another
// user's home reached through a kept HOME under sudo) is refused, so that
// records never go where another user led them.
bool IsOwnFolder(const std::string& path) {
  struct stat at {};
  if (lstat(path.c_str(), &at) != 0) return false;
  if (at.st_uid != geteuid()) return false;
  if (S_ISDIR(at.st_mode)) return true;
  if (!S_ISLNK(at.st_mode)) return false;
  struct stat target {};
  return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && target.st_uid == geteuid();
}

bool Exists(const std::string& path) {
  struct stat at {};
  return lstat(path.c_str(), &at) == 0;
}

// The nearest part of the absolute `path` that exists ("/" at the least).
std::string NearestExisting(std::string path) {
  while (path.size() > 1 && !Exists(path)) path = ParentFolder(path);
  return path;
}

// Creates the missing folders of the absolute `path`, each private to the
// user (the XDG convention for the folders it names), but only below a
// folder the user already owns: nothing is ever made in another user's
// home or in a shared folder. True when `path` is then the user's own.
bool MakePrivateFolder(const std::string& path) {
  const std::string existing = NearestExisting(path);
  if (!IsOwnFolder(existing)) return false;
  for (size_t at = path.find('/', existing.size() + 1); at != std::string::npos;
       at = path.find('/', at + 1)) {
    if (mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsOwnFolder(path);
}

// The environments to look for the user's state folder in, best first:
// XDG_STATE_HOME when it lies in a folder of the user's, then the home.
// A HOME that is unset, relative or not the user's own folder (root under
// sudo keeping the caller's HOME) gives way to the home of the user's
// password entry.
// The home folder of user `uid` in the local password file, or empty. The
// program is linked statically, where the C library's own lookup would
// need the system's shared name-service libraries at run time; local
// accounts are all it needs (others have HOME set by their login). The
// file is read as untrusted: a regular file, at most 4 MiB.
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

std::vector<MapEnvironment> OwnFolders(Environment& env) {
  std::string home = env.Get("HOME");
  if (home.empty() || home[0] != '/' || !IsOwnFolder(home)) home = PasswordFileHome(geteuid());
  std::vector<MapEnvironment> found;
  const std::string state = env.Get("XDG_STATE_HOME");
  if (!state.empty() && state[0] == '/' && IsOwnFolder(NearestExisting(state))) {
    found.push_back(MapEnvironment({{"XDG_STATE_HOME", state}}));
  }
  if (!home.empty()) found.push_back(MapEnvironment({{"HOME", home}}));
  return found;
}

}  // namespace

std::string RecordFolder(const std::string& besidePath, const std::string& programName,
                         Environment& env) {
  const bool besideWritable = BesideWritable(besidePath);
  for (MapEnvironment& own : OwnFolders(env)) {
    const std::string chosen = ChooseRecordFolder(besidePath, besideWritable, programName, own);
    if (chosen == besidePath) return chosen;
    // The user's folder must be usable before anything is put into it.
    if (MakePrivateFolder(UserStateFolder(programName, own))) return chosen;
  }
  // No folder of the user's: the run meets the folder beside the program
  // and fails there with its cause (a user without a home, /nonexistent).
  return besidePath;
}

}  // namespace kel
