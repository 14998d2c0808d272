#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/files.h"
#include "platform/signals.h"
#include "platform/system_error.h"
#include "platform/wildcard_match.h"

namespace kel {

namespace {

PathKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::kRegular;
  if (S_ISDIR(mode)) return PathKind::kFolder;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return PathKind::kDevice;
  if (S_ISFIFO(mode)) return PathKind::kFifo;
  if (S_ISSOCK(mode)) return PathKind::kSocket;
  return PathKind::kOther;
}

FileRead Failed(int err) {
  FileRead result;
  result.outcome = ReadOutcome::kFailed;
  result.systemText = SystemErrorText(static_cast<unsigned long>(err));
  return result;
}

FileRead NotRegular(PathKind kind) {
  FileRead result;
  result.outcome = ReadOutcome::kNotRegular;
  result.kind = kind;
  return result;
}

bool WriteAll(int fd, const std::string& content) {
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

char PathSeparator() { return '/'; }

FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content,
                         bool followLinks) {
  content.clear();
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return Failed(errno);
    FileRead missing;
    missing.outcome = ReadOutcome::kMissing;
    missing.kind = PathKind::kMissing;
    return missing;
  }
  if (S_ISLNK(info.st_mode) && !followLinks) return NotRegular(PathKind::kLink);
  if (S_ISLNK(info.st_mode) && stat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? NotRegular(PathKind::kBrokenLink) : Failed(errno);
  }
  // Judged before opening: opening a terminal or a FIFO can block, and
  // opening a serial device can already change its lines.
  if (!S_ISREG(info.st_mode)) return NotRegular(KindOf(info.st_mode));
  // A link swapped in since is not followed when links are refused.
  const int fd = open(
      path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) return errno == ELOOP ? NotRegular(PathKind::kLink) : Failed(errno);
  // What stands at the path may have been swapped since; the open file decides.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const PathKind kind = KindOf(info.st_mode);
    close(fd);
    return NotRegular(kind);
  }
  FileRead result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = Failed(errno);
      break;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > limit) {
      result.outcome = ReadOutcome::kTooLarge;
      content.clear();
      break;
    }
  }
  close(fd);
  return result;
}

PathKind KindAtPath(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return PathKind::kMissing;
  return S_ISLNK(info.st_mode) ? PathKind::kLink : KindOf(info.st_mode);
}

bool IsCharacterDevice(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::string ResolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool CreateFreshFile(const std::string& path, const std::string& content, const std::string& like,
                     std::string& error) {
  // A leftover of an earlier run of this user may go; a link, a device, a
  // folder or another user's file stays, and the exclusive create below
  // then fails instead of writing through it.
  struct stat old;
  if (lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == geteuid()) {
    unlink(path.c_str());
  }
  struct stat model;
  const bool haveModel = !like.empty() && stat(like.c_str(), &model) == 0 && S_ISREG(model.st_mode);
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC,
                      haveModel ? 0600 : 0666);
  if (fd < 0) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return false;
  }
  if (haveModel) {
    // Owner and group first: a change of owner clears the set-id bits. An
    // ordinary user may only hand the file to a group of theirs.
    if (fchown(fd, model.st_uid, model.st_gid) != 0) {
      const int ignored = fchown(fd, static_cast<uid_t>(-1), model.st_gid);
      (void)ignored;
    }
    fchmod(fd, model.st_mode & 07777);
  }
  bool ok = WriteAll(fd, content);
  if (!ok) error = SystemErrorText(static_cast<unsigned long>(errno));
  if (close(fd) != 0 && ok) {
    ok = false;
    error = SystemErrorText(static_cast<unsigned long>(errno));
  }
  if (!ok) unlink(path.c_str());
  return ok;
}

bool OverwriteRegularFile(const std::string& path, const std::string& content, std::string& error) {
  // O_NOFOLLOW refuses a link, O_NONBLOCK keeps a FIFO from holding up the
  // open; what was opened is checked before anything is cut.
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) {
    error = "not a regular file";
  } else if (ftruncate(fd, 0) != 0 || !WriteAll(fd, content)) {
    ok = false;
    error = SystemErrorText(static_cast<unsigned long>(errno));
  }
  close(fd);
  return ok;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(buffer.find('\0'));
  return buffer;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  // Each prefix that ends before a separator is a parent to create first.
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string parent = path.substr(0, at);
    if (mkdir(parent.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return FolderExists(path);
}

bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<FolderEntry>& entries) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  // The pattern is matched here rather than by fnmatch, so that '*' also
  // takes leading dots and both platforms list the same names.
  while (struct dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(pattern, name, true)) continue;
    FolderEntry entry;
    entry.name = name;
    struct stat info;
    entry.isFolder = fstatat(dirfd(dir), item->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    entry.isHidden = name[0] == '.';
    entries.push_back(entry);
  }
  closedir(dir);
  return true;
}

int CreateExclusiveFile(const std::string& path) {
  return open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
}

std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error,
                                   bool ownerOnly) {
  nameTaken = false;
  // O_EXCL never follows a link at the path, and never opens what is there.
  const mode_t mode = ownerOnly ? 0600 : 0666;
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) {
    nameTaken = errno == EEXIST;
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return nullptr;
  }
  // The umask may only take permissions away; an odd one (0277) would leave
  // the owner unable to write the file, so the mode is set as asked.
  std::FILE* file = !ownerOnly || fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                      const std::string& suffix, std::string& path, std::string& error) {
  std::string name = folder;
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix + "XXXXXX" + suffix;
  // mkostemps draws the six characters at random and creates the file with
  // O_EXCL and mode 0600, trying other names while one is taken; a link
  // planted at a name counts as taken and is never followed.
  const int fd = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return false;
  }
  close(fd);
  path = name;
  return true;
}

std::string UserTempFolder(Environment& env) {
  const std::string tmpdir = env.Get("TMPDIR");
  return tmpdir.empty() ? std::string("/tmp") : tmpdir;
}

AppendOutcome AppendUnderLock(const std::string& path, const std::string& header,
                              const std::string& text, std::string& error) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return AppendOutcome::kNotRegular;
  // O_NOFOLLOW refuses a link planted after the check, O_NONBLOCK keeps a
  // FIFO planted there from holding up the open; what was opened is checked
  // again before anything is written.
  const int fd = open(path.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == ELOOP) return AppendOutcome::kNotRegular;
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return AppendOutcome::kFailed;
  }
  AppendOutcome outcome = AppendOutcome::kAppended;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file, however long
  // The lock is asked for without waiting, for a bounded time: another
  // program that holds it (a spreadsheet with the file open) must neither
  // hold up the run nor keep a stop from ending it.
  int locked = -1;
  for (int tries = 0; tries < kAppendLockTries; ++tries) {
    locked = fcntl(fd, F_SETLK, &lock);
    if (locked == 0 || (errno != EACCES && errno != EAGAIN && errno != EINTR)) break;
    ExitIfStopRequested();
    usleep(kAppendLockPauseMs * 1000);
  }
  if (locked != 0 && (errno == EACCES || errno == EAGAIN || errno == EINTR)) {
    close(fd);
    error = kAppendLockedText;
    return AppendOutcome::kFailed;
  }
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    outcome = AppendOutcome::kNotRegular;
  } else if (locked != 0) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    outcome = AppendOutcome::kFailed;
  } else if (!WriteAll(fd, info.st_size == 0 ? header + text : text)) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    outcome = AppendOutcome::kFailed;
    // A write cut short (a full disk) leaves part of a row, which the next
    // row would be glued to: the file goes back to where this one began,
    // still under the lock.
    const int ignored = ftruncate(fd, info.st_size);
    (void)ignored;
  }
  close(fd);  // closing releases the lock
  return outcome;
}

void CloseExclusiveFile(int handle) {
  if (handle >= 0) close(handle);
}

bool DeleteFileAt(const std::string& path) { return unlink(path.c_str()) == 0; }

bool MakeWritable(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  return chmod(path.c_str(), (info.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool RegularFileUntouchedFor(const std::string& path, int64_t seconds) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return static_cast<int64_t>(time(nullptr)) - static_cast<int64_t>(info.st_mtime) >= seconds;
}

bool IsPrivateFile(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace kel
