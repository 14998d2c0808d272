#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/system_error.h"
#include "platform/wildcard_match.h"

namespace kel {

char PathSeparator() { return '/'; }

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

std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error) {
  nameTaken = false;
  // O_EXCL never follows a link at the path, and never opens what is there.
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    nameTaken = errno == EEXIST;
    error = SystemErrorText(static_cast<unsigned long>(errno));
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = SystemErrorText(static_cast<unsigned long>(errno));
    close(fd);
    unlink(path.c_str());
  }
  return file;
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

}  // namespace kel
