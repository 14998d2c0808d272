#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  const size_t slash = besidePath.find_last_of('/');
  if (slash == std::string::npos) return CanWriteIn(".");
  return CanWriteIn(slash == 0 ? "/" : besidePath.substr(0, slash));
}

// A folder of this user's own at `path`: a real folder owned by this
// user, or a link owned by this user to such a folder. Anything else (a
// link or folder someone else put there in a shared place) is refused,
// so that records never go where another user led them.
bool IsOwnFolder(const std::string& path) {
  struct stat at {};
  if (lstat(path.c_str(), &at) != 0) return false;
  if (at.st_uid != geteuid()) return false;
  if (S_ISDIR(at.st_mode)) return true;
  if (!S_ISLNK(at.st_mode)) return false;
  struct stat target {};
  return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && target.st_uid == geteuid();
}

// Creates the missing folders of `path`, each private to the user (the
// XDG convention for the folders it names), and checks that the last one
// is the user's own.
bool MakePrivateFolder(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    if (mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsOwnFolder(path);
}

}  // namespace

std::string RecordFolder(const std::string& besidePath, const std::string& programName,
                         Environment& env) {
  const std::string chosen =
      ChooseRecordFolder(besidePath, BesideWritable(besidePath), programName, env);
  if (chosen == besidePath) return chosen;
  // The user's folder must be usable before anything is put into it; when
  // it is not, the run meets the folder beside the program, as before.
  if (!MakePrivateFolder(UserStateFolder(programName, env))) return besidePath;
  return chosen;
}

}  // namespace kel
