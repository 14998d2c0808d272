#pragma once

// The kinds of thing a user or an attacker can put at a path the program
// opens, and a snapshot of what stands there, for the file-safety tests
// (POSIX only).

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "tests/platform_test_support.h"

namespace kel {

enum class Planted {
  kNothing,
  kRegular,        ///< a file of this user holding "original"
  kLinkToRegular,  ///< a link to the victim file
  kLinkToDevice,   ///< a link to /dev/null
  kDeviceNode,     ///< a device node of its own (needs root)
  kFifo,           ///< a named pipe: opening or reading it would block
  kFolder,
  kEndlessDevice,   ///< a link to /dev/zero: reading it never ends
  kOtherUsersFile,  ///< a regular file of the user nobody (needs root)
};

inline const char* PlantedName(Planted kind) {
  switch (kind) {
    case Planted::kNothing:
      return "nothing";
    case Planted::kRegular:
      return "regular file";
    case Planted::kLinkToRegular:
      return "link to a regular file";
    case Planted::kLinkToDevice:
      return "link to a device";
    case Planted::kDeviceNode:
      return "device node";
    case Planted::kFifo:
      return "FIFO";
    case Planted::kFolder:
      return "folder";
    case Planted::kEndlessDevice:
      return "link to an endless device";
    case Planted::kOtherUsersFile:
      return "another user's file";
  }
  return "?";
}

/// Puts `kind` at `path`; links point at `victim`, a regular file created
/// here holding "victim". False when this process may not make that kind
/// (a device node or another user's file needs root).
inline bool Plant(Planted kind, const std::string& path, const std::string& victim) {
  WriteTextFile(victim, "victim");
  switch (kind) {
    case Planted::kNothing:
      return true;
    case Planted::kRegular:
      return WriteTextFile(path, "original");
    case Planted::kLinkToRegular:
      return symlink(victim.c_str(), path.c_str()) == 0;
    case Planted::kLinkToDevice:
      return symlink("/dev/null", path.c_str()) == 0;
    case Planted::kDeviceNode:
      return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    case Planted::kFifo:
      return mkfifo(path.c_str(), 0666) == 0;
    case Planted::kFolder:
      return mkdir(path.c_str(), 0777) == 0;
    case Planted::kEndlessDevice:
      return symlink("/dev/zero", path.c_str()) == 0;
    case Planted::kOtherUsersFile: {
      const passwd* nobody = getpwnam("nobody");
      return geteuid() == 0 && nobody != nullptr && WriteTextFile(path, "original") &&
             chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
    }
  }
  return false;
}

/// What stands at `path`, without following it: its kind, a link's target,
/// a regular file's content, owner and mode; and the victim's content.
inline std::string Snapshot(const std::string& path, const std::string& victim) {
  std::string seen;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    seen = "nothing";
  } else if (S_ISLNK(info.st_mode)) {
    char target[PATH_MAX] = {};
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    seen = "link to " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
  } else if (S_ISREG(info.st_mode)) {
    seen = "file of " + std::to_string(info.st_uid) + " mode " +
           std::to_string(info.st_mode & 07777) + ": " + ReadTextFile(path);
  } else {
    seen = S_ISDIR(info.st_mode)    ? "folder"
           : S_ISFIFO(info.st_mode) ? "FIFO"
           : S_ISCHR(info.st_mode)  ? "device"
                                    : "other";
  }
  return seen + " | victim: " + ReadTextFile(victim);
}

}  // namespace kel
