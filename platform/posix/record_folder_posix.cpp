#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/posix/own_folder_posix.h"
#include "platform/record_folder.h"

namespace kel {

namespace {

// Whether this user may make and write files in the folder at `path`.
bool CanWriteIn(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
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
std::vector<MapEnvironment> OwnFolders(Environment& env) {
  const std::string home = OwnHome(env);
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
